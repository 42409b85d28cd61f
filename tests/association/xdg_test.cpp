// The XDG association: desktop entries and their Exec lines, the default application of a
// MIME type checked against the desktop's own tool (xdg-mime), and registration and its
// exact removal in private XDG folders.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "association/xdg_applications.h"
#include "association/xdg_association.h"
#include "association/xdg_launch.h"
#include "container/naming.h"
#include "tests/test_util.h"

using testutil::TempDir;
namespace fs = std::filesystem;

namespace {

void Write(const std::string& path, const std::string& text) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

std::string Read(const std::string& path) {
  std::string text;
  ReadTextFile(path, &text);
  return text;
}

// Every file below root with its content, and every folder.
std::map<std::string, std::string> Snapshot(const std::string& root) {
  std::map<std::string, std::string> tree;
  if (!fs::exists(root)) return tree;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    const std::string relative = fs::relative(e.path(), root).string();
    tree[relative] = e.is_directory() ? "<folder>" : Read(e.path().string());
  }
  return tree;
}

// The output of a command (stdout, trailing line break removed).
std::string Output(const std::string& command) {
  std::string out;
  if (FILE* p = popen(command.c_str(), "r")) {
    char buffer[512];
    while (size_t n = fread(buffer, 1, sizeof buffer, p)) out.append(buffer, n);
    pclose(p);
  }
  while (!out.empty() && out.back() == '\n') out.pop_back();
  return out;
}

std::string ShellQuote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// Private XDG folders inside a scratch folder.
struct Desktop {
  TempDir root;
  XdgFolders folders;
  std::vector<std::string> given;  // $XDG_CURRENT_DESKTOP as set
  explicit Desktop(std::vector<std::string> desktops = {}) : given(desktops) {
    folders.configHome = root / "config";
    folders.configDirs = {root / "etc-xdg"};
    folders.dataHome = root / "data";
    folders.dataDirs = {root / "share"};
    for (std::string& d : desktops)
      for (char& c : d) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    folders.desktops = desktops;
  }
  // The same folders for a program started by a shell.
  std::string Environment() const {
    std::string current;
    for (const std::string& d : given) current += (current.empty() ? "" : ":") + d;
    return "env -i PATH=" + ShellQuote(std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin") +
           " HOME=" + ShellQuote(root.path()) + " XDG_CONFIG_HOME=" + ShellQuote(folders.configHome) +
           " XDG_CONFIG_DIRS=" + ShellQuote(folders.configDirs[0]) + " XDG_DATA_HOME=" + ShellQuote(folders.dataHome) +
           " XDG_DATA_DIRS=" + ShellQuote(folders.dataDirs[0]) + " XDG_CURRENT_DESKTOP=" + ShellQuote(current) + " ";
  }
  void App(const std::string& relative, const std::string& exec, const std::string& extra = "") const {
    Write(relative, "[Desktop Entry]\nType=Application\nName=" + fs::path(relative).stem().string() + "\nExec=" + exec +
                        "\n" + extra);
  }
};

bool HaveTool(const char* tool) { return ProgramExists(tool); }

}  // namespace

// What an Exec line starts for one file: quoting, field codes, and a file name that
// never reaches a shell text however it is spelt.
TEST(XdgExec, FieldCodesQuotingAndTheFile) {
  const std::string file = "/run/user/1000/QV3V/보고서 $(rm -rf ~) \"q\" 100%.txt";
  struct Case {
    const char* exec;
    std::vector<std::string> argv;  // "FILE" and "URL" stand for the file
  } cases[] = {
      {"viewer %f", {"viewer", "FILE"}},
      {"viewer %F", {"viewer", "FILE"}},
      {"viewer --open=%f", {"viewer", "--open=FILE"}},
      {"viewer %U", {"viewer", "URL"}},
      {"viewer", {"viewer", "FILE"}},
      {"viewer %d %n %f", {"viewer", "FILE"}},
      {"viewer %i --title %c %k %f", {"viewer", "--icon", "doc-icon", "--title", "Doc Viewer", "ENTRY", "FILE"}},
      {"\"/opt/my apps/viewer\" \"a \\\"b\\\" \\$c \\\\d\" 50%% %f", {"/opt/my apps/viewer", "a \"b\" $c \\d", "50%", "FILE"}},
      {"sh -c \"cat %f\"", {"sh", "-c", "cat %f", "FILE"}},
      {"  viewer   \"\"  %f  ", {"viewer", "", "FILE"}},
  };
  for (const Case& c : cases) {
    DesktopEntry entry;
    entry.exec = c.exec;
    entry.icon = "doc-icon";
    entry.name = "Doc Viewer";
    entry.path = "/usr/share/applications/doc.desktop";
    std::vector<std::string> expected;
    for (std::string a : c.argv) {
      for (auto [from, to] : {std::pair<std::string, std::string>{"FILE", file}, {"URL", FileUrl(file)},
                              {"ENTRY", entry.path}})
        if (size_t at = a.find(from); at != std::string::npos) a.replace(at, from.size(), to);
      expected.push_back(a);
    }
    std::vector<std::string> argv;
    ASSERT_TRUE(LaunchCommand(entry, file, &argv)) << c.exec;
    EXPECT_EQ(argv, expected) << c.exec;
  }

  DesktopEntry entry;
  entry.exec = "viewer \"unclosed %f";
  std::vector<std::string> argv;
  EXPECT_FALSE(LaunchCommand(entry, file, &argv));
  entry.exec = "%d";
  EXPECT_FALSE(LaunchCommand(entry, file, &argv));
  entry.exec = "vim %F";
  entry.terminal = true;
  ASSERT_TRUE(LaunchCommand(entry, file, &argv));
  EXPECT_EQ(argv, (std::vector<std::string>{"x-terminal-emulator", "-e", "vim", file}));
  EXPECT_EQ(FileUrl("/a b/%/가"), "file:///a%20b/%25/%EA%B0%80");

  // What Nemo gives the viewer read back: a local file:// URL only, every escape undone,
  // none that would change the path's folders or end it early.
  std::string path;
  EXPECT_TRUE(PathFromFileUrl(FileUrl("/a b/%/가\xff"), &path) && path == "/a b/%/가\xff") << path;
  EXPECT_TRUE(PathFromFileUrl("FILE://localhost/x'y$(z)", &path) && path == "/x'y$(z)") << path;
  for (const char* refused : {"sftp://host/x", "file://host/x", "file:x", "/plain/path", "file:///a%2Fb",
                              "file:///a%00", "file:///a%4", "file:///a%zz"})
    EXPECT_FALSE(PathFromFileUrl(refused, &path)) << refused;
}

// Whatever the program's path, the desktop entry written for it starts exactly that
// program on the files, and the desktop's own validator accepts it.
TEST(XdgExec, AnyProgramPathSurvivesTheDesktopEntry) {
  TempDir dir;
  const std::string paths[] = {"/usr/bin/tarvessin-viewer", "/opt/My Apps/tarvessin-viewer",
                               "/home/u/빌드/a\"b$c`d\\e'f;g&h%i/tarvessin-viewer", "/tmp/tab\there/v"};
  const std::string tmpl = "[Desktop Entry]\nType=Application\nName=V\nExec=@EXEC@ %F\nMimeType=application/x-a;\n";
  for (const std::string& program : paths) {
    const std::string path = dir / "v.desktop";
    Write(path, DesktopEntryFor(tmpl, program));
    DesktopEntry entry;
    ASSERT_TRUE(ReadDesktopEntry(path, &entry));
    std::vector<std::string> argv;
    ASSERT_TRUE(LaunchCommand(entry, "/x/y z.aqv3", &argv)) << entry.exec;
    EXPECT_EQ(argv, (std::vector<std::string>{program, "/x/y z.aqv3"})) << Read(path);
    if (HaveTool("desktop-file-validate")) {
      EXPECT_EQ(Output("desktop-file-validate " + ShellQuote(path) + " 2>&1"), "") << Read(path);
    }
  }
}

// Our resolution of the default application against `xdg-mime query default`, which
// desktops without their own tools use, over layouts of each source it reads.
TEST(XdgDefaultApplication, AgreesWithXdgMime) {
  if (!HaveTool("xdg-mime")) GTEST_SKIP() << "xdg-mime is not installed";
  const std::string type = "application/x-qv3-test";
  struct Case {
    const char* name;
    std::vector<std::string> desktops;
    std::function<void(const Desktop&)> lay;
    const char* expected;  // desktop file name, "" for none
  } cases[] = {
      {"nothing", {}, [](const Desktop&) {}, ""},
      {"config mimeapps.list", {},
       [&](const Desktop& d) {
         d.App(d.folders.dataDirs[0] + "/applications/a.desktop", "sh %f");
         Write(d.folders.configHome + "/mimeapps.list", "[Added Associations]\n" + type + "=x.desktop;\n\n"
                                                        "[Default Applications]\n" + type + "=a.desktop;\n");
       },
       "a.desktop"},
      {"the current desktop's list first", {"Test", "Other"},
       [&](const Desktop& d) {
         d.App(d.folders.dataDirs[0] + "/applications/a.desktop", "sh %f");
         d.App(d.folders.dataHome + "/applications/b.desktop", "sh %f");
         Write(d.folders.configHome + "/mimeapps.list", "[Default Applications]\n" + type + "=a.desktop;\n");
         Write(d.folders.configHome + "/test-mimeapps.list", "[Default Applications]\n" + type + "=b.desktop;\n");
       },
       "b.desktop"},
      {"config folders, then the data home's list", {},
       [&](const Desktop& d) {
         d.App(d.folders.dataDirs[0] + "/applications/a.desktop", "sh %f");
         d.App(d.folders.dataDirs[0] + "/applications/b.desktop", "sh %f");
         Write(d.folders.configDirs[0] + "/mimeapps.list", "[Default Applications]\n" + type + "=b.desktop;\n");
         Write(d.folders.dataHome + "/applications/mimeapps.list", "[Default Applications]\n" + type + "=a.desktop;\n");
       },
       "b.desktop"},
      {"a default whose program is missing is passed over", {},
       [&](const Desktop& d) {
         d.App(d.folders.dataDirs[0] + "/applications/gone.desktop", "/nonexistent/viewer %f");
         d.App(d.folders.dataDirs[0] + "/applications/a.desktop", "sh %f");
         Write(d.folders.configHome + "/mimeapps.list", "[Default Applications]\n" + type + "=gone.desktop;\n");
         Write(d.folders.dataDirs[0] + "/applications/mimeinfo.cache", "[MIME Cache]\n" + type + "=a.desktop;\n");
       },
       "a.desktop"},
      {"the desktop database", {},
       [&](const Desktop& d) {
         d.App(d.folders.dataDirs[0] + "/applications/a.desktop", "sh %f");
         Write(d.folders.dataDirs[0] + "/applications/mimeinfo.cache", "[MIME Cache]\n" + type + "=a.desktop;b.desktop;\n");
       },
       "a.desktop"},
      {"defaults.list", {},
       [&](const Desktop& d) {
         d.App(d.folders.dataHome + "/applications/c.desktop", "sh %f");
         Write(d.folders.dataHome + "/applications/defaults.list", "[Default Applications]\n" + type + "=c.desktop\n");
       },
       "c.desktop"},
      {"a vendor folder", {},
       [&](const Desktop& d) {
         d.App(d.folders.dataDirs[0] + "/applications/vendor/app.desktop", "sh %f");
         Write(d.folders.configHome + "/mimeapps.list", "[Default Applications]\n" + type + "=vendor-app.desktop;\n");
       },
       "vendor-app.desktop"},
      {"the highest InitialPreference of the entries listing the type", {},
       [&](const Desktop& d) {
         d.App(d.folders.dataDirs[0] + "/applications/low.desktop", "sh %f", "MimeType=" + type + ";\nInitialPreference=5\n");
         d.App(d.folders.dataDirs[0] + "/applications/high.desktop", "sh %f", "MimeType=text/plain;" + type + ";\nInitialPreference=9\n");
         d.App(d.folders.dataDirs[0] + "/applications/other.desktop", "sh %f", "MimeType=text/plain;\nInitialPreference=20\n");
       },
       "high.desktop"},
  };
  for (const Case& c : cases) {
    Desktop desktop(c.desktops);
    c.lay(desktop);
    const std::string ours = fs::path(DefaultApplication(desktop.folders, type)).filename().string();
    // Our answer is a path; the desktop's tool names the ID.
    const std::string id = ours == "app.desktop" ? "vendor-app.desktop" : ours;
    EXPECT_EQ(id, c.expected) << c.name;
    EXPECT_EQ(Output(desktop.Environment() + "xdg-mime query default " + type + " 2>/dev/null"), c.expected) << c.name;
  }
}

TEST(XdgMimeApps, SettingAndRemovingTheDefaultRestoresTheFile) {
  const std::string t = "application/x-tarvessin-container", id = "tarvessin-viewer.desktop";
  const std::string before[] = {
      "",
      "[Default Applications]\ntext/plain=gedit.desktop;\n",
      "[Added Associations]\nimage/png=eog.desktop;\n",
      "# mine\n[Default Applications]\n" + t + "=other.desktop;\n\n[Added Associations]\nimage/png=eog.desktop;\n",
      "[Default Applications]\n",
      // Found by fuzz_mimeapps: each lost or changed a byte that was not ours.
      "[Added Associations]\nimage/png=eog.desktop;",                    // no final newline
      "[Added Associations]\nimage/png=eog.desktop;\n\n",               // a blank line at the end
      "[Default Applications]\r\n# mine, keep\r\n",                   // a group holding only a comment
      "[Default Applications]\n " + t + " = other.desktop ;x.desktop\n",  // their spacing, no last ';'
      "[Default Applications]\n" + t + "=\n" + t + "=later.desktop;\n",     // a line naming nothing
  };
  for (const std::string& text : before) {
    const std::string set = EditMimeApps(text, t, id, true);
    // Ours comes first in the line a desktop reads; what was there stays.
    EXPECT_EQ(MimeAppsDefaults(set, t).at(0), id) << set;
    EXPECT_EQ(EditMimeApps(set, t, id, true), set) << "setting twice changes nothing";
    const std::string removed = EditMimeApps(set, t, id, false);
    EXPECT_EQ(removed, text == "[Default Applications]\n" ? "" : text) << set;
  }
  // Every line naming ours goes on removal, not only the first a desktop reads.
  const std::string twice = "[Default Applications]\n" + t + "=" + id + ";\n" + t + "=" + id + ";a.desktop\n" +
                            "[Default Applications]\n" + t + "=" + id + ";\n";
  EXPECT_EQ(EditMimeApps(twice, t, id, false), "[Default Applications]\n" + t + "=a.desktop\n");
  // Another program made the default afterwards: its line stays, byte for byte.
  for (const std::string& theirs : {"[Default Applications]\n" + t + "=other.desktop;\n",
                                    "[Default Applications]\n  " + t + " = other.desktop ;x.desktop\n"})
    EXPECT_EQ(EditMimeApps(theirs, t, id, false), theirs);
}

// A terminal program's entry is launchable only when both the terminal and the program
// are there.
TEST(XdgExec, ATerminalEntryNeedsItsOwnProgramToo) {
  TempDir bin;
  const std::string terminal = bin.Write("x-terminal-emulator", "#!/bin/sh\n");
  fs::permissions(terminal, fs::perms::owner_all);
  const char* oldPath = std::getenv("PATH");
  const std::string saved = oldPath ? oldPath : "";
  setenv("PATH", (bin.path() + ":" + saved).c_str(), 1);
  DesktopEntry entry;
  entry.type = "Application";
  entry.terminal = true;
  entry.exec = "sh %f";
  EXPECT_TRUE(IsLaunchable(entry));
  entry.exec = "/nonexistent/editor %f";
  EXPECT_FALSE(IsLaunchable(entry));
  setenv("PATH", saved.c_str(), 1);
}

// The value of key in group of a desktop-style file, as written (escapes kept).
std::string Value(const std::string& text, const std::string& group, const std::string& key) {
  const size_t start = text.find("[" + group + "]\n");
  if (start == std::string::npos) return "";
  const size_t end = text.find("\n[", start + 1);
  const size_t at = text.find("\n" + key + "=", start);
  if (at == std::string::npos || at > end) return "";
  const size_t from = at + key.size() + 2;
  return text.substr(from, text.find('\n', from) - from);
}

// The MIME package and the menus that show on containers name exactly the extensions of
// the naming table, no more, no fewer.
TEST(XdgAssociation, EveryListOfContainerExtensionsIsTheNamingTables) {
  std::set<std::string> table;
  for (const std::string& extension : ContainerExtensions()) table.insert(extension);
  EXPECT_EQ(table.size(), 14u);
  const std::string package = Read(std::string(QV3_LINUX_RESOURCES_DIR) + "/tarvessin-viewer.xml");
  std::set<std::string> globs;
  for (size_t at = 0; (at = package.find("<glob pattern=\"*.", at)) != std::string::npos; ++at)
    globs.insert(package.substr(at + 17, package.find('"', at + 17) - at - 17));
  EXPECT_EQ(globs, table) << "the MIME package";
  EXPECT_NE(package.find(std::string("type=\"") + kContainerMimeType + "\""), std::string::npos);
  const std::string nemo =
      Read(std::string(QV3_LINUX_RESOURCES_DIR) + "/nemo/actions/tarvessin-viewer-decrypt-here.nemo_action.in");
  const std::string line = Value(nemo, "Nemo Action", "Extensions");
  std::set<std::string> listed;
  for (size_t from = 0, to; (to = line.find(';', from)) != std::string::npos; from = to + 1)
    listed.insert(line.substr(from, to - from));
  EXPECT_EQ(listed.erase("dir"), 1u) << "Nemo's decrypt-here action on folders: " << line;
  EXPECT_EQ(listed, table) << "Nemo's decrypt-here action: " << line;
}

std::vector<std::string> MenuTemplates() {
  std::vector<std::string> templates;
  for (const char* menu : kFileManagerMenus)
    templates.push_back(Read(std::string(QV3_LINUX_RESOURCES_DIR) + "/" + menu + ".in"));
  return templates;
}

// The file managers' menus: each starts the program it was written for on the road of
// its verb with the selected files, shows on the files it is for, and the Nautilus
// scripts (named after the verbs in the language asked for) leave a user's own script
// of the same name alone.
TEST(XdgAssociation, FileManagerMenusStartTheirRoadOnTheSelection) {
  Desktop desktop;
  const XdgFolders& f = desktop.folders;
  TempDir bin;
  // A stand-in program that says what it was given, at a path no shell may misread.
  const std::string program = (bin / "it's $HOME `x` \"y\"") + "/tarvessin-viewer";
  Write(program, "#!/bin/sh\nprintf '%s|' \"$0\" \"$@\"\n");
  fs::permissions(program, fs::perms::owner_all);
  XdgRegistration r;
  r.programPath = program;
  r.mimePackage = Read(std::string(QV3_LINUX_RESOURCES_DIR) + "/tarvessin-viewer.xml");
  r.desktopTemplate = Read(std::string(QV3_LINUX_RESOURCES_DIR) + "/tarvessin-viewer.desktop.in");
  r.menuTemplates = MenuTemplates();
  ASSERT_TRUE(RegisterXdgFileType(f, r, nullptr));

  const struct {
    const char* path;
    const char* group;  // of the Exec line
    const char* road;
    const char* shownOn;  // the key and value saying which files it is for
  } menus[] = {
      // Files and folders (all/all, not all/allfiles).
      {"kio/servicemenus/tarvessin-viewer-encrypt.desktop", "Desktop Action encrypt", "--encrypt",
       "MimeType=all/all;"},
      {"kio/servicemenus/tarvessin-viewer-decrypt-here.desktop", "Desktop Action decryptHere", "--decrypt-here",
       "MimeType=application/x-tarvessin-container;application/x-aes-encrypted;inode/directory;"},
      {"nemo/actions/tarvessin-viewer-encrypt.nemo_action", "Nemo Action", "--encrypt", "Extensions=any;"},
      {"nemo/actions/tarvessin-viewer-decrypt-here.nemo_action", "Nemo Action", "--decrypt-here",
       "Extensions=aqv3;pqv3;"},
  };
  for (const auto& m : menus) {
    SCOPED_TRACE(m.path);
    const std::string path = f.dataHome + "/" + m.path;
    const std::string text = Read(path);
    EXPECT_NE(text.find(m.shownOn), std::string::npos);
    // Dolphin shows a user's service menu only when it may run it.
    EXPECT_EQ((fs::status(path).permissions() & fs::perms::owner_exec) != fs::perms::none,
              std::string(m.path).rfind("kio/", 0) == 0);
    // The Exec line is one the desktop's validator accepts (menu_arguments_test.cpp
    // starts each as its file manager does).
    const std::string entryPath = desktop.root / "exec.desktop";
    Write(entryPath, "[Desktop Entry]\nType=Application\nName=V\nExec=" + Value(text, m.group, "Exec") + "\n");
    DesktopEntry entry;
    ASSERT_TRUE(ReadDesktopEntry(entryPath, &entry));
    EXPECT_NE(entry.exec.find(m.road), std::string::npos);
    if (HaveTool("desktop-file-validate")) {
      EXPECT_EQ(Output("desktop-file-validate " + ShellQuote(entryPath) + " 2>&1"), "");
    }
  }
  // Every extension a container is named with shows "Decrypt here" in Nemo.
  const std::string nemo = Read(f.dataHome + "/nemo/actions/tarvessin-viewer-decrypt-here.nemo_action");
  for (const char* name : {"a.jpg", "a.ps", "a", "a.avi", "a.mp3", "a.xls", "a.doc", "a.ppt", "a.hwp", "a.pdf",
                           "a.gul", "a.dwg", "a.zip"})
    EXPECT_NE(nemo.find(std::string(ChooseEncryptedExtension(name, false)) + ";"), std::string::npos) << name;

  // Nautilus runs a script with the selected names, in the folder shown: they reach the
  // viewer absolute.
  const std::string scripts = f.dataHome + "/nautilus/scripts/";
  for (const auto& [name, road] : {std::pair<std::string, std::string>{"암호 파일로 만들기…", "--encrypt"},
                                   {"여기에 풀기", "--decrypt-here"}}) {
    EXPECT_EQ(Output("cd /tmp && " + ShellQuote(scripts + name) + " 'a b.txt' '-x' '$y' /abs"),
              program + "|" + road + "|--|/tmp/a b.txt|/tmp/-x|/tmp/$y|/abs|")
        << name;
  }

  // In English the scripts change names, nothing of the Korean ones is left; a user's
  // own script of a verb's name is never replaced or removed.
  Write(scripts + "Decrypt here", "#!/bin/sh\necho mine\n");
  r.englishScriptNames = true;
  EXPECT_FALSE(RegisterXdgFileType(f, r, nullptr)) << "a user's script was replaced in silence";
  EXPECT_EQ(Read(scripts + "Decrypt here"), "#!/bin/sh\necho mine\n");
  EXPECT_TRUE(fs::exists(scripts + "Encrypt with password…"));
  EXPECT_FALSE(fs::exists(scripts + "암호 파일로 만들기…"));
  EXPECT_TRUE(fs::exists(scripts + "여기에 풀기")) << "ours, and no English one took its place";
  ASSERT_TRUE(UnregisterXdgFileType(f, nullptr));
  EXPECT_EQ(Snapshot(f.dataHome + "/nautilus"),
            (std::map<std::string, std::string>{{"scripts", "<folder>"}, {"scripts/Decrypt here", "#!/bin/sh\necho mine\n"}}));
  EXPECT_FALSE(fs::exists(f.dataHome + "/kio"));
  EXPECT_FALSE(fs::exists(f.dataHome + "/nemo"));
}

// Registration in private folders: every fact recorded and found again by the desktop's
// tools; registering twice is the same; removal leaves the folders as they were, the
// user's own entries included.
TEST(XdgAssociation, RegisterThenUnregisterLeavesTheFoldersAsTheyWere) {
  Desktop desktop;
  const XdgFolders& f = desktop.folders;
  // What the user had before: another application, its database, other defaults.
  desktop.App(f.dataHome + "/applications/editor.desktop", "sh %f", "MimeType=text/plain;\n");
  Write(f.configHome + "/mimeapps.list", "[Default Applications]\ntext/plain=editor.desktop;\n");
  if (HaveTool("update-desktop-database")) Output("update-desktop-database " + ShellQuote(f.dataHome + "/applications"));
  const auto dataBefore = Snapshot(f.dataHome), configBefore = Snapshot(f.configHome);

  XdgRegistration r;
  r.programPath = "/opt/Tarvessin Viewer/tarvessin-viewer";
  r.mimePackage = Read(std::string(QV3_LINUX_RESOURCES_DIR) + "/tarvessin-viewer.xml");
  r.desktopTemplate = Read(std::string(QV3_LINUX_RESOURCES_DIR) + "/tarvessin-viewer.desktop.in");
  r.icons = {{16, "png16"}, {32, "png32"}};
  r.menuTemplates = MenuTemplates();
  ASSERT_TRUE(RegisterXdgFileType(f, r, nullptr));
  const auto registered = Snapshot(f.dataHome);
  ASSERT_TRUE(RegisterXdgFileType(f, r, nullptr));
  EXPECT_EQ(Snapshot(f.dataHome), registered) << "registering twice";

  DesktopEntry entry;
  ASSERT_TRUE(ReadDesktopEntry(f.dataHome + "/applications/tarvessin-viewer.desktop", &entry));
  EXPECT_EQ(entry.mimeTypes, (std::vector<std::string>{kContainerMimeType, kAesEncryptedMimeType}));
  EXPECT_EQ(entry.icon, kViewerIconName);
  std::vector<std::string> argv;
  ASSERT_TRUE(LaunchCommand(entry, "/a/b.aqv3", &argv));
  EXPECT_EQ(argv, (std::vector<std::string>{r.programPath, "--", "/a/b.aqv3"}));
  EXPECT_EQ(entry.tryExec, r.programPath);
  EXPECT_EQ(Read(f.dataHome + "/icons/hicolor/32x32/apps/tarvessin-viewer.png"), "png32");
  EXPECT_EQ(Read(f.configHome + "/mimeapps.list"),
            "[Default Applications]\n" + std::string(kAesEncryptedMimeType) + "=" + kViewerDesktopId + ";\n" +
                kContainerMimeType + "=" + kViewerDesktopId + ";\ntext/plain=editor.desktop;\n");
  if (HaveTool("update-mime-database")) {
    EXPECT_NE(Read(f.dataHome + "/mime/globs2").find("*.wqv3"), std::string::npos);
  }
  if (HaveTool("update-desktop-database")) {
    EXPECT_NE(Read(f.dataHome + "/applications/mimeinfo.cache").find(std::string(kContainerMimeType) + "=tarvessin-viewer.desktop"),
              std::string::npos);
  }
  if (HaveTool("xdg-mime")) {
    // The program itself need not exist for the tool: give it one that does.
    r.programPath = "/bin/sh";
    ASSERT_TRUE(RegisterXdgFileType(f, r, nullptr));
    for (const char* type : {kContainerMimeType, kAesEncryptedMimeType})
      EXPECT_EQ(Output(desktop.Environment() + "xdg-mime query default " + type), kViewerDesktopId) << type;
  }

  UnregisterXdgFileType(f, nullptr);
  EXPECT_EQ(Snapshot(f.dataHome), dataBefore);
  EXPECT_EQ(Snapshot(f.configHome), configBefore);
  UnregisterXdgFileType(f, nullptr);
  EXPECT_EQ(Snapshot(f.dataHome), dataBefore) << "removing what is not there";

  // On an empty home, nothing at all is left behind.
  Desktop empty;
  ASSERT_TRUE(RegisterXdgFileType(empty.folders, r, nullptr));
  UnregisterXdgFileType(empty.folders, nullptr);
  EXPECT_EQ(Snapshot(empty.folders.dataHome), (std::map<std::string, std::string>{}));
  EXPECT_EQ(Snapshot(empty.folders.configHome), (std::map<std::string, std::string>{}));
}

// The user's mimeapps.list is theirs: one that cannot be read is left alone (and the
// registration says it failed); one that is a link (a dotfile manager's) stays a link
// whose file gains and loses only our lines, its mode kept.
TEST(XdgAssociation, TheUsersMimeAppsListIsNeverReplaced) {
  XdgRegistration r;
  r.programPath = "/bin/sh";
  r.mimePackage = Read(std::string(QV3_LINUX_RESOURCES_DIR) + "/tarvessin-viewer.xml");
  r.desktopTemplate = Read(std::string(QV3_LINUX_RESOURCES_DIR) + "/tarvessin-viewer.desktop.in");

  Desktop unreadable;
  const std::string list = unreadable.folders.configHome + "/mimeapps.list";
  fs::create_directories(list);  // reading it fails, whoever runs the test
  Write(list + "/inside", "kept");
  EXPECT_FALSE(RegisterXdgFileType(unreadable.folders, r, nullptr));
  EXPECT_TRUE(fs::is_directory(list));
  EXPECT_EQ(Read(list + "/inside"), "kept");
  EXPECT_FALSE(UnregisterXdgFileType(unreadable.folders, nullptr));
  EXPECT_TRUE(fs::is_directory(list));

  Desktop linked;
  const std::string mine = "# my dotfiles\n[Default Applications]\ntext/plain=editor.desktop;\n";
  const std::string target = linked.root / "dotfiles/mimeapps.list";
  Write(target, mine);
  fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  const std::string link = linked.folders.configHome + "/mimeapps.list";
  fs::create_directories(linked.folders.configHome);
  fs::create_symlink(target, link);
  ASSERT_TRUE(RegisterXdgFileType(linked.folders, r, nullptr));
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(fs::read_symlink(link), target);
  EXPECT_NE(Read(target).find(std::string(kContainerMimeType) + "=" + kViewerDesktopId), std::string::npos);
  EXPECT_EQ(Read(target).rfind("# my dotfiles\n[Default Applications]\n", 0), 0u) << Read(target);
  EXPECT_NE(Read(target).find("text/plain=editor.desktop;\n"), std::string::npos) << Read(target);
  EXPECT_EQ(fs::status(target).permissions(), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  EXPECT_EQ(Snapshot(linked.root / "dotfiles").size(), 1u) << "no temporary file left beside it";
  ASSERT_TRUE(UnregisterXdgFileType(linked.folders, nullptr));
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(Read(target), mine);
  EXPECT_EQ(fs::status(target).permissions(), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

// What the viewer asks about before a desktop opens a file: types that run code, and
// applications that run the file they are given, but not a program that happens to be a
// script of its own.
TEST(XdgRunsCode, TypesAndTheProgramsThatRunTheirFile) {
  struct Case {
    std::vector<std::string> types;
    const char* exec;  // the default application's Exec line; null: none
    bool runsCode;
  };
  const Case cases[] = {
      {{"text/plain"}, "gedit %U", false},
      {{"application/x-desktop", "text/plain"}, "gedit %U", true},
      {{"text/x-csv", "application/x-shellscript"}, nullptr, true},
      {{"application/x-ms-dos-executable"}, nullptr, true},
      {{"application/vnd.microsoft.portable-executable", "application/x-msdownload"}, nullptr, true},
      {{"application/pdf"}, "wine start /unix %f", true},
      {{"application/pdf"}, "/usr/bin/wine64 %f", true},
      {{"text/x-java"}, "java -jar %f", true},
      {{"text/plain"}, "sh %f", true},
      {{"text/plain"}, "/usr/bin/python3 /usr/share/viewer/view.py %F", false},
      {{"text/plain"}, "env LANG=C mousepad %F", false},
      {{"text/plain"}, "okular %u", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.exec ? c.exec : c.types[0]);
    Desktop desktop;
    std::string application;
    if (c.exec) {
      application = desktop.root / "app.desktop";
      desktop.App(application, c.exec);
    }
    EXPECT_EQ(RunsCodeWhenOpened(c.types, application), c.runsCode);
  }
}

// With the package installed, its system-wide entries already start this program:
// --register writes no second desktop entry, MIME package, icon, service menu or Nemo
// action for the user (Nemo would list both; an earlier registration's copies go), only
// the Nautilus scripts the package cannot install, and the default in mimeapps.list. An
// entry of the same name for another program does not count.
TEST(XdgAssociation, RegisteringBesideThePackageWritesNoSecondEntry) {
  Desktop desktop;
  const XdgFolders& f = desktop.folders;
  TempDir bin;
  const std::string program = bin / "tarvessin-viewer";
  Write(program, "#!/bin/sh\n");
  fs::permissions(program, fs::perms::owner_all);
  XdgRegistration r;
  r.programPath = program;
  r.mimePackage = Read(std::string(QV3_LINUX_RESOURCES_DIR) + "/tarvessin-viewer.xml");
  r.desktopTemplate = Read(std::string(QV3_LINUX_RESOURCES_DIR) + "/tarvessin-viewer.desktop.in");
  r.icons = {{16, "png16"}};
  r.menuTemplates = MenuTemplates();
  ASSERT_TRUE(RegisterXdgFileType(f, r, nullptr));  // before the package came

  // The package's files, naming the program through PATH as installed ones do.
  const std::string system = f.dataDirs[0];
  const std::vector<std::string> provided = {"applications/tarvessin-viewer.desktop",
                                             "mime/packages/tarvessin-viewer.xml",
                                             "icons/hicolor/16x16/apps/tarvessin-viewer.png",
                                             kFileManagerMenus[0], kFileManagerMenus[1], kFileManagerMenus[2],
                                             kFileManagerMenus[3]};
  Write(system + "/" + provided[0], DesktopEntryFor(r.desktopTemplate, "tarvessin-viewer"));
  Write(system + "/" + provided[1], r.mimePackage);
  Write(system + "/" + provided[2], "png16");
  for (size_t i = 0; i < std::size(kFileManagerMenus); ++i)
    Write(system + "/" + kFileManagerMenus[i], DesktopEntryFor(r.menuTemplates[i], "tarvessin-viewer"));

  const std::string saved = std::getenv("PATH") ? std::getenv("PATH") : "";
  setenv("PATH", (bin.path() + ":" + saved).c_str(), 1);
  const bool registered = RegisterXdgFileType(f, r, nullptr);
  setenv("PATH", saved.c_str(), 1);
  ASSERT_TRUE(registered);
  for (const std::string& relative : provided)
    EXPECT_FALSE(fs::exists(f.dataHome + "/" + relative)) << relative << " written beside the package's";
  EXPECT_TRUE(fs::exists(f.dataHome + "/nautilus/scripts/여기에 풀기"));
  EXPECT_NE(Read(f.configHome + "/mimeapps.list").find(std::string(kContainerMimeType) + "=" + kViewerDesktopId),
            std::string::npos);

  // Entries whose program is not this one (here PATH finds none) provide nothing for it.
  ASSERT_TRUE(RegisterXdgFileType(f, r, nullptr));
  for (const std::string& relative : {provided[0], std::string(kFileManagerMenus[0]), std::string(kFileManagerMenus[2])})
    EXPECT_TRUE(fs::exists(f.dataHome + "/" + relative)) << relative;
  ASSERT_TRUE(UnregisterXdgFileType(f, nullptr));
}

// Removal takes away the folders registration made and no other: folders that were
// there, empty or not, stay (even one that held nothing but what was removed).
TEST(XdgAssociation, UnregisteringKeepsTheFoldersThatWereThere) {
  Desktop desktop;
  const XdgFolders& f = desktop.folders;
  for (const char* folder : {"applications", "kio", "nemo/actions", "icons/hicolor", "nautilus/scripts", "mime"})
    fs::create_directories(f.dataHome + "/" + folder);
  fs::create_directories(f.configHome);
  const auto dataBefore = Snapshot(f.dataHome), configBefore = Snapshot(f.configHome);
  XdgRegistration r;
  r.programPath = "/opt/tarvessin/tarvessin-viewer";
  r.mimePackage = Read(std::string(QV3_LINUX_RESOURCES_DIR) + "/tarvessin-viewer.xml");
  r.desktopTemplate = Read(std::string(QV3_LINUX_RESOURCES_DIR) + "/tarvessin-viewer.desktop.in");
  r.icons = {{16, "png16"}, {32, "png32"}};
  r.menuTemplates = MenuTemplates();
  ASSERT_TRUE(RegisterXdgFileType(f, r, nullptr));
  ASSERT_TRUE(RegisterXdgFileType(f, r, nullptr));
  EXPECT_TRUE(fs::exists(f.dataHome + "/kio/servicemenus/tarvessin-viewer-encrypt.desktop"));
  ASSERT_TRUE(UnregisterXdgFileType(f, nullptr));
  EXPECT_EQ(Snapshot(f.dataHome), dataBefore);
  EXPECT_EQ(Snapshot(f.configHome), configBefore);
}
