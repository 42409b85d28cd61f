// What the console shows of a name: every character as it is, whatever the ANSI code
// page holds, read back from the console's own screen buffer.
#ifdef _WIN32

#include <windows.h>
#include <gtest/gtest.h>

#include <string>

#include "platform/console.h"
#include "platform/wide_win32.h"

TEST(ConsoleWin32, ANameReachesAConsoleAsItIs) {
  // A console of this test's own: ctest gives the process pipes (Wine, a console of its
  // own that cannot be read back).
  FreeConsole();
  if (!AllocConsole()) GTEST_SKIP() << "no console can be made here";
  const HANDLE console = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(console, INVALID_HANDLE_VALUE);
  const HANDLE saved = GetStdHandle(STD_ERROR_HANDLE);
  SetStdHandle(STD_ERROR_HANDLE, console);
  CONSOLE_SCREEN_BUFFER_INFO before{};
  GetConsoleScreenBufferInfo(console, &before);
  const std::string name = "보고서 📄 Zoë — 東京 𠜎";
  WriteStandard(StandardStream::Error, name + "\n");
  SetStdHandle(STD_ERROR_HANDLE, saved);

  wchar_t cells[128] = {};
  DWORD read = 0;
  ASSERT_TRUE(ReadConsoleOutputCharacterW(console, cells, 127, COORD{0, before.dwCursorPosition.Y}, &read));
  std::wstring shown(cells, read);
  while (!shown.empty() && shown.back() == L' ') shown.pop_back();
  EXPECT_EQ(Utf8(shown), name);
  CloseHandle(console);
  FreeConsole();
}

#endif  // _WIN32
