// Every file-manager entry the package and --register install, launched on hostile names
// the way its file manager launches it, must hand the viewer each selected name as exactly
// one argument. The file managers' own steps are played with GLib's functions where they
// call them (the key-file reader, g_shell_quote, g_shell_parse_argv, g_filename_to_uri)
// and the shell where KIO hands a line to one; only their string pasting is written out
// here, after their sources.
#include <glib.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "association/xdg_applications.h"
#include "association/xdg_association.h"
#include "tests/test_util.h"

using testutil::TempDir;
namespace fs = std::filesystem;

namespace {

using Argv = std::vector<std::string>;

// Names people and attackers give files: each must reach the viewer unchanged.
const std::string kHostileNames[] = {
    "My report.docx",     "it's mine.txt",        "say \"hi\".txt",  "back\\slash.txt", "$(touch pwned).txt",
    "`touch pwned`.txt",  "line\nbreak.txt",      "-x.txt",          "--register",      "\xff\xfe latin-1 \xe9.txt",
    "tab\there.txt",      "#not a comment.txt",   "100% %F %U.txt",  "a;b&c|d>e.txt",   "보고서 📄.hwp",
    "  spaces around  ",  "\\\"'\\''\\\\.aqv3",
};

std::string Read(const std::string& path) {
  std::string text;
  ReadTextFile(path, &text);
  return text;
}

void Write(const std::string& path, const std::string& text, fs::perms perms = fs::perms::owner_read |
                                                                                fs::perms::owner_write) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << text;
  fs::permissions(path, perms);
}

Argv FromStrv(gchar** strv) {
  Argv argv;
  for (gchar** p = strv; p && *p; ++p) argv.push_back(*p);
  g_strfreev(strv);
  return argv;
}

// g_shell_parse_argv, as the file managers run a line; false when it refuses the line
// (the entry then does nothing at all).
bool ShellParse(const std::string& line, Argv* argv) {
  gchar** strv = nullptr;
  if (!g_shell_parse_argv(line.c_str(), nullptr, &strv, nullptr)) return false;
  *argv = FromStrv(strv);
  return true;
}

std::string ShellQuote(const std::string& text) {
  gchar* quoted = g_shell_quote(text.c_str());
  std::string result = quoted;
  g_free(quoted);
  return result;
}

// A desktop-style file read with GLib's key-file reader, as GIO and Nemo read theirs.
class KeyFile {
 public:
  explicit KeyFile(const std::string& text) : m_file(g_key_file_new()) {
    m_loaded = g_key_file_load_from_data(m_file, text.data(), text.size(), G_KEY_FILE_NONE, nullptr);
  }
  ~KeyFile() { g_key_file_free(m_file); }
  bool Loaded() const { return m_loaded; }
  // The string value ("" when missing or when GLib refuses its escapes).
  std::string Get(const char* group, const char* key) const {
    gchar* value = g_key_file_get_string(m_file, group, key, nullptr);
    std::string result = value ? value : "";
    g_free(value);
    return result;
  }
  Argv List(const char* group, const char* key) const {
    return FromStrv(g_key_file_get_string_list(m_file, group, key, nullptr, nullptr));
  }
  bool Bool(const char* group, const char* key) const {
    return g_key_file_get_boolean(m_file, group, key, nullptr) != FALSE;
  }

 private:
  GKeyFile* m_file;
  bool m_loaded = false;
};

// --- How each file manager starts a command line on the files selected ----------------

// The arguments a program printed NUL-terminated.
Argv SplitNul(const std::string& out) {
  Argv argv;
  for (size_t at = 0, end; at < out.size(); at = end + 1) {
    end = std::min(out.find('\0', at), out.size());
    argv.push_back(out.substr(at, end - at));
  }
  return argv;
}

// A desktop entry's Exec with %F made the files, each as quote writes it, and %% made '%'
// (other codes dropped), as both GIO and KIO paste them.
std::string PasteFiles(const std::string& exec, const Argv& files, std::string (*quote)(const std::string&)) {
  std::string line;
  for (size_t i = 0; i < exec.size(); ++i) {
    if (exec[i] != '%' || i + 1 == exec.size()) {
      line += exec[i];
    } else if (exec[++i] == '%') {
      line += '%';
    } else if (exec[i] == 'F') {
      for (size_t k = 0; k < files.size(); ++k) line += (k ? " " : "") + quote(files[k]);
    }
  }
  return line;
}

// GIO (Nautilus, Nemo, GNOME's launchers) on a desktop entry: each file g_shell_quote'd,
// then g_shell_parse_argv.
bool GioLaunch(const std::string& exec, const Argv& files, Argv* argv) {
  return ShellParse(PasteFiles(exec, files, ShellQuote), argv);
}

// KIO (Dolphin) on a desktop entry or service menu: each file quoted as KShell does
// (single quotes, ' as '\''); the line is then split by the shell's rules (KIO hands a
// line with shell syntax left in it to /bin/sh), here by /bin/sh itself.
std::string KShellQuote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

bool KioLaunch(const std::string& exec, const Argv& files, Argv* argv) {
  FILE* p = popen(("printf '%s\\0' " + PasteFiles(exec, files, KShellQuote)).c_str(), "r");
  if (!p) return false;
  std::string out;
  char buffer[4096];
  while (size_t n = fread(buffer, 1, sizeof buffer, p)) out.append(buffer, n);
  if (pclose(p) != 0) return false;
  *argv = SplitNul(out);
  return true;
}

// Nemo on an action. Its Exec line is a string into which each token's text is pasted
// (the first '%' that is no token ends the pasting), every file of %F or %U in turn,
// separated by a space and each between the quote of Quote=; then g_shell_parse_argv.
// Before 5.6 (Ubuntu 22.04 has 5.2) a path is pasted as it is, EscapeSpaces=true putting a
// backslash before each space (some of those versions also put one before a quote, which
// breaks single and double quoting alike); from 5.6 on it is escaped for the quote it
// stands in. A URL (%U) is pasted as GLib makes it in every version.
enum class Nemo { Before5_6, From5_6 };

std::string NemoPath(Nemo version, const std::string& quote, bool escapeSpaces, const std::string& path) {
  std::string out;
  for (char c : path) {
    if (version == Nemo::Before5_6) {
      out += escapeSpaces && c == ' ' ? std::string("\\ ") : std::string(1, c);
    } else if (quote == "double") {
      out += c == '"' || c == '\\' ? std::string("\\") + c : std::string(1, c);
    } else if (quote == "single") {
      out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    } else {
      out += c == '\n' ? std::string("'\n'") : std::string(" \t'\"\\#").find(c) != std::string::npos
                                                  ? std::string("\\") + c
                                                  : std::string(1, c);
    }
  }
  return out;
}

bool NemoLaunch(Nemo version, const KeyFile& action, const Argv& files, Argv* argv) {
  const char* group = "Nemo Action";
  const std::string quoteType = action.Get(group, "Quote");
  const std::string quote = quoteType == "single"     ? "'"
                            : quoteType == "double"   ? "\""
                            : quoteType == "backtick" ? "`"
                                                      : "";
  const bool escapeSpaces = action.Bool(group, "EscapeSpaces");
  std::string line = action.Get(group, "Exec");
  if (line.empty()) return false;
  for (size_t at = line.find('%'); at != std::string::npos && at + 1 < line.size(); at = line.find('%', at)) {
    const char token = line[at + 1];
    if (std::string("FUPfpDNeX%").find(token) == std::string::npos) break;
    std::string insertion;
    if (token == 'F' || token == 'U') {
      for (size_t k = 0; k < files.size(); ++k) {
        std::string text;
        if (token == 'U') {
          gchar* uri = g_filename_to_uri(files[k].c_str(), nullptr, nullptr);
          text = uri ? uri : "";
          g_free(uri);
        } else {
          text = NemoPath(version, quoteType, escapeSpaces, files[k]);
        }
        insertion += (k ? " " : "") + quote + text + quote;
      }
    } else if (token == '%') {
      insertion = "%";
    }
    line.replace(at, 2, insertion);
    at += insertion.size();
  }
  return ShellParse(line, argv);
}

// Nautilus runs a script in the folder shown: it pastes each selected name (relative to
// that folder) g_shell_quote'd after the script into a command line that GLib then reads
// as a desktop entry's Exec with " %f" added (every '%' sequence a field code of its own,
// dropped here), and sets $NAUTILUS_SCRIPT_SELECTED_URIS, one URL a line.
std::string NoQuote(const std::string& text) { return text; }

bool RunScript(const std::string& script, const std::string& shown, const Argv& paths, const std::string& record,
               Argv* argv) {
  std::string line = ShellQuote(script), uris;
  for (const std::string& path : paths) {
    line += " " + ShellQuote(path.substr(shown.size() + 1));
    gchar* uri = g_filename_to_uri(path.c_str(), nullptr, nullptr);
    uris += std::string(uri ? uri : "") + "\n";
    g_free(uri);
  }
  Argv args;
  if (!ShellParse(PasteFiles(line + " %f", {}, NoQuote), &args)) return false;
  const pid_t child = fork();
  if (child == 0) {
    if (chdir(shown.c_str()) != 0) _exit(126);
    std::vector<char*> pointers;
    for (std::string& arg : args) pointers.push_back(arg.data());
    pointers.push_back(nullptr);
    setenv("NAUTILUS_SCRIPT_SELECTED_URIS", uris.c_str(), 1);
    setenv("QV3_TEST_RECORD", record.c_str(), 1);
    execv(pointers[0], pointers.data());
    _exit(127);
  }
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return false;
  *argv = SplitNul(Read(record));
  return true;
}

// The files the viewer takes from its arguments: after the program, the road (none for
// the desktop entry, which views), --uris when given, and "--", every argument is a file
// (each file:// URL read back with --uris).
bool ViewerFiles(const Argv& argv, const std::string& program, const std::string& road, Argv* files,
                 std::string* why) {
  size_t at = 1;
  if (argv.empty() || argv[0] != program) return *why = "does not start the program", false;
  if (!road.empty() && (argv.size() <= at || argv[at++] != road)) return *why = "does not take the road " + road, false;
  const bool uris = argv.size() > at && argv[at] == "--uris";
  if (uris) ++at;
  if (argv.size() <= at || argv[at++] != "--") return *why = "has no \"--\" before the files", false;
  files->clear();
  for (; at < argv.size(); ++at) {
    std::string path = argv[at];
    if (uris && !PathFromFileUrl(argv[at], &path)) return *why = "gives no file:// URL: " + argv[at], false;
    files->push_back(path);
  }
  return true;
}

std::string Printable(const Argv& argv) {
  std::string text;
  for (const std::string& a : argv) {
    text += text.empty() ? "[" : ", ";
    for (unsigned char c : a) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", c);
      text += c < 0x20 || c >= 0x7f ? std::string(hex) : std::string(1, static_cast<char>(c));
    }
  }
  return text + "]";
}

// One installed entry and how its file manager starts it.
struct Entry {
  std::string what;     // where it comes from, for the messages
  std::string program;  // argv[0] it must start
  std::string road;     // --encrypt or --decrypt-here
  // Starts the entry on files (absolute paths in folder); false when nothing would run.
  std::function<bool(const Argv& files, const std::string& folder, Argv* argv)> launch;
};

// The entries of one desktop-style file, each way it is started.
void AddEntries(std::vector<Entry>* entries, const std::string& what, const std::string& text,
                const std::string& program) {
  const bool nemo = text.find("[Nemo Action]") != std::string::npos;
  const bool service = text.find("Type=Service") != std::string::npos;
  std::string road;
  for (const char* r : {"--encrypt", "--decrypt-here"})
    if (text.find(std::string(" ") + r + " ") != std::string::npos) road = r;
  if (nemo) {
    for (Nemo version : {Nemo::Before5_6, Nemo::From5_6}) {
      entries->push_back({what + (version == Nemo::Before5_6 ? " (Nemo 5.2)" : " (Nemo 5.6 and later)"), program, road,
                          [text, version](const Argv& files, const std::string&, Argv* argv) {
                            KeyFile action(text);
                            return action.Loaded() && NemoLaunch(version, action, files, argv);
                          }});
    }
    return;
  }
  // Dolphin reads the Exec of the service menu's action (the one its Actions names); every
  // desktop's launcher reads the desktop entry's own.
  const std::string actions = DesktopFileValue(text, "Desktop Entry", "Actions");
  const std::string group = service ? "Desktop Action " + actions.substr(0, actions.find(';')) : "Desktop Entry";
  entries->push_back({what + " (KIO)", program, road, [text, group](const Argv& files, const std::string&, Argv* argv) {
                        return KioLaunch(DesktopFileValue(text, group, "Exec"), files, argv);
                      }});
  if (!service) {
    entries->push_back({what + " (GIO)", program, road, [text](const Argv& files, const std::string&, Argv* argv) {
                          KeyFile entry(text);
                          return entry.Loaded() && GioLaunch(entry.Get("Desktop Entry", "Exec"), files, argv);
                        }});
  }
}

const char* const kPackageFiles[] = {
    "tarvessin-viewer.desktop",
    "kio/servicemenus/tarvessin-viewer-encrypt.desktop",
    "kio/servicemenus/tarvessin-viewer-decrypt-here.desktop",
    "nemo/actions/tarvessin-viewer-encrypt.nemo_action",
    "nemo/actions/tarvessin-viewer-decrypt-here.nemo_action",
};

// Where --register puts a file the package installs at file under a data folder.
std::string UnderDataHome(const std::string& file) {
  return file.find('/') == std::string::npos ? "applications/" + file : file;
}

XdgRegistration Registration(const std::string& program) {
  XdgRegistration r;
  r.programPath = program;
  r.mimePackage = Read(std::string(QV3_LINUX_RESOURCES_DIR) + "/tarvessin-viewer.xml");
  r.desktopTemplate = Read(std::string(QV3_LINUX_RESOURCES_DIR) + "/tarvessin-viewer.desktop.in");
  for (const char* menu : kFileManagerMenus)
    r.menuTemplates.push_back(Read(std::string(QV3_LINUX_RESOURCES_DIR) + "/" + menu + ".in"));
  return r;
}

XdgFolders PrivateFolders(const TempDir& root) {
  XdgFolders f;
  f.configHome = root / "config";
  f.configDirs = {root / "etc-xdg"};
  f.dataHome = root / "data";
  f.dataDirs = {root / "share"};
  return f;
}

}  // namespace

// Every entry the package installs (as the build configures them) and --register writes
// (for a program at a path no shell may misread), started on each hostile name alone and
// on all of them at once: each name arrives as one argument, unchanged, with nothing run
// on the way.
TEST(MenuArguments, EveryEntryPassesEveryNameAsOneArgument) {
  TempDir root;
  const std::string folder = root / "it's a \"folder\" $HOME";
  fs::create_directories(folder);
  Argv files;
  for (const std::string& name : kHostileNames) {
    files.push_back(folder + "/" + name);
    Write(files.back(), "x");
  }

  std::vector<Entry> entries;
  for (const char* file : kPackageFiles) {
    const std::string text = Read(std::string(QV3_PACKAGE_FILES_DIR) + "/" + file);
    ASSERT_FALSE(text.empty()) << "the build made no " << file;
    AddEntries(&entries, std::string("package ") + file, text, "tarvessin-viewer");
  }

  // A stand-in for the program that records what it was given.
  const std::string program = (root / "bin 'x' `y` \"$z\"") + "/tarvessin-viewer";
  Write(program, "#!/bin/sh\nprintf '%s\\0' \"$0\" \"$@\" > \"$QV3_TEST_RECORD\"\n", fs::perms::owner_all);
  const XdgFolders f = PrivateFolders(root);
  XdgRegistration r = Registration(program);
  r.englishScriptNames = true;
  ASSERT_TRUE(RegisterXdgFileType(f, r, nullptr));
  for (const char* file : kPackageFiles)
    AddEntries(&entries, std::string("--register ") + file, Read(f.dataHome + "/" + UnderDataHome(file)), program);
  for (const auto& [name, road] : {std::pair<std::string, std::string>{"Encrypt with password…", "--encrypt"},
                                   {"Decrypt here", "--decrypt-here"}}) {
    const std::string script = f.dataHome + "/nautilus/scripts/" + name;
    const std::string record = root / "record";
    entries.push_back({"--register Nautilus script " + name, program, road,
                       [script, record](const Argv& paths, const std::string& shown, Argv* argv) {
                         return RunScript(script, shown, paths, record, argv);
                       }});
  }
  ASSERT_EQ(entries.size(), 2u + 2 + 4 + 2 + 2 + 4 + 2);

  std::vector<Argv> selections{files};
  for (const std::string& file : files) selections.push_back({file});
  for (const Entry& entry : entries) {
    for (const Argv& selection : selections) {
      SCOPED_TRACE(entry.what + " on " + Printable(selection));
      Argv argv, got;
      std::string why;
      if (!entry.launch(selection, folder, &argv)) {
        ADD_FAILURE() << "the line cannot be split: nothing would run";
        continue;
      }
      EXPECT_TRUE(ViewerFiles(argv, entry.program, entry.road, &got, &why) && got == selection)
          << why << "; the viewer is given " << Printable(argv);
    }
  }
  EXPECT_FALSE(fs::exists("pwned") || fs::exists(folder + "/pwned")) << "a name was run as a command";
  ASSERT_TRUE(UnregisterXdgFileType(f, nullptr));
}

// Each entry hides itself once its program is gone, as its file manager decides: the
// desktop entry and Dolphin's menus by TryExec, Nemo's actions by Dependencies (an
// absolute one must exist, another be found through PATH); a Nautilus script, which
// cannot hide, says so and runs nothing. The package's entries name the program through
// PATH, --register's by its path.
TEST(MenuArguments, EveryEntryHidesOnceItsProgramIsGone) {
  TempDir root;
  const std::string bin = root / "bin";
  const std::string program = bin + "/tarvessin-viewer";
  Write(program, "#!/bin/sh\nexit 0\n", fs::perms::owner_all);
  const XdgFolders f = PrivateFolders(root);
  ASSERT_TRUE(RegisterXdgFileType(f, Registration(program), nullptr));

  struct Installed {
    std::string what, text;
  };
  std::vector<Installed> installed;
  for (const char* file : kPackageFiles) {
    installed.push_back({std::string("package ") + file, Read(std::string(QV3_PACKAGE_FILES_DIR) + "/" + file)});
    installed.push_back({std::string("--register ") + file, Read(f.dataHome + "/" + UnderDataHome(file))});
  }
  const std::string savedPath = std::getenv("PATH") ? std::getenv("PATH") : "";
  setenv("PATH", (bin + ":" + savedPath).c_str(), 1);
  auto shown = [](const std::string& text) {
    KeyFile file(text);
    if (text.find("[Nemo Action]") != std::string::npos) {
      const Argv dependencies = file.List("Nemo Action", "Dependencies");
      if (dependencies.empty()) return true;
      for (const std::string& d : dependencies) {
        gchar* found = g_path_is_absolute(d.c_str()) ? nullptr : g_find_program_in_path(d.c_str());
        const bool there =
            g_path_is_absolute(d.c_str()) ? g_file_test(d.c_str(), G_FILE_TEST_EXISTS) != FALSE : found != nullptr;
        g_free(found);
        if (!there) return false;
      }
      return true;
    }
    const std::string tryExec = file.Get("Desktop Entry", "TryExec");
    return tryExec.empty() || ProgramExists(tryExec);
  };
  for (const Installed& entry : installed) EXPECT_TRUE(shown(entry.text)) << entry.what << " with its program there";
  fs::remove(program);
  for (const Installed& entry : installed) EXPECT_FALSE(shown(entry.text)) << entry.what << " once its program is gone";
  setenv("PATH", savedPath.c_str(), 1);

  for (const char* name : {"암호 파일로 만들기…", "여기에 풀기"}) {
    // Without a session bus or a display neither a notification nor a box can be shown:
    // standard error is left.
    const std::string command = "cd / && env -u DISPLAY -u WAYLAND_DISPLAY -u DBUS_SESSION_BUS_ADDRESS " +
                                ShellQuote(f.dataHome + "/nautilus/scripts/" + name) + " a.txt 2>&1";
    FILE* p = popen(command.c_str(), "r");
    ASSERT_NE(p, nullptr);
    std::string said;
    char buffer[512];
    while (size_t n = fread(buffer, 1, sizeof buffer, p)) said.append(buffer, n);
    const int status = pclose(p);
    EXPECT_EQ(WEXITSTATUS(status), 127) << name;
    EXPECT_NE(said.find(program), std::string::npos) << name << ": " << said;
  }
  ASSERT_TRUE(UnregisterXdgFileType(f, nullptr));
}
