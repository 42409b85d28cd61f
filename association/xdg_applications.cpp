#include "association/xdg_applications.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace {

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

std::string WithoutTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::string part;
  std::istringstream in(text);
  while (std::getline(in, part, separator)) parts.push_back(part);
  return parts;
}

// The absolute entries of a ':' list, or fallback when it has none.
std::vector<std::string> FolderList(const std::string& list, const std::vector<std::string>& fallback) {
  std::vector<std::string> folders;
  for (const std::string& entry : Split(list, ':'))
    if (!entry.empty() && entry[0] == '/') folders.push_back(WithoutTrailingSlashes(entry));
  return folders.empty() ? fallback : folders;
}

std::string Trim(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return "";
  const size_t last = text.find_last_not_of(" \t\r");
  return text.substr(first, last - first + 1);
}

// A desktop file's string value: \s \n \t \r \\ undone; any other backslash kept.
std::string Unescape(const std::string& value) {
  std::string out;
  for (size_t i = 0; i < value.size(); ++i) {
    if (value[i] == '\\' && i + 1 < value.size()) {
      const char next = value[i + 1];
      const char* from = "sntr\\";
      const char* to = " \n\t\r\\";
      bool done = false;
      for (int k = 0; from[k]; ++k) {
        if (next == from[k]) {
          out += to[k];
          ++i;
          done = true;
          break;
        }
      }
      if (done) continue;
    }
    out += value[i];
  }
  return out;
}

// The key-value lines of one group of an ini-style file, in order.
std::vector<std::pair<std::string, std::string>> GroupEntries(const std::string& text, const std::string& group) {
  std::vector<std::pair<std::string, std::string>> entries;
  bool inGroup = false;
  for (const std::string& raw : Split(text, '\n')) {
    const std::string line = Trim(raw);
    if (line.empty() || line[0] == '#') continue;
    if (line[0] == '[') {
      inGroup = line == "[" + group + "]";
      continue;
    }
    const size_t eq = line.find('=');
    if (!inGroup || eq == std::string::npos) continue;
    entries.emplace_back(Trim(line.substr(0, eq)), Trim(line.substr(eq + 1)));
  }
  return entries;
}

bool IsFile(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::vector<std::string> ApplicationsFolders(const XdgFolders& folders) {
  std::vector<std::string> result{folders.dataHome + "/applications"};
  for (const std::string& dir : folders.dataDirs) result.push_back(dir + "/applications");
  return result;
}

// Splits an Exec line (string escapes already undone) into its arguments; each piece
// remembers whether it was quoted, so that field codes are expanded only outside quotes.
struct Piece {
  std::string text;
  bool quoted;
};
bool SplitExec(const std::string& exec, std::vector<std::vector<Piece>>* arguments) {
  arguments->clear();
  bool inArgument = false, quoted = false;
  for (size_t i = 0; i < exec.size(); ++i) {
    const char c = exec[i];
    if (quoted) {
      if (c == '"') {
        quoted = false;
      } else {
        char take = c;
        if (c == '\\' && i + 1 < exec.size() && std::string("\"`$\\").find(exec[i + 1]) != std::string::npos)
          take = exec[++i];
        if (arguments->back().empty() || !arguments->back().back().quoted) arguments->back().push_back({"", true});
        arguments->back().back().text += take;
      }
      continue;
    }
    if (c == ' ' || c == '\t' || c == '\n') {
      inArgument = false;
      continue;
    }
    if (!inArgument) {
      arguments->emplace_back();
      inArgument = true;
    }
    if (c == '"') {
      quoted = true;
      arguments->back().push_back({"", true});
      continue;
    }
    if (arguments->back().empty() || arguments->back().back().quoted) arguments->back().push_back({"", false});
    arguments->back().back().text += c;
  }
  return !quoted;
}

bool IsUnreserved(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
         c == '_' || c == '~';
}

// The folders whose mimeapps.list files count, in order of precedence.
std::vector<std::string> MimeAppsFolders(const XdgFolders& folders) {
  std::vector<std::string> result{folders.configHome};
  result.insert(result.end(), folders.configDirs.begin(), folders.configDirs.end());
  const std::vector<std::string> applications = ApplicationsFolders(folders);
  result.insert(result.end(), applications.begin(), applications.end());
  return result;
}

std::string LaunchableFile(const XdgFolders& folders, const std::string& id) {
  const std::string path = FindDesktopFile(folders, Trim(id));
  DesktopEntry entry;
  return !path.empty() && ReadDesktopEntry(path, &entry) && IsLaunchable(entry) ? path : "";
}

// Every desktop file below folder (sub-folders included), in directory order.
void CollectDesktopFiles(const std::string& folder, int depth, std::vector<std::string>* files) {
  DIR* dir = opendir(folder.c_str());
  if (!dir) return;
  while (const dirent* e = readdir(dir)) {
    const std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    const std::string path = folder + "/" + name;
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode) && depth < 4)
      CollectDesktopFiles(path, depth + 1, files);
    else if (S_ISREG(st.st_mode) && name.size() > 8 && name.compare(name.size() - 8, 8, ".desktop") == 0)
      files->push_back(path);
  }
  closedir(dir);
}

}  // namespace

bool ReadTextFile(const std::string& path, std::string* text) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat st {};
  bool ok = fstat(fd, &st) == 0;
  if (ok && !S_ISREG(st.st_mode)) {
    errno = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    ok = false;
  }
  std::string content;
  char buffer[8192];
  while (ok) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = n == 0;
      break;
    }
    content.append(buffer, static_cast<size_t>(n));
  }
  const int error = errno;
  close(fd);
  errno = error;
  if (ok) *text = std::move(content);
  return ok;
}

XdgFolders XdgFoldersFromEnvironment() {
  XdgFolders f;
  const std::string home = WithoutTrailingSlashes(Env("HOME"));
  const std::string configHome = Env("XDG_CONFIG_HOME");
  f.configHome = !configHome.empty() && configHome[0] == '/' ? WithoutTrailingSlashes(configHome) : home + "/.config";
  f.configDirs = FolderList(Env("XDG_CONFIG_DIRS"), {"/etc/xdg"});
  const std::string dataHome = Env("XDG_DATA_HOME");
  f.dataHome = !dataHome.empty() && dataHome[0] == '/' ? WithoutTrailingSlashes(dataHome) : home + "/.local/share";
  f.dataDirs = FolderList(Env("XDG_DATA_DIRS"), {"/usr/local/share", "/usr/share"});
  for (std::string desktop : Split(Env("XDG_CURRENT_DESKTOP"), ':')) {
    for (char& c : desktop)
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (!desktop.empty()) f.desktops.push_back(desktop);
  }
  f.menuPrefix = Env("XDG_MENU_PREFIX");
  return f;
}

bool ReadDesktopEntry(const std::string& path, DesktopEntry* entry) {
  std::string text;
  return ReadTextFile(path, &text) && ParseDesktopEntry(text, path, entry);
}

bool ParseDesktopEntry(const std::string& text, const std::string& path, DesktopEntry* entry) {
  if (text.find("[Desktop Entry]") == std::string::npos) return false;
  *entry = DesktopEntry();
  entry->path = path;
  for (const auto& [key, raw] : GroupEntries(text, "Desktop Entry")) {
    const std::string value = Unescape(raw);
    if (key == "Type") entry->type = value;
    else if (key == "Name") entry->name = value;
    else if (key == "Exec") entry->exec = value;
    else if (key == "TryExec") entry->tryExec = value;
    else if (key == "Icon") entry->icon = value;
    else if (key == "Terminal") entry->terminal = value == "true";
    else if (key == "Hidden") entry->hidden = value == "true";
    else if (key == "InitialPreference") entry->initialPreference = std::atoi(value.c_str());
    else if (key == "MimeType") {
      for (const std::string& type : Split(value, ';'))
        if (!Trim(type).empty()) entry->mimeTypes.push_back(Trim(type));
    }
  }
  return true;
}

std::string FindDesktopFile(const XdgFolders& folders, const std::string& id) {
  if (id.empty() || id.find('/') != std::string::npos) return "";
  for (const std::string& dir : ApplicationsFolders(folders)) {
    if (IsFile(dir + "/" + id)) return dir + "/" + id;
    // "vendor-app.desktop" may live as "vendor/app.desktop" (each '-' may be a folder).
    for (size_t dash = id.find('-'); dash != std::string::npos; dash = id.find('-', dash + 1)) {
      std::string nested = id;
      nested[dash] = '/';
      if (IsFile(dir + "/" + nested)) return dir + "/" + nested;
    }
  }
  return "";
}

std::string FindProgram(const std::string& program) {
  if (program.empty()) return "";
  auto executable = [](const std::string& path) { return IsFile(path) && access(path.c_str(), X_OK) == 0; };
  if (program.find('/') != std::string::npos) return executable(program) ? program : "";
  for (const std::string& dir : Split(Env("PATH"), ':'))
    if (!dir.empty() && executable(dir + "/" + program)) return dir + "/" + program;
  return "";
}

bool ProgramExists(const std::string& program) { return !FindProgram(program).empty(); }

bool IsLaunchable(const DesktopEntry& entry) {
  if (entry.type != "Application" || entry.hidden) return false;
  if (!entry.tryExec.empty() && !ProgramExists(entry.tryExec)) return false;
  std::vector<std::string> argv;
  if (!LaunchCommand(entry, "/", &argv)) return false;
  // In a terminal, the terminal and the entry's own program must both be there.
  if (entry.terminal) return argv.size() > 2 && ProgramExists(argv[0]) && ProgramExists(argv[2]);
  return ProgramExists(argv[0]);
}

std::string DefaultApplication(const XdgFolders& folders, const std::string& mimeType) {
  if (mimeType.empty()) return "";
  std::vector<std::string> prefixes;
  for (const std::string& desktop : folders.desktops) prefixes.push_back(desktop + "-");
  prefixes.push_back("");

  for (const std::string& dir : MimeAppsFolders(folders)) {
    for (const std::string& prefix : prefixes) {
      std::string text;
      if (!ReadTextFile(dir + "/" + prefix + "mimeapps.list", &text)) continue;
      for (const std::string& id : MimeAppsDefaults(text, mimeType)) {
        const std::string path = LaunchableFile(folders, id);
        if (!path.empty()) return path;
      }
    }
  }

  for (const std::string& dir : ApplicationsFolders(folders)) {
    for (const std::string& prefix : {folders.menuPrefix, std::string()}) {
      for (const char* list : {"defaults.list", "mimeinfo.cache"}) {
        std::string text;
        if (!ReadTextFile(dir + "/" + prefix + list, &text)) continue;
        for (const std::string& raw : Split(text, '\n')) {
          const std::string line = Trim(raw);
          if (line.compare(0, mimeType.size() + 1, mimeType + "=") != 0) continue;
          const std::vector<std::string> ids = Split(line.substr(mimeType.size() + 1), ';');
          const std::string path = ids.empty() ? "" : LaunchableFile(folders, ids[0]);
          if (!path.empty()) return path;
          break;
        }
      }
      if (folders.menuPrefix.empty()) break;
    }
  }

  std::string best;
  int bestPreference = -1;
  for (const std::string& dir : ApplicationsFolders(folders)) {
    std::vector<std::string> files;
    CollectDesktopFiles(dir, 0, &files);
    for (const std::string& file : files) {
      DesktopEntry entry;
      if (!ReadDesktopEntry(file, &entry) || entry.initialPreference <= bestPreference) continue;
      bool lists = false;
      for (const std::string& type : entry.mimeTypes) lists = lists || type == mimeType;
      if (lists && IsLaunchable(entry)) {
        best = file;
        bestPreference = entry.initialPreference;
      }
    }
  }
  return best;
}

std::vector<std::string> MimeAppsDefaults(const std::string& text, const std::string& mimeType) {
  std::vector<std::string> ids;
  for (const auto& [key, value] : GroupEntries(text, "Default Applications")) {
    if (key != mimeType) continue;
    for (const std::string& id : Split(value, ';'))
      if (!Trim(id).empty()) ids.push_back(Trim(id));
    break;  // only the first line for the type counts
  }
  return ids;
}

std::string FileUrl(const std::string& path) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string url = "file://";
  for (unsigned char c : path) {
    if (IsUnreserved(c) || c == '/') {
      url += static_cast<char>(c);
    } else {
      url += '%';
      url += kHex[c >> 4];
      url += kHex[c & 15];
    }
  }
  return url;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool PathFromFileUrl(const std::string& url, std::string* path) {
  std::string scheme = url.substr(0, 17);
  for (char& c : scheme) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  size_t at = 0;  // where the path's '/' is
  if (scheme.rfind("file:///", 0) == 0)
    at = 7;
  else if (scheme.rfind("file://localhost/", 0) == 0)
    at = 16;
  else
    return false;
  std::string decoded;
  for (; at < url.size(); ++at) {
    if (url[at] != '%') {
      decoded += url[at];
      continue;
    }
    const int high = at + 2 < url.size() ? HexDigit(url[at + 1]) : -1;
    const int low = at + 2 < url.size() ? HexDigit(url[at + 2]) : -1;
    if (high < 0 || low < 0) return false;
    const char byte = static_cast<char>(high * 16 + low);
    if (byte == '\0' || byte == '/') return false;
    decoded += byte;
    at += 2;
  }
  *path = decoded;
  return true;
}

std::string DesktopFileValue(const std::string& text, const std::string& group, const std::string& key) {
  for (const auto& [name, value] : GroupEntries(text, group))
    if (name == key) return Unescape(value);
  return "";
}

std::string DesktopStringValue(const std::string& text) {
  std::string value;
  for (size_t i = 0; i < text.size(); ++i) {
    switch (text[i]) {
      case '\\': value += "\\\\"; break;
      case '\n': value += "\\n"; break;
      case '\t': value += "\\t"; break;
      case '\r': value += "\\r"; break;
      case ' ': value += i == 0 || i + 1 == text.size() ? "\\s" : " "; break;  // readers trim the rest
      default: value += text[i];
    }
  }
  return value;
}

bool LaunchCommand(const DesktopEntry& entry, const std::string& file, std::vector<std::string>* argv) {
  argv->clear();
  std::vector<std::vector<Piece>> arguments;
  if (!SplitExec(entry.exec, &arguments)) return false;
  bool fileGiven = false;
  for (const std::vector<Piece>& pieces : arguments) {
    // A lone %i becomes two arguments (or none without an icon).
    if (pieces.size() == 1 && !pieces[0].quoted && pieces[0].text == "%i") {
      if (!entry.icon.empty()) {
        argv->push_back("--icon");
        argv->push_back(entry.icon);
      }
      continue;
    }
    std::string argument;
    bool onlyDroppedCodes = true;
    for (const Piece& piece : pieces) {
      if (piece.quoted) {
        // No code is expanded inside quotes; only a doubled '%' is one '%' there too.
        for (size_t i = 0; i < piece.text.size(); ++i) {
          argument += piece.text[i];
          if (piece.text[i] == '%' && i + 1 < piece.text.size() && piece.text[i + 1] == '%') ++i;
        }
        onlyDroppedCodes = false;
        continue;
      }
      for (size_t i = 0; i < piece.text.size(); ++i) {
        const char c = piece.text[i];
        if (c != '%' || i + 1 == piece.text.size()) {
          argument += c;
          onlyDroppedCodes = false;
          continue;
        }
        const char code = piece.text[++i];
        onlyDroppedCodes = onlyDroppedCodes && std::string("fFuUck%").find(code) == std::string::npos;
        switch (code) {
          case 'f': case 'F': argument += file; fileGiven = true; break;
          case 'u': case 'U': argument += FileUrl(file); fileGiven = true; break;
          case 'c': argument += entry.name; break;
          case 'k': argument += entry.path; break;
          case '%': argument += '%'; break;
          default: break;  // deprecated (%d %D %n %N %v %m) or unknown: dropped
        }
      }
    }
    if (argument.empty() && onlyDroppedCodes) continue;
    argv->push_back(argument);
  }
  if (argv->empty()) return false;
  if (!fileGiven) argv->push_back(file);
  if (entry.terminal) argv->insert(argv->begin(), {"x-terminal-emulator", "-e"});
  return true;
}

std::string ExecArgument(const std::string& argument) {
  // The characters the Exec rules reserve: an argument holding one is quoted.
  const std::string reserved = " \t\n\"'\\><~|&;$*?#()`";
  std::string exec;
  if (!argument.empty() && argument.find_first_of(reserved) == std::string::npos) {
    exec = argument;
  } else {
    exec = "\"";
    for (char c : argument) {
      if (c == '"' || c == '`' || c == '$' || c == '\\') exec += '\\';
      exec += c;
    }
    exec += '"';
  }
  std::string value;
  for (char c : exec) {
    switch (c) {
      case '%': value += "%%"; break;
      case '\\': value += "\\\\"; break;
      case '\n': value += "\\n"; break;
      case '\t': value += "\\t"; break;
      case '\r': value += "\\r"; break;
      default: value += c;
    }
  }
  return value;
}
