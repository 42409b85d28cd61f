// The two probes of the installed product against the real registry and window list:
// the test plays the product by writing its registry value and opening a window of its
// class. A machine where the product really is installed is left alone.
#ifdef _WIN32

#include <gtest/gtest.h>
#include <windows.h>
#include <shlobj.h>

#include <string>
#include <vector>

#include "platform/working_folder.h"

namespace {

const char kKey[] = "SOFTWARE\\Belmora\\TarvessinKvt";

bool EndsWith(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// A hidden top-level window of the given class, for the life of the object.
class ClassWindow {
 public:
  explicit ClassWindow(const char* className) : m_className(className) {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = className;
    m_registered = RegisterClassA(&wc) != 0;
    m_window = CreateWindowA(className, "", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                             GetModuleHandleA(nullptr), nullptr);
  }
  ~ClassWindow() {
    if (m_window) DestroyWindow(m_window);
    // Class names ignore letter case: the next test's class may differ only in case.
    if (m_registered) UnregisterClassA(m_className, GetModuleHandleA(nullptr));
  }
  bool Open() const { return m_window != nullptr; }

 private:
  const char* m_className;
  bool m_registered = false;
  HWND m_window = nullptr;
};

// Windows need a display; under Wine without one (no xvfb-run) the test cannot play
// the product's window and says so instead of failing.
#define REQUIRE_WINDOW(window)                                              \
  do {                                                                      \
    if (!(window).Open()) {                                                 \
      GTEST_SKIP() << "no window could be created (no display?), error "   \
                   << GetLastError();                                       \
    }                                                                       \
  } while (0)

class ProductProbe : public testing::Test {
 protected:
  void SetUp() override {
    // Where the 32-bit product's installer writes on 64-bit Windows.
    DWORD disposition = 0;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_32KEY, nullptr,
                              &m_key, &disposition),
              ERROR_SUCCESS)
        << "the test needs write access to HKEY_LOCAL_MACHINE";
    m_keyCreated = disposition == REG_CREATED_NEW_KEY;
    if (RegQueryValueExA(m_key, "Path", nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS) {
      RegCloseKey(m_key);
      m_key = nullptr;
      GTEST_SKIP() << "the product's registry value exists on this machine";
    }
    if (FindWindowA("Tarvessin", nullptr)) {
      GTEST_SKIP() << "a window of the product's class is open";
    }
  }
  void TearDown() override {
    if (!m_key) return;
    if (m_valueWritten) {
      EXPECT_EQ(RegDeleteValueA(m_key, "Path"), ERROR_SUCCESS);
    }
    RegCloseKey(m_key);
    // The key made for the test goes with it, so that the next test (and the next run)
    // finds the machine as it was.
    if (m_keyCreated) {
      EXPECT_EQ(RegDeleteKeyExA(HKEY_LOCAL_MACHINE, kKey, KEY_WOW64_32KEY, 0), ERROR_SUCCESS);
    }
  }

  void WritePath(const std::string& value) {
    ASSERT_EQ(RegSetValueExA(m_key, "Path", 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                             static_cast<DWORD>(value.size() + 1)),
              ERROR_SUCCESS);
    m_valueWritten = true;
  }

  HKEY m_key = nullptr;
  bool m_keyCreated = false;
  bool m_valueWritten = false;
};

// The product's key as this machine has it: absent, or present (with or without its
// value) and left as it is.
LONG OpenProductKey(HKEY* key) {
  return RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, KEY_READ | KEY_WOW64_32KEY, key);
}

}  // namespace

TEST(WorkingFolderWin32, IsInTheLowSiblingOfTheLocalAppDataFolder) {
  char local[MAX_PATH + 1] = {};
  ASSERT_TRUE(SUCCEEDED(SHGetFolderPathA(nullptr, CSIDL_LOCAL_APPDATA, nullptr, 0, local)));
  ASSERT_NE(local[0], '\0');
  const std::string folder = WorkingFolder();
  EXPECT_EQ(folder.substr(0, folder.rfind('\\')), std::string(local) + "Low");
}

// Asking whether the product is installed, and so choosing the working folder, reads
// the registry and never writes it: on a machine without the product the key is still
// missing afterwards (the probe once created it, empty, and uninstalling left it behind).
TEST(WorkingFolderWin32, AskingForTheProductNeverCreatesItsKey) {
  HKEY key = nullptr;
  if (OpenProductKey(&key) == ERROR_SUCCESS) {
    // An empty key that an earlier build left behind is removed; anything else is not ours.
    DWORD subkeys = 0, values = 0;
    const bool empty = RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values,
                                        nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
                       subkeys == 0 && values == 0;
    RegCloseKey(key);
    if (!empty) GTEST_SKIP() << "the product's key exists on this machine";
    ASSERT_EQ(RegDeleteKeyExA(HKEY_LOCAL_MACHINE, kKey, KEY_WOW64_32KEY, 0), ERROR_SUCCESS);
  }
  EXPECT_FALSE(IsProductRegistered());
  EXPECT_TRUE(EndsWith(WorkingFolder(), "\\QV3V"));
  EXPECT_FALSE(IsProductRunning());
  EXPECT_EQ(OpenProductKey(&key), ERROR_FILE_NOT_FOUND) << "the probe created the key";
  if (key) RegCloseKey(key);
}

TEST_F(ProductProbe, ValueAndWindowTogetherGiveTheProductFolder) {
  WritePath("C:\\Program Files\\Tarvessin");
  ClassWindow window("Tarvessin");
  REQUIRE_WINDOW(window);
  EXPECT_TRUE(IsProductRegistered());
  EXPECT_TRUE(IsProductWindowOpen());
  const std::string folder = WorkingFolder();
  EXPECT_TRUE(EndsWith(folder, "\\QV31V")) << folder;
  EXPECT_EQ(WorkingFolder(), folder);
}

TEST_F(ProductProbe, EitherProbeAloneGivesTheOrdinaryFolder) {
  EXPECT_FALSE(IsProductRegistered()) << "no value yet";
  {
    ClassWindow window("Tarvessin");
    REQUIRE_WINDOW(window);
    EXPECT_TRUE(IsProductWindowOpen());
    EXPECT_TRUE(EndsWith(WorkingFolder(), "\\QV3V")) << "window without value";
  }
  EXPECT_FALSE(IsProductWindowOpen()) << "window closed";
  WritePath("C:\\Program Files\\Tarvessin");
  EXPECT_TRUE(IsProductRegistered());
  EXPECT_TRUE(EndsWith(WorkingFolder(), "\\QV3V")) << "value without window";
}

TEST_F(ProductProbe, AClassNameInAnotherLetterCaseIsRejected) {
  WritePath("C:\\Program Files\\Tarvessin");
  ClassWindow window("TARVESSIN");
  REQUIRE_WINDOW(window);
  ASSERT_NE(FindWindowA("Tarvessin", nullptr), nullptr) << "the search itself ignores case";
  EXPECT_FALSE(IsProductWindowOpen());
  EXPECT_TRUE(EndsWith(WorkingFolder(), "\\QV3V"));
}

// The probe reads the 32-bit view only: a value a 64-bit program put in the 64-bit view is
// not the product's. A 32-bit program on 32-bit Windows has one view, so there is nothing
// to tell apart.
TEST_F(ProductProbe, AValueInThe64BitViewIsNotTheProducts) {
  if (sizeof(void*) == 4) GTEST_SKIP() << "a 32-bit build sees one registry view";
  HKEY native = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr,
                            &native, nullptr),
            ERROR_SUCCESS);
  const char value[] = "C:\\Program Files\\Tarvessin";
  ASSERT_EQ(RegSetValueExA(native, "Path", 0, REG_SZ, reinterpret_cast<const BYTE*>(value), sizeof value),
            ERROR_SUCCESS);
  ClassWindow window("Tarvessin");
  const bool windowOpen = window.Open();
  const bool registered = IsProductRegistered();
  const std::string folder = WorkingFolder();
  EXPECT_EQ(RegDeleteValueA(native, "Path"), ERROR_SUCCESS);
  RegCloseKey(native);
  REQUIRE_WINDOW(window);
  EXPECT_TRUE(windowOpen);
  EXPECT_FALSE(registered);
  EXPECT_TRUE(EndsWith(folder, "\\QV3V")) << folder;
}

TEST_F(ProductProbe, AValueTooLongForItsBufferCountsAsAbsent) {
  ClassWindow window("Tarvessin");
  REQUIRE_WINDOW(window);
  WritePath(std::string(259, 'p'));  // 260 bytes with its terminator: fits
  EXPECT_TRUE(IsProductRegistered());
  WritePath(std::string(260, 'p'));
  EXPECT_FALSE(IsProductRegistered());
  EXPECT_TRUE(EndsWith(WorkingFolder(), "\\QV3V"));
}

#endif
