#pragma once
// The viewer run's own box texts, for the run and every front end that shows them (the
// boxes of a job use caption string 102 instead), in Korean: each is shown through Tr.

#include "platform/catalog.h"

inline const char kViewerCaption[] = N_("타르베신 외부암호파일뷰어");
inline const char kNoInputFiles[] = N_("입력 파일이 없습니다.");
inline const char kNoAssociatedProgram[] = N_("연결된 프로그램이 없습니다.");
// The encryption road's: the end box's first line, before each failure and its reason.
inline const char kEncryptionFailures[] = N_("다음 파일은 암호로 만들지 못했습니다.");
// "Decrypt here"'s end box, and the files the double-click road leaves out before it asks
// for the password, each with its reason.
inline const char kDecryptionFailures[] = N_("다음 파일은 풀지 못했습니다.");
inline const char kLeftOut[] = N_("다음 파일은 열 수 없어 빼고 엽니다.");
// What the file manager's roads made, said at their end when everything went well.
inline const char kEncryptedNotice[] = N_("파일 %u개를 암호 파일로 만들었습니다:");
inline const char kDecryptedNotice[] = N_("암호 파일 %u개를 옆에 풀었습니다:");
// The encryption road's prompt, when the two passwords typed differ (it then asks again).
inline const char kPasswordsDiffer[] = N_("두 암호가 서로 다릅니다. 다시 입력하십시오.");

// The view road's questions and notices. Each "%s" is a file's name or a path, in order.
// A type that runs code when opened: the name, then the desktop's name for its type.
inline const char kDangerousType[] =
    N_("「%s」은(는) 열면 프로그램처럼 실행되는 파일(%s)입니다.\r\n\r\n보낸 사람을 알고 이 파일을 "
       "기다리던 때에만 여십시오. 모르는 사람이 보낸 것이라면 열지 마십시오.");
inline const char kOpenAnyway[] = N_("열기(&O)");
inline const char kDoNotOpen[] = N_("열지 않기(&N)");
// The plaintext was changed while it was shown: its name, then the container's path.
inline const char kPlaintextChanged[] =
    N_("「%s」의 내용이 바뀌었습니다. 바뀐 내용을 어떻게 할까요?\r\n\r\n암호 파일: %s");
// A file that a program made in the working folder: its name, then the container's path.
inline const char kFileMadeInWorkingFolder[] =
    N_("작업 폴더에 새 파일 「%s」이(가) 생겼습니다. 이 파일을 어떻게 할까요?\r\n\r\n암호 파일: %s");
inline const char kSaveIntoContainer[] = N_("암호 파일에 저장(&S)");
inline const char kKeepBesideContainer[] = N_("암호 파일 옆에 두기(&K)");
inline const char kDiscardEdit[] = N_("버리기(&D)");
// A file still held by some program after it was shown: its name.
inline const char kStillInUse[] =
    N_("「%s」을(를) 아직 다른 프로그램이 열어 두고 있습니다. 그 프로그램이 파일을 닫으면 지웁니다.");
inline const char kDeleteNow[] = N_("지금 지우기(&D)");
inline const char kKeepWaiting[] = N_("계속 기다리기(&W)");
// The working folder is not a private folder of this user's: its path.
inline const char kWorkingFolderRefused[] =
    N_("작업 폴더를 쓸 수 없습니다: %s\r\n\r\n링크이거나, 다른 사용자의 폴더이거나, 다른 사람도 쓸 수 있는 "
       "폴더입니다. 이 폴더를 지우거나 옮긴 다음 다시 여십시오.");
// What the clean-up at start found and left alone: the folder, then one name a line.
inline const char kLeftInWorkingFolder[] =
    N_("작업 폴더에 이 프로그램이 지우지 않는 파일이 있습니다. 필요한 파일은 다른 곳으로 옮기십시오.\r\n\r\n"
       "작업 폴더: %s\r\n%s");
// Saving back failed (the reason was shown): the file stays; its path.
inline const char kNotSavedBack[] =
    N_("바뀐 내용을 암호 파일에 저장하지 못했습니다. 파일은 그대로 남아 있습니다: %s");
// Keeping beside failed: the file stays in the working folder; its path.
inline const char kNotKeptBeside[] =
    N_("파일을 암호 파일 옆으로 옮기지 못했습니다. 파일은 그대로 남아 있습니다: %s");
