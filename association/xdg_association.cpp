#include "association/xdg_association.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cstring>
#include <cstdlib>
#include <iostream>
#include <iterator>
#include <sstream>

#include "association/verbs.h"
#include "association/xdg_launch.h"

namespace {

// The files update-mime-database makes beside packages/ (and one folder per media type
// holding a file per type).
const char* const kMimeDatabaseFiles[] = {"XMLnamespaces", "aliases", "generic-icons", "globs", "globs2", "icons",
                                          "magic", "mime.cache", "subclasses", "treemagic", "types", "version"};

void Say(std::ostream* log, const std::string& text) {
  if (log) *log << "tarvessin-viewer: " << text << '\n';
}

// text as one word of the shell, single-quoted.
std::string ShellWord(const std::string& text) {
  std::string word = "'";
  for (char c : text) word += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return word + "'";
}

std::string Trim(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return "";
  const size_t last = text.find_last_not_of(" \t\r");
  return text.substr(first, last - first + 1);
}

bool IsDirectory(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool Exists(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0;
}

// The folders a registration created, so that removal takes away those and no other.
using Created = std::vector<std::string>;

// Creates path and its missing parents, each with mode 0700 as the base directory
// conventions ask for folders a program makes; each one made is added to created.
bool MakeFolders(const std::string& path, Created* created) {
  if (path.empty() || IsDirectory(path)) return true;
  const size_t slash = path.find_last_of('/');
  if (slash != std::string::npos && slash > 0 && !MakeFolders(path.substr(0, slash), created)) return false;
  if (mkdir(path.c_str(), 0700) == 0) {
    if (created) created->push_back(path);
    return true;
  }
  return errno == EEXIST && IsDirectory(path);
}

// A failure the user must hear of, --verbose or not.
void Complain(std::ostream* log, const std::string& text) { (log ? *log : std::cerr) << "tarvessin-viewer: " << text << '\n'; }

std::string Folder(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

// Writes the whole file under a temporary name created new beside it (never through a
// name or link this program did not make: a taken name gets the next one), then moves
// it into place, so that a reader never sees half of it. A path that is a symbolic link
// (as dotfile managers make them) is written through to the file it leads to, so that
// the link stays a link; an existing file keeps its mode, a new one gets newMode.
bool WriteFile(const std::string& path, const std::string& content, std::ostream* log, Created* created,
               mode_t newMode = 0644) {
  if (!MakeFolders(Folder(path), created)) {
    Complain(log, "cannot create the folder of " + path + ": " + std::strerror(errno));
    return false;
  }
  std::string target = path;
  struct stat st {};
  if (lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    char* resolved = realpath(path.c_str(), nullptr);
    if (!resolved) {
      Complain(log, "cannot write " + path + ": it is a link to nothing (" + std::strerror(errno) + ")");
      return false;
    }
    target = resolved;
    free(resolved);
  }
  const bool existed = stat(target.c_str(), &st) == 0;
  const mode_t mode = existed ? (st.st_mode & 07777) : newMode;

  std::string temporary;
  int fd = -1;
  for (int attempt = 1; attempt <= 99 && fd < 0; ++attempt) {
    temporary = target + ".new" + (attempt > 1 ? std::to_string(attempt) : "");
    fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) {
    Complain(log, "cannot write " + target + ": " + std::strerror(errno));
    return false;
  }
  bool ok = true;
  for (size_t at = 0; ok && at < content.size();) {
    const ssize_t n = write(fd, content.data() + at, content.size() - at);
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) at += static_cast<size_t>(n);
  }
  const int error = errno;
  ok = ok && fchmod(fd, mode) == 0 && fsync(fd) == 0;
  ok = close(fd) == 0 && ok;
  if (!ok || rename(temporary.c_str(), target.c_str()) != 0) {
    Complain(log, "cannot write " + target + ": " + std::strerror(ok ? errno : error));
    unlink(temporary.c_str());
    return false;
  }
  Say(log, "wrote " + target);
  return true;
}

bool RemoveFile(const std::string& path, std::ostream* log) {
  if (unlink(path.c_str()) == 0) {
    Say(log, "removed " + path);
    return true;
  }
  if (errno == ENOENT) return true;
  Complain(log, "cannot remove " + path + ": " + std::strerror(errno));
  return false;
}

// Removes the folder when it is empty; says nothing otherwise.
void RemoveEmptyFolder(const std::string& path, std::ostream* log) {
  if (rmdir(path.c_str()) == 0) Say(log, "removed the empty folder " + path);
}

std::vector<std::string> FolderEntries(const std::string& folder) {
  std::vector<std::string> names;
  if (DIR* dir = opendir(folder.c_str())) {
    while (const dirent* e = readdir(dir)) {
      const std::string name = e->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    closedir(dir);
  }
  return names;
}

bool HoldsFileEndingIn(const std::string& folder, const std::string& suffix) {
  for (const std::string& name : FolderEntries(folder))
    if (name.size() > suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
      return true;
  return false;
}

// Runs tool with one folder argument and waits for it; its output goes to the log, or
// nowhere. Says why when it cannot run or fails.
void RunTool(const char* tool, const std::string& folder, std::ostream* log) {
  int exitCode = 0;
  if (!RunAndWait({tool, folder}, log ? ChildOutput::ToStderr : ChildOutput::Discarded, nullptr, &exitCode)) {
    Say(log, std::string("cannot run ") + tool);
    return;
  }
  if (exitCode != 0)
    Say(log, std::string(tool) + " " + folder + " failed");
  else
    Say(log, std::string("refreshed ") + folder + " (" + tool + ")");
}

std::string MimeFolder(const XdgFolders& f) { return f.dataHome + "/mime"; }
std::string PackagePath(const XdgFolders& f) { return MimeFolder(f) + "/packages/" + kMimePackageName; }
std::string ApplicationsFolder(const XdgFolders& f) { return f.dataHome + "/applications"; }
std::string DesktopPath(const XdgFolders& f) { return ApplicationsFolder(f) + "/" + kViewerDesktopId; }
std::string IconFolder(const XdgFolders& f, int size) {
  return f.dataHome + "/icons/hicolor/" + std::to_string(size) + "x" + std::to_string(size) + "/apps";
}
std::string MimeAppsPath(const XdgFolders& f) { return f.configHome + "/mimeapps.list"; }

// The line by which a Nautilus script is known for one of ours.
const char kScriptMark[] = "# Written by tarvessin-viewer --register; tarvessin-viewer --unregister removes it.";

struct ScriptVerb {
  const char* viewerSwitch;
  const char* korean;
  const char* english;
};
const ScriptVerb kScriptVerbs[] = {
    {"--encrypt", kEncryptVerbText, kEncryptVerbTextEnglish},
    {"--decrypt-here", kDecryptHereVerbText, kDecryptHereVerbTextEnglish},
};

std::string ScriptPath(const XdgFolders& f, const char* name) {
  return f.dataHome + "/" + kNautilusScripts + "/" + name;
}

// A regular file (not a link) carrying the mark.
bool IsOurScript(const std::string& path) {
  struct stat st {};
  std::string text;
  return lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ReadTextFile(path, &text) &&
         text.find(kScriptMark) != std::string::npos;
}

// Where registration keeps the folders it created (NUL-separated absolute paths):
// removal takes away those once they are empty, and never a folder the user had.
std::string RecordPath(const XdgFolders& f) { return f.dataHome + "/tarvessin-viewer/created-folders"; }

std::vector<std::string> ReadRecord(const XdgFolders& f) {
  std::vector<std::string> folders;
  std::string text;
  if (!ReadTextFile(RecordPath(f), &text)) return folders;
  std::istringstream in(text);
  for (std::string folder; std::getline(in, folder, '\0');)
    if (!folder.empty() && folder[0] == '/') folders.push_back(folder);
  return folders;
}

// The earlier registrations' folders and this one's, written back when there are any.
bool WriteRecord(const XdgFolders& f, Created created, std::ostream* log) {
  std::vector<std::string> all = ReadRecord(f);
  // The record's own folder, when made now, is one of ours too.
  if (!MakeFolders(Folder(RecordPath(f)), &created)) {
    Complain(log, "cannot create the folder of " + RecordPath(f) + ": " + std::strerror(errno));
    return false;
  }
  for (const std::string& folder : created)
    if (std::find(all.begin(), all.end(), folder) == all.end()) all.push_back(folder);
  if (all.empty()) return true;
  std::string text;
  for (const std::string& folder : all) text += folder + '\0';
  return WriteFile(RecordPath(f), text, log, nullptr, 0600);
}

// Removes the record, then every folder it names that is empty, deepest first.
void RemoveCreatedFolders(const XdgFolders& f, std::ostream* log) {
  std::vector<std::string> folders = ReadRecord(f);
  RemoveFile(RecordPath(f), log);
  std::sort(folders.begin(), folders.end(), [](const std::string& a, const std::string& b) {
    return std::count(a.begin(), a.end(), '/') > std::count(b.begin(), b.end(), '/');
  });
  for (const std::string& folder : folders) RemoveEmptyFolder(folder, log);
}

bool SameFile(const std::string& a, const std::string& b) {
  struct stat sa {}, sb {};
  return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

// The program a system-wide file of ours starts (its TryExec, or for a Nemo action the
// first of its Dependencies), "" for a file that names none.
std::string ProgramNamedBy(const std::string& path) {
  std::string text;
  if (!ReadTextFile(path, &text)) return "";
  const std::string nemo = DesktopFileValue(text, "Nemo Action", "Dependencies");
  if (!nemo.empty()) return nemo.substr(0, nemo.find(';'));
  return DesktopFileValue(text, "Desktop Entry", "TryExec");
}

// A file of a data folder (the package's, /usr/share) at relative under the data home
// gives the user what ours would: a desktop entry or menu that starts this very program,
// or for the MIME package and the icons, one of that name. The user's copy would show
// twice in Nemo and shadow the package's elsewhere, so registration writes none.
bool ProvidedSystemWide(const XdgFolders& f, const std::string& relative, const std::string& programPath,
                        bool namesProgram) {
  for (const std::string& dir : f.dataDirs) {
    const std::string path = dir + "/" + relative;
    struct stat st {};
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    if (!namesProgram) return true;
    const std::string program = FindProgram(ProgramNamedBy(path));
    if (!program.empty() && SameFile(program, programPath)) return true;
  }
  return false;
}

// A program whose path holds '%' or ';' cannot be named in a Nemo action: Nemo before
// 6 stops expanding its line at a '%' that is no field code of its own, and splits its
// Dependencies at ';'.
bool NemoCanName(const std::string& programPath) { return programPath.find_first_of("%;") == std::string::npos; }

// One file of the registration, relative to the data home: its text is written unless
// the system already provides it; a copy an earlier registration left there goes.
struct Placed {
  bool written = false;
  bool removed = false;
};
Placed Place(const XdgFolders& f, const std::string& relative, const std::string& content, mode_t mode,
             bool namesProgram, const XdgRegistration& r, std::ostream* log, Created* created, bool* ok) {
  Placed placed;
  const std::string path = f.dataHome + "/" + relative;
  if (ProvidedSystemWide(f, relative, r.programPath, namesProgram)) {
    Say(log, "not writing " + path + ": the system provides it");
    if (Exists(path)) {
      placed.removed = RemoveFile(path, log);
      *ok = placed.removed && *ok;
    }
    return placed;
  }
  placed.written = WriteFile(path, content, log, created, mode);
  *ok = placed.written && *ok;
  return placed;
}

// Writes the menus; Dolphin shows a user's service menu only when it is executable, and
// Nautilus only runs scripts that are.
bool WriteMenus(const XdgFolders& folders, const XdgRegistration& registration, std::ostream* log, Created* created) {
  bool ok = true;
  for (size_t i = 0; i < registration.menuTemplates.size() && i < std::size(kFileManagerMenus); ++i) {
    const bool kio = std::strncmp(kFileManagerMenus[i], "kio/", 4) == 0;
    if (!kio && !NemoCanName(registration.programPath)) {
      Complain(log, "no Nemo action written: Nemo cannot start a program whose path holds '%' or ';' (" +
                        registration.programPath + ")");
      RemoveFile(folders.dataHome + "/" + kFileManagerMenus[i], log);
      ok = false;
      continue;
    }
    Place(folders, kFileManagerMenus[i], DesktopEntryFor(registration.menuTemplates[i], registration.programPath),
          kio ? 0755 : 0644, true, registration, log, created, &ok);
  }
  for (const ScriptVerb& verb : kScriptVerbs) {
    const char* name = registration.englishScriptNames ? verb.english : verb.korean;
    const char* other = registration.englishScriptNames ? verb.korean : verb.english;
    // A script of that name that is not ours is the user's: it stays, and the menu
    // entry is not made.
    bool written = false;
    if (Exists(ScriptPath(folders, name)) && !IsOurScript(ScriptPath(folders, name)))
      Complain(log, "not replacing " + ScriptPath(folders, name) + ": a script of that name is there already");
    else
      written = WriteFile(ScriptPath(folders, name),
                          NautilusScript(registration.programPath, verb.viewerSwitch, registration.englishScriptNames),
                          log, created, 0755);
    ok = written && ok;
    // A registration in the other language leaves no second entry behind (and keeps the
    // one there is when the new one could not be made).
    if (written && IsOurScript(ScriptPath(folders, other))) ok = RemoveFile(ScriptPath(folders, other), log) && ok;
  }
  return ok;
}

bool RemoveMenus(const XdgFolders& folders, std::ostream* log) {
  bool ok = true;
  for (const char* menu : kFileManagerMenus) ok = RemoveFile(folders.dataHome + "/" + menu, log) && ok;
  for (const ScriptVerb& verb : kScriptVerbs) {
    for (const char* name : {verb.korean, verb.english})
      if (IsOurScript(ScriptPath(folders, name))) ok = RemoveFile(ScriptPath(folders, name), log) && ok;
  }
  return ok;
}

// The icon sizes a registration may have written.
const int kIconSizes[] = {16, 22, 24, 32, 48, 64, 128, 256};

// The types whose default the registration makes the viewer: its own, and the one a
// desktop without a MIME database of its own (xdg-mime falling back to file(1)) gives
// the containers.
const char* const kDefaultTypes[] = {kContainerMimeType, kAesEncryptedMimeType};

// The user's mimeapps.list is theirs: a file that exists but cannot be read is left as
// it is (and the failure said), never replaced by one holding only our lines.
bool EditMimeAppsFile(const XdgFolders& folders, bool set, std::ostream* log, Created* created) {
  const std::string path = MimeAppsPath(folders);
  std::string text;
  if (!ReadTextFile(path, &text)) {
    struct stat st {};
    if (lstat(path.c_str(), &st) == 0) {
      Complain(log, "cannot read " + path + ": " + std::strerror(errno) + "; it is left as it is");
      return false;
    }
    text.clear();
  }
  std::string edited = text;
  for (const char* type : kDefaultTypes) edited = EditMimeApps(edited, type, kViewerDesktopId, set);
  if (edited == text) return true;
  if (edited.empty()) return RemoveFile(path, log);
  return WriteFile(path, edited, log, created);
}

// With no package left the database describes nothing: its files (and the tool's own
// folders of types) go rather than being made again; the folders that held them go
// with the record when registration made them.
void RefreshOrRemoveMimeDatabase(const XdgFolders& folders, std::ostream* log) {
  const std::string mime = MimeFolder(folders);
  if (!IsDirectory(mime)) return;
  if (!FolderEntries(mime + "/packages").empty()) {
    RunTool("update-mime-database", mime, log);
    return;
  }
  for (const char* file : kMimeDatabaseFiles) RemoveFile(mime + "/" + file, log);
  for (const std::string& name : FolderEntries(mime)) {
    const std::string media = mime + "/" + name;
    if (name == "packages" || !IsDirectory(media)) continue;
    for (const std::string& type : FolderEntries(media))
      if (type.size() > 4 && type.compare(type.size() - 4, 4, ".xml") == 0) RemoveFile(media + "/" + type, log);
    RemoveEmptyFolder(media, log);  // the tool's own folder, inside ours
  }
}

// With no desktop entry left the desktop database describes nothing and goes.
void RefreshOrRemoveDesktopDatabase(const XdgFolders& folders, std::ostream* log) {
  const std::string applications = ApplicationsFolder(folders);
  if (!IsDirectory(applications)) return;
  if (HoldsFileEndingIn(applications, ".desktop")) {
    RunTool("update-desktop-database", applications, log);
    return;
  }
  RemoveFile(applications + "/mimeinfo.cache", log);
}

}  // namespace

std::string DesktopEntryFor(const std::string& desktopTemplate, const std::string& programPath) {
  std::string entry = desktopTemplate;
  const std::pair<std::string, std::string> markers[] = {{"@EXEC@", ExecArgument(programPath)},
                                                         {"@PROGRAM@", DesktopStringValue(programPath)}};
  for (const auto& [marker, value] : markers) {
    for (size_t at = entry.find(marker); at != std::string::npos; at = entry.find(marker, at)) {
      entry.replace(at, marker.size(), value);
      at += value.size();
    }
  }
  return entry;
}

std::string NautilusScript(const std::string& programPath, const char* viewerSwitch, bool english) {
  const std::string gone = english ? "Tarvessin Viewer is no longer installed (%s is missing): "
                                     "tarvessin-viewer --unregister, or delete %s."
                                   : "타르베신 뷰어가 더 이상 설치되어 있지 않습니다 (%s 없음): "
                                     "tarvessin-viewer --unregister 를 하거나 %s 를 지우십시오.";
  return std::string("#!/bin/sh\n") + kScriptMark + "\n" +
         "program=" + ShellWord(programPath) + "\n" +
         "if [ ! -x \"$program\" ]; then\n"
         "  message=$(printf " + ShellWord(gone) + " \"$program\" \"$0\")\n"
         "  notify-send -i dialog-error 'Tarvessin Viewer' \"$message\" 2>/dev/null ||\n"
         "    zenity --error --no-markup --text=\"$message\" 2>/dev/null ||\n"
         "    printf '%s\\n' \"$message\" >&2\n"
         "  exit 127\n"
         "fi\n"
         "# Nautilus pastes the names into a command line whose '%' sequences GLib takes for its\n"
         "# own codes (100%.txt arrives as 100txt); the URIs it sets beside them are exact.\n"
         "if [ -n \"${NAUTILUS_SCRIPT_SELECTED_URIS-}\" ]; then\n"
         "  set --\n"
         "  while IFS= read -r uri; do\n"
         "    [ -n \"$uri\" ] && set -- \"$@\" \"$uri\"\n"
         "  done <<EOF\n"
         "$NAUTILUS_SCRIPT_SELECTED_URIS\n"
         "EOF\n"
         "  exec \"$program\" " + viewerSwitch + " --uris -- \"$@\"\n"
         "fi\n"
         "# Run by hand: the names, relative ones taken in the folder it runs in.\n"
         "for name do\n"
         "  case $name in /*) ;; *) name=$PWD/$name ;; esac\n"
         "  set -- \"$@\" \"$name\"\n"
         "  shift\n"
         "done\n"
         "exec \"$program\" " + viewerSwitch + " -- \"$@\"\n";
}

namespace {

// One edit of EditMimeApps: unsetting takes desktopId out of one line.
std::string EditMimeAppsOnce(const std::string& text, const std::string& mimeType, const std::string& desktopId,
                             bool set) {
  // The lines without their '\n'; the text's last line keeps its want of one.
  std::vector<std::string> lines;
  for (size_t at = 0; at < text.size();) {
    const size_t newline = std::min(text.find('\n', at), text.size());
    lines.push_back(text.substr(at, newline - at));
    at = newline + 1;
  }
  const bool finalNewline = text.empty() || text.back() == '\n';

  // The line to edit: to set, the first for the type in the first [Default Applications]
  // group (the one a desktop reads); to unset, the first in any such group that names
  // desktopId (unsetting repeats until none does). group and end bound its group.
  const std::string header = "[Default Applications]";
  size_t group = lines.size(), entry = lines.size(), end = lines.size();
  size_t current = lines.size();  // the [Default Applications] group line i is in
  for (size_t i = 0; i < lines.size() && end == lines.size(); ++i) {
    const std::string line = Trim(lines[i]);
    if (!line.empty() && line[0] == '[') {
      if (entry < lines.size() || (set && group < lines.size())) end = i;
      current = line == header ? i : lines.size();
      if (group == lines.size() && current < lines.size()) group = i;
      continue;
    }
    const size_t eq = line.find('=');
    if (current == lines.size() || entry < lines.size() || eq == std::string::npos ||
        Trim(line.substr(0, eq)) != mimeType)
      continue;
    if (set && current == group) {
      entry = i;
    } else if (!set) {
      std::istringstream in(line.substr(eq + 1));
      for (std::string piece; std::getline(in, piece, ';');) {
        if (Trim(piece) == desktopId) {
          entry = i;
          group = current;
        }
      }
    }
  }

  if (entry < lines.size()) {
    // The entry's IDs as written, each with its own spacing: only desktopId is taken out
    // (and put first when setting), every other byte of the line stays.
    const size_t eq = lines[entry].find('=');
    std::vector<std::string> pieces;
    std::istringstream in(lines[entry].substr(eq + 1) + ";");
    for (std::string piece; std::getline(in, piece, ';');) pieces.push_back(piece);
    std::vector<std::string> kept;
    bool namedBefore = false;
    for (const std::string& piece : pieces) {
      namedBefore = namedBefore || !Trim(piece).empty();
      if (Trim(piece) != desktopId) kept.push_back(piece);
    }
    if (set) kept.insert(kept.begin(), desktopId);
    std::string value;
    bool named = false;
    for (size_t i = 0; i < kept.size(); ++i) {
      value += (i ? ";" : "") + kept[i];
      named = named || !Trim(kept[i]).empty();
    }
    if (set && !namedBefore) {
      // A line that names nothing is someone's, and one with our ID alone would look
      // like ours: our own line goes before it (a desktop reads the first).
      lines.insert(lines.begin() + static_cast<long>(entry), mimeType + "=" + desktopId + ";");
      ++end;
    } else if (named) {
      const std::string edited = lines[entry].substr(0, eq + 1) + value;
      if (edited == lines[entry]) return text;
      lines[entry] = edited;
    } else {
      lines.erase(lines.begin() + static_cast<long>(entry));
      --end;
    }
  } else if (!set) {
    return text;  // nothing names it (any more)
  } else if (group == lines.size()) {
    // A group of our own at the end, after a blank line (always one, so that removing
    // it takes back exactly what was added).
    if (!lines.empty()) lines.push_back("");
    lines.push_back(header);
    lines.push_back(mimeType + "=" + desktopId + ";");
  } else {
    lines.insert(lines.begin() + static_cast<long>(group) + 1, mimeType + "=" + desktopId + ";");
    ++end;
  }

  // A group left with nothing in it but blank lines goes, with the blank lines before
  // the next group; one that holds a comment is someone's and stays.
  if (!set && group < lines.size()) {
    bool empty = true;
    for (size_t i = group + 1; i < end && i < lines.size(); ++i) empty = empty && Trim(lines[i]).empty();
    if (empty) {
      const size_t stop = std::min(end, lines.size());
      const bool last = stop == lines.size();
      lines.erase(lines.begin() + static_cast<long>(group), lines.begin() + static_cast<long>(stop));
      // The blank line set before a group added at the end goes with it.
      if (last && group > 0 && Trim(lines[group - 1]).empty()) lines.erase(lines.begin() + static_cast<long>(group - 1));
    }
  }

  std::string out;
  for (size_t i = 0; i < lines.size(); ++i) out += (i ? "\n" : "") + lines[i];
  if (!lines.empty() && finalNewline) out += '\n';
  return out;
}

}  // namespace

std::string EditMimeApps(const std::string& text, const std::string& mimeType, const std::string& desktopId,
                         bool set) {
  std::string edited = EditMimeAppsOnce(text, mimeType, desktopId, set);
  for (std::string before = text; !set && edited != before;) {
    before = edited;
    edited = EditMimeAppsOnce(before, mimeType, desktopId, false);
  }
  return edited;
}

bool RegisterXdgFileType(const XdgFolders& folders, const XdgRegistration& registration, std::ostream* log) {
  bool ok = true;
  Created created;
  const std::string mimeRelative = std::string("mime/packages/") + kMimePackageName;
  const std::string desktopRelative = std::string("applications/") + kViewerDesktopId;
  const Placed package = Place(folders, mimeRelative, registration.mimePackage, 0644, false, registration, log,
                               &created, &ok);
  const Placed desktop = Place(folders, desktopRelative,
                               DesktopEntryFor(registration.desktopTemplate, registration.programPath), 0644, true,
                               registration, log, &created, &ok);
  for (const XdgRegistration::Icon& icon : registration.icons) {
    const std::string size = std::to_string(icon.size);
    Place(folders, "icons/hicolor/" + size + "x" + size + "/apps/" + kViewerIconName + ".png", icon.png, 0644, false,
          registration, log, &created, &ok);
  }
  ok = WriteMenus(folders, registration, log, &created) && ok;
  ok = EditMimeAppsFile(folders, true, log, &created) && ok;
  ok = WriteRecord(folders, created, log) && ok;
  if (package.written) RunTool("update-mime-database", MimeFolder(folders), log);
  if (package.removed) RefreshOrRemoveMimeDatabase(folders, log);
  if (desktop.written) RunTool("update-desktop-database", ApplicationsFolder(folders), log);
  if (desktop.removed) RefreshOrRemoveDesktopDatabase(folders, log);
  return ok;
}

bool UnregisterXdgFileType(const XdgFolders& folders, std::ostream* log) {
  const bool packageThere = Exists(PackagePath(folders));
  const bool desktopThere = Exists(DesktopPath(folders));
  bool ok = RemoveFile(PackagePath(folders), log);
  ok = RemoveFile(DesktopPath(folders), log) && ok;
  for (int size : kIconSizes) {
    const std::string icon = IconFolder(folders, size) + "/" + kViewerIconName + ".png";
    if (Exists(icon)) ok = RemoveFile(icon, log) && ok;
  }
  ok = RemoveMenus(folders, log) && ok;
  ok = EditMimeAppsFile(folders, false, log, nullptr) && ok;
  if (packageThere) RefreshOrRemoveMimeDatabase(folders, log);
  if (desktopThere) RefreshOrRemoveDesktopDatabase(folders, log);
  RemoveCreatedFolders(folders, log);
  return ok;
}
