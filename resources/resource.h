// Identifiers of the viewer's resources; included by the resource script and the code.
#pragma once

#define IDS_ERROR_CAPTION 102   // caption of every error box of a job
// The file manager's verbs, named by the registry's MUIVerb ("@PROGRAM,-ID"), so that the
// shell shows them in the user's language.
#define IDS_ENCRYPT_VERB 103
#define IDS_DECRYPT_HERE_VERB 104
#define IDD_PROGRESS 118        // progress dialog
#define IDI_APPLICATION_ICON 128
#define IDD_PASSWORD 1027       // password prompt
#define IDD_NEW_PASSWORD 1028   // the encryption road's prompt: the password twice

#define IDC_PASSWORD_EDIT 1003
#define IDC_PASSWORD_CONFIRM 1004
#define IDC_PASSWORD_HINT 1005     // what counts of what is typed
#define IDC_PROGRESS_MESSAGE 1011
#define IDC_PROGRESS_BAR 1012
#define IDC_PROGRESS_FILE 1013
