#pragma once
// XDG desktops only. Records and removes, for the current user, the association of
// containers with the viewer, as "/RegServer" and "/UnRegServer" do on Windows with the
// registry. The same facts are recorded: the extensions (a shared-mime-info package
// giving "*.aqv3" and the category extensions one MIME type), the type's text and icon
// (in the package and the icon theme), and the open command (a desktop entry whose Exec
// line starts the viewer on the files, made the default application for the type in
// mimeapps.list). The MIME and desktop databases are refreshed afterwards with
// update-mime-database and update-desktop-database where they are installed.
//
// Registration also adds the two verbs of association/verbs.h to the file managers'
// menus, in each one's own extension point that needs no code: Dolphin service menus
// (kio/servicemenus, executable as Dolphin asks of a user's own), Nemo actions
// (nemo/actions) and Nautilus scripts (nautilus/scripts, named after the verb and
// shown on any selection; the viewer refuses what is not for it). Each passes every
// selected name to the viewer as exactly one argument, whatever bytes it holds, on
// every version of its file manager: Dolphin quotes what it puts for %F; Nemo is given
// file:// URLs (%U, which escape every byte its line parser would take), each in double
// quotes, that the viewer reads back with --uris; the scripts hand on their arguments.
// Each hides itself once its program is gone: TryExec (desktop entry, service menus),
// Dependencies (Nemo); a script says so instead of running nothing.
//
// A file that a data folder (the package's /usr/share) already provides for this very
// program is not written for the user: Nemo would list both. Removal takes away the
// folders that registration created and no other.

#include <ostream>
#include <string>
#include <vector>

#include "association/xdg_applications.h"

// The names the association uses, here and in the installed files.
inline const char kContainerMimeType[] = "application/x-tarvessin-container";
inline const char kViewerDesktopId[] = "tarvessin-viewer.desktop";
inline const char kViewerIconName[] = "tarvessin-viewer";
inline const char kMimePackageName[] = "tarvessin-viewer.xml";
// What file(1), and so xdg-mime outside a desktop environment, calls the containers.
inline const char kAesEncryptedMimeType[] = "application/x-aes-encrypted";

// What registration writes; the texts are the installed files' own (see resources/linux).
struct XdgRegistration {
  std::string programPath;      // absolute path of the viewer
  std::string mimePackage;      // the shared-mime-info package
  std::string desktopTemplate;  // the desktop entry, "@EXEC@" and "@PROGRAM@" standing for the program
  struct Icon {
    int size;                   // pixels, for icons/hicolor/SIZExSIZE/apps
    std::string png;
  };
  std::vector<Icon> icons;
  // The service menus and Nemo actions: for each path of kFileManagerMenus, in order, its
  // text with "@EXEC@" and "@PROGRAM@" standing for the program (see resources/linux,
  // which mirrors the paths with ".in" added).
  std::vector<std::string> menuTemplates;
  bool englishScriptNames = false;  // the Nautilus scripts' names: the verbs' English texts
};

// The menu files of RegisterXdgFileType, under the data home.
inline const char* const kFileManagerMenus[] = {
    "kio/servicemenus/tarvessin-viewer-encrypt.desktop",
    "kio/servicemenus/tarvessin-viewer-decrypt-here.desktop",
    "nemo/actions/tarvessin-viewer-encrypt.nemo_action",
    "nemo/actions/tarvessin-viewer-decrypt-here.nemo_action",
};
inline const char kNautilusScripts[] = "nautilus/scripts";

// The Nautilus script that starts program on the road of viewerSwitch ("--encrypt") with
// the selected files: the URIs Nautilus sets in $NAUTILUS_SCRIPT_SELECTED_URIS (with
// --uris), which no name can change, else its arguments, relative ones made absolute
// against the folder it runs in. Once the program is gone it says so (a notification,
// else a box, else standard error; in English or Korean) and exits 127. It says in a
// comment that registration wrote it, which is how removal knows it for ours.
std::string NautilusScript(const std::string& programPath, const char* viewerSwitch, bool english);

// The desktop entry for program: the template with "@EXEC@" replaced by the program's
// path as one Exec argument, "@PROGRAM@" by the path as a string value (TryExec).
std::string DesktopEntryFor(const std::string& desktopTemplate, const std::string& programPath);

// Writes the package, the desktop entry, the icons and the menus into the data home, makes the
// entry the default for kContainerMimeType and kAesEncryptedMimeType in the config
// home's mimeapps.list, and refreshes both databases. Registering again writes the same
// files. Every file is written new beside its place and moved there; the user's
// mimeapps.list gains only our lines, keeps its mode, and when it is a symbolic link the
// file it leads to is changed (the link stays). With log, says on it what it does; a
// failure is said there, or on standard error without a log. True when every file was
// written (a mimeapps.list that cannot be read is left alone: false).
bool RegisterXdgFileType(const XdgFolders& folders, const XdgRegistration& registration, std::ostream* log);

// Removes exactly what RegisterXdgFileType writes: its files (a Nautilus script of a
// verb's name only when it is one of ours, in either language), the viewer's ID from the
// mimeapps.list lines of its types (a line that does not name it is left byte for
// byte), the databases' files where nothing is left for them to describe (refreshed
// instead where other entries remain), and the folders registration created, once
// empty; a folder that was there before stays, empty or not. Removing when nothing is registered changes nothing.
// Failures are said as for registration; true when nothing failed.
bool UnregisterXdgFileType(const XdgFolders& folders, std::ostream* log);

// The [Default Applications] line for mimeType in the mimeapps.list text made to name
// desktopId first (set), or no line of those groups left naming it (!set). Only
// desktopId is put in or taken out: the line's other IDs as written, every other line
// and the text's final newline (or its want of one) stay byte for byte, so unsetting
// after setting gives the text back; a group left with nothing but blank lines is
// dropped (with the blank line set before a group added at the end), and a text left
// with no line is "".
std::string EditMimeApps(const std::string& text, const std::string& mimeType, const std::string& desktopId,
                         bool set);
