#pragma once
// XDG desktops (Linux and other freedesktop.org systems) only. How such a desktop names
// the program for a file type: the folders it reads, its desktop entries and their Exec
// lines, and the default application of a MIME type, resolved as `xdg-mime query
// default` resolves it. Plain C++ with no toolkit: the Qt viewer launches what this
// finds, and the association (xdg_association.h) writes what this reads.

#include <string>
#include <vector>

// The folders of the XDG base directory conventions, each without a trailing '/'.
struct XdgFolders {
  std::string configHome;               // $XDG_CONFIG_HOME, else ~/.config
  std::vector<std::string> configDirs;  // $XDG_CONFIG_DIRS, else /etc/xdg
  std::string dataHome;                 // $XDG_DATA_HOME, else ~/.local/share
  std::vector<std::string> dataDirs;    // $XDG_DATA_DIRS, else /usr/local/share and /usr/share
  std::vector<std::string> desktops;    // $XDG_CURRENT_DESKTOP, lower case, in its order
  std::string menuPrefix;               // $XDG_MENU_PREFIX
};

// From the environment; relative entries are ignored, as the conventions ask.
XdgFolders XdgFoldersFromEnvironment();

// The [Desktop Entry] group of a desktop file: the keys the launch needs, string escapes
// (\s \n \t \r \\) undone, the unlocalised value of each.
struct DesktopEntry {
  std::string path;
  std::string type;
  std::string name;
  std::string exec;
  std::string tryExec;
  std::string icon;
  std::vector<std::string> mimeTypes;
  bool terminal = false;
  bool hidden = false;
  int initialPreference = 0;
};

// False when the file cannot be read or has no [Desktop Entry] group.
bool ReadDesktopEntry(const std::string& path, DesktopEntry* entry);
// The same for a desktop file's text (path is recorded as the entry's).
bool ParseDesktopEntry(const std::string& text, const std::string& path, DesktopEntry* entry);

// The desktop IDs the first line for mimeType in a mimeapps.list text's [Default
// Applications] groups names, in order, blanks left out: the line a desktop reads.
std::vector<std::string> MimeAppsDefaults(const std::string& text, const std::string& mimeType);

// The file of the desktop file ID (for example "vendor-app.desktop") in the applications
// folders, data home first: "vendor-app.desktop" or "vendor/app.desktop". "" when none.
std::string FindDesktopFile(const XdgFolders& folders, const std::string& id);

// Whether a program can be started: an executable file at that path when it holds '/',
// else one found through $PATH.
bool ProgramExists(const std::string& program);
// The executable file ProgramExists finds for program, "" when there is none.
std::string FindProgram(const std::string& program);

// An application a launcher can start: Type=Application, not Hidden, an Exec line that
// can be split, its TryExec (when given) and the program it starts exist (with
// Terminal=true, the terminal and the entry's own program).
bool IsLaunchable(const DesktopEntry& entry);

// The desktop file of the default application for mimeType, "" when there is none. In
// this order, the first launchable one:
// 1. the [Default Applications] entry of mimeapps.list (and DESKTOP-mimeapps.list for
//    each current desktop, before it) in the config home, the config folders, then the
//    applications folders of the data home and data folders; each listed ID in turn;
// 2. the first line for the type in defaults.list or mimeinfo.cache (the desktop
//    database) of the applications folders, data home first, with and without the menu
//    prefix; its first ID;
// 3. the desktop file in those folders that lists the type under MimeType with the
//    highest InitialPreference (the first found of equals).
std::string DefaultApplication(const XdgFolders& folders, const std::string& mimeType);

// The command of Exec for one file: split by its quoting rules (double quotes; \" \` \$
// and \\ inside them), the field codes expanded: %f and %F the file, %u and %U its
// file:// URL, %i "--icon" and Icon, %c Name, %k the desktop file, %% a '%'; other codes
// are dropped. Codes are expanded only outside quotes (inside them only %% is '%'), so a
// file name never becomes part of a quoted (shell) text. When no code takes the file, it is appended. With
// Terminal=true the command runs in x-terminal-emulator. False when the line cannot be
// split (an unclosed quote) or holds no program.
bool LaunchCommand(const DesktopEntry& entry, const std::string& file, std::vector<std::string>* argv);

// The file:// URL of an absolute path, every byte but unreserved ones and '/' escaped.
std::string FileUrl(const std::string& path);
// The path of a local file:// URL (no host, or "localhost"), every %XX undone whatever
// byte it gives (a name need not be UTF-8). False for any other URL, a relative path, a
// malformed escape or an escaped NUL or '/', which no path component holds.
bool PathFromFileUrl(const std::string& url, std::string* path);

// The value of key in group of a desktop-style file's text (string escapes undone, the
// unlocalised value), "" when it has none.
std::string DesktopFileValue(const std::string& text, const std::string& group, const std::string& key);

// text written as a desktop file's string value: \\ \n \t \r escaped, a leading or
// trailing space as \s, so that reading the value back gives text.
std::string DesktopStringValue(const std::string& text);

// argument written for an Exec line in a desktop file: quoted when it holds anything
// but plain characters, '%' doubled, and the result escaped as a desktop file's string
// value, so that reading the line back gives the argument.
std::string ExecArgument(const std::string& argument);

// Reads a whole file; false (errno telling why) when it cannot be read or is no file.
bool ReadTextFile(const std::string& path, std::string* text);
