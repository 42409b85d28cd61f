// The Windows viewer's own windows, in process, on the real templates: the password
// prompt, the progress dialog and the Win32 front end's view of it, and the error box.
// Modal windows are answered from a helper thread that finds them by caption.

#include <windows.h>
#include <commctrl.h>
#include <oleacc.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwctype>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "container/password_rule.h"
#include "platform/codepage.h"
#include "platform/system_error.h"
#include "platform/wide_win32.h"
#include "resources/resource.h"
#include "ui/win32/error_box.h"
#include "ui/win32/password_dialog.h"
#include "ui/win32/progress_dialog.h"
#include "ui/win32/win32_front_end.h"

namespace {

const char kPasswordCaption[] = "타르베신 외부암호파일 뷰어";
const char kProgressCaption[] = "파일 처리중";
const char kErrorCaption[] = "타르베신 외부암호화파일 뷰어";

std::string Text(HWND hwnd) {
  wchar_t buffer[1024] = {};
  GetWindowTextW(hwnd, buffer, 1024);
  return Utf8(buffer);
}

std::string ItemText(HWND dialog, int id) { return Text(GetDlgItem(dialog, id)); }

// Without a display no window can be made: the tests are skipped, not failed.
class Win32Ui : public testing::Test {
 protected:
  void SetUp() override {
    HWND probe = CreateWindowW(L"STATIC", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    if (!probe) GTEST_SKIP() << "no display to create windows on";
    DestroyWindow(probe);
    InitCommonControls();
  }
};

// Runs show() on this thread while a helper thread waits (up to 10 s) for a visible
// top-level dialog with the given caption and then runs act on it. When the window never
// appears the helper ends the modal loop with WM_QUIT so the test fails instead of hanging.
void WithDialog(const char* caption, const std::function<void(HWND)>& act, const std::function<void()>& show) {
  const DWORD mainThread = GetCurrentThreadId();
  std::atomic<bool> found{false};
  std::thread helper([&] {
    for (int i = 0; i < 1000; ++i) {
      HWND hwnd = FindWindowW(L"#32770", Wide(caption).c_str());
      if (hwnd && IsWindowVisible(hwnd)) {
        found = true;
        act(hwnd);
        return;
      }
      Sleep(10);
    }
    PostThreadMessageW(mainThread, WM_QUIT, 0, 0);
  });
  show();
  helper.join();
  EXPECT_TRUE(found) << "no dialog captioned " << caption;
  MSG msg;
  PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);  // a late WM_QUIT must not leak
}

void Click(HWND dialog, int id) { SendMessageW(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }

void SetItemText(HWND dialog, int id, const char* text) { SetDlgItemTextW(dialog, id, Wide(text).c_str()); }

// --- password prompt ----------------------------------------------------------------

struct PromptResult {
  INT_PTR result;
  std::string typed;
};

PromptResult RunPrompt(const std::function<void(HWND)>& act) {
  PasswordDialog dialog;
  PromptResult r{};
  WithDialog(kPasswordCaption, act, [&] { r.result = dialog.DoModal(); });
  r.typed = dialog.m_typed;
  return r;
}

TEST_F(Win32Ui, PasswordPromptStartsInTheMaskedEditAndIgnoresOkWhileEmpty) {
  bool focusOnEdit = false, masked = false, openAfterEmptyOk = false;
  const PromptResult r = RunPrompt([&](HWND dialog) {
    HWND edit = GetDlgItem(dialog, IDC_PASSWORD_EDIT);
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    focusOnEdit = GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &info) && info.hwndFocus == edit;
    masked = (GetWindowLongW(edit, GWL_STYLE) & ES_PASSWORD) && SendMessageW(edit, EM_GETPASSWORDCHAR, 0, 0) != 0;
    Click(dialog, IDOK);
    openAfterEmptyOk = IsWindow(dialog) && IsWindowVisible(dialog);
    SetWindowTextW(edit, L"abc");
    Click(dialog, IDOK);
  });
  EXPECT_TRUE(focusOnEdit);
  EXPECT_TRUE(masked);
  EXPECT_TRUE(openAfterEmptyOk);
  EXPECT_EQ(r.result, IDOK);
  EXPECT_EQ(r.typed, "abc");
}

// All that was typed is handed on, read in Unicode whatever the code page (the rule cuts
// it); the encryption prompt's line follows what is typed.
TEST_F(Win32Ui, PromptsHandOnAllThatWasTypedAndTheHintFollowsTheTyping) {
  for (const char* typed : {"123456789012345", "가나다라마바사", "abcdefghi\U0001F4C4"}) {
    const PromptResult r = RunPrompt([&](HWND dialog) {
      SetItemText(dialog, IDC_PASSWORD_EDIT, typed);
      Click(dialog, IDOK);
    });
    EXPECT_EQ(r.result, IDOK);
    EXPECT_EQ(r.typed, typed);
  }
  NewPasswordDialog dialog;
  std::vector<std::string> hints;
  WithDialog(kPasswordCaption, [&](HWND window) {
    for (const char* typed : {"가나다라마바", "\U0001F600", "abc"}) {
      SetItemText(window, IDC_PASSWORD_EDIT, typed);  // EN_CHANGE as typing sends it
      hints.push_back(ItemText(window, IDC_PASSWORD_HINT));
    }
    SetItemText(window, IDC_PASSWORD_CONFIRM, "abc");
    Click(window, IDOK);
  }, [&] { dialog.DoModal(); });
  EXPECT_EQ(hints, (std::vector<std::string>{NewPasswordHint("가나다라마바"), NewPasswordHint("\U0001F600"),
                                            NewPasswordHint("abc")}));
  EXPECT_NE(hints[0], hints[2]) << "a cut is said";
  EXPECT_EQ(dialog.m_typed, "abc");
}

TEST_F(Win32Ui, PasswordPromptCancelEscapeAndCloseEndWithCancelAndNoPassword) {
  // The Cancel button, Escape as the dialog manager delivers it, and the close command.
  const std::function<void(HWND)> ways[] = {
      [](HWND d) { Click(d, IDCANCEL); },
      [](HWND d) {
        HWND edit = GetDlgItem(d, IDC_PASSWORD_EDIT);
        PostMessageW(edit, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
        PostMessageW(edit, WM_KEYUP, VK_ESCAPE, static_cast<LPARAM>(0xC0010001u));
      },
      [](HWND d) { PostMessageW(d, WM_CLOSE, 0, 0); },
  };
  for (const auto& cancel : ways) {
    const PromptResult r = RunPrompt([&](HWND dialog) {
      SetItemText(dialog, IDC_PASSWORD_EDIT, "typed");
      cancel(dialog);
    });
    EXPECT_EQ(r.result, IDCANCEL);
    EXPECT_EQ(r.typed, "");
  }
}

// --- progress dialog ----------------------------------------------------------------

std::unique_ptr<ProgressDialog> MakeProgress(int operation) {
  auto dialog = std::make_unique<ProgressDialog>(IDD_PROGRESS);
  dialog->m_nOperation = operation;
  EXPECT_TRUE(dialog->Create());
  return dialog;
}

TEST_F(Win32Ui, ProgressDialogStartsHiddenAndTellsTheOperation) {
  auto encrypt = MakeProgress(OPERATION_ENCRYPT);
  auto decrypt = MakeProgress(OPERATION_DECRYPT);
  auto other = MakeProgress(7);
  EXPECT_FALSE(IsWindowVisible(encrypt->Handle()));
  EXPECT_EQ(Text(encrypt->Handle()), kProgressCaption);
  EXPECT_EQ(ItemText(encrypt->Handle(), IDC_PROGRESS_MESSAGE), "암호화중...");
  EXPECT_EQ(ItemText(decrypt->Handle(), IDC_PROGRESS_MESSAGE), "복호화중...");
  EXPECT_EQ(ItemText(other->Handle(), IDC_PROGRESS_MESSAGE), "복호화중...");
  EXPECT_EQ(SendDlgItemMessageW(decrypt->Handle(), IDC_PROGRESS_BAR, PBM_GETRANGE, FALSE, 0), 100);
  EXPECT_EQ(SendDlgItemMessageW(decrypt->Handle(), IDC_PROGRESS_BAR, PBM_GETRANGE, TRUE, 0), 0);
  EXPECT_FALSE(GetWindowLongW(decrypt->Handle(), GWL_STYLE) & WS_SYSMENU);
}

TEST_F(Win32Ui, ProgressDialogUsesItsTenPointFontOnTextsAndCancelOnly) {
  auto dialog = MakeProgress(OPERATION_DECRYPT);
  HWND hwnd = dialog->Handle();
  ASSERT_NE(dialog->m_hFont, nullptr);
  LOGFONTW font{};
  ASSERT_NE(GetObjectW(dialog->m_hFont, sizeof font, &font), 0);
  HDC dc = GetDC(hwnd);
  const int dpi = GetDeviceCaps(dc, LOGPIXELSY);
  ReleaseDC(hwnd, dc);
  EXPECT_EQ(font.lfHeight, -MulDiv(10, dpi, 72));

  // (What the dialog itself answers to WM_GETFONT is the dialog manager's business: it
  // keeps the template's font.)
  const WPARAM mine = reinterpret_cast<WPARAM>(dialog->m_hFont);
  auto fontOf = [&](int id) { return static_cast<WPARAM>(SendDlgItemMessageW(hwnd, id, WM_GETFONT, 0, 0)); };
  EXPECT_EQ(fontOf(IDC_PROGRESS_MESSAGE), mine);
  EXPECT_EQ(fontOf(IDCANCEL), mine);
  EXPECT_EQ(fontOf(IDC_PROGRESS_FILE), mine);
  EXPECT_NE(fontOf(IDC_PROGRESS_BAR), mine);

  // Moved to a display of another scale, as the system tells a per-monitor aware window:
  // the font is made anew for the new DPI, on the same controls, and the old one goes.
  const HFONT old = dialog->m_hFont;
  const UINT newDpi = static_cast<UINT>(dpi) * 3 / 2;
  RECT rect;
  ASSERT_TRUE(GetWindowRect(hwnd, &rect));
  SendMessageW(hwnd, WM_DPICHANGED, MAKEWPARAM(newDpi, newDpi), reinterpret_cast<LPARAM>(&rect));
  ASSERT_NE(dialog->m_hFont, old);
  ASSERT_NE(GetObjectW(dialog->m_hFont, sizeof font, &font), 0);
  EXPECT_EQ(font.lfHeight, -MulDiv(10, static_cast<int>(newDpi), 72));
  const WPARAM remade = reinterpret_cast<WPARAM>(dialog->m_hFont);
  EXPECT_EQ(fontOf(IDC_PROGRESS_MESSAGE), remade);
  EXPECT_EQ(fontOf(IDCANCEL), remade);
  EXPECT_EQ(fontOf(IDC_PROGRESS_FILE), remade);
  EXPECT_EQ(0u, GetObjectType(old)) << "the font of the old DPI was not deleted";
}

TEST_F(Win32Ui, ProgressDialogIsCentredInTheWorkArea) {
  auto dialog = MakeProgress(OPERATION_DECRYPT);
  RECT work, rect;
  ASSERT_TRUE(SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0));
  ASSERT_TRUE(GetWindowRect(dialog->Handle(), &rect));
  EXPECT_LE(std::abs((rect.left - work.left) - (work.right - rect.right)), 1);
  EXPECT_LE(std::abs((rect.top - work.top) - (work.bottom - rect.bottom)), 1);
}

TEST_F(Win32Ui, ProgressDialogCancelOnlyRaisesTheFlag) {
  auto dialog = MakeProgress(OPERATION_DECRYPT);
  HWND hwnd = dialog->Handle();
  ShowWindow(hwnd, SW_SHOWNORMAL);
  EXPECT_FALSE(dialog->m_bCancel);
  Click(hwnd, IDCANCEL);
  EXPECT_TRUE(dialog->m_bCancel);
  EXPECT_TRUE(IsWindow(hwnd));
  EXPECT_TRUE(IsWindowVisible(hwnd));
  Click(hwnd, IDCANCEL);
  SendMessageW(hwnd, WM_CLOSE, 0, 0);  // the dialog manager turns it into Cancel
  EXPECT_TRUE(dialog->m_bCancel);
  EXPECT_TRUE(IsWindowVisible(hwnd));
  EXPECT_EQ(dialog->Handle(), hwnd);
}

TEST_F(Win32Ui, ProgressDialogReleasesItsWindowAndFontHoweverItEnds) {
  // Window destroyed first (as the engines do), then the object.
  auto dialog = MakeProgress(OPERATION_DECRYPT);
  HWND hwnd = dialog->Handle();
  HFONT font = dialog->m_hFont;
  dialog->DestroyWindow();
  EXPECT_FALSE(IsWindow(hwnd));
  EXPECT_EQ(dialog->Handle(), nullptr);
  EXPECT_EQ(static_cast<DWORD>(OBJ_FONT), GetObjectType(font));
  dialog.reset();
  EXPECT_EQ(0u, GetObjectType(font));

  // The object destroyed with its window still open.
  dialog = MakeProgress(OPERATION_ENCRYPT);
  hwnd = dialog->Handle();
  font = dialog->m_hFont;
  dialog.reset();
  EXPECT_FALSE(IsWindow(hwnd));
  EXPECT_EQ(0u, GetObjectType(font));

  // Never created: no window, no font.
  ProgressDialog never(IDD_PROGRESS);
  EXPECT_FALSE(never.m_bCancel);
  EXPECT_EQ(never.m_hFont, nullptr);
  EXPECT_EQ(never.Handle(), nullptr);
}

// --- the front end's progress view ------------------------------------------------

TEST_F(Win32Ui, FrontEndProgressViewDrivesTheDialog) {
  Win32FrontEnd ui;
  std::unique_ptr<ProgressView> view = ui.OpenProgress(OPERATION_ENCRYPT);
  HWND hwnd = FindWindowW(L"#32770", Wide(kProgressCaption).c_str());
  ASSERT_NE(hwnd, nullptr);
  EXPECT_EQ(GetWindowThreadProcessId(hwnd, nullptr), GetCurrentThreadId());
  EXPECT_FALSE(IsWindowVisible(hwnd));
  EXPECT_EQ(ItemText(hwnd, IDC_PROGRESS_MESSAGE), "암호화중...");
  auto pos = [&] { return SendDlgItemMessageW(hwnd, IDC_PROGRESS_BAR, PBM_GETPOS, 0, 0); };

  // Any name, whatever the code page holds.
  view->StartFile("C:\\문서\\보고서 📄 Zoë 東京.hwp");
  EXPECT_TRUE(IsWindowVisible(hwnd));
  EXPECT_EQ(ItemText(hwnd, IDC_PROGRESS_FILE), "C:\\문서\\보고서 📄 Zoë 東京.hwp");
  EXPECT_EQ(pos(), 0);
  view->SetProgress(42);
  EXPECT_EQ(pos(), 42);
  view->SetProgress(100);
  EXPECT_EQ(pos(), 100);
  view->StartFile("C:\\second.txt");  // every file starts at 0
  EXPECT_EQ(pos(), 0);
  EXPECT_EQ(ItemText(hwnd, IDC_PROGRESS_FILE), "C:\\second.txt");

  // A click that is still queued is served by the next update's pump.
  EXPECT_FALSE(view->IsCancelled());
  PostMessageW(hwnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(hwnd, IDCANCEL)));
  EXPECT_FALSE(view->IsCancelled());
  view->SetProgress(50);
  EXPECT_TRUE(view->IsCancelled());
  view->SetProgress(60);
  EXPECT_TRUE(view->IsCancelled());
  EXPECT_TRUE(IsWindowVisible(hwnd));

  view.reset();
  EXPECT_FALSE(IsWindow(hwnd));
}

// --- accessibility ------------------------------------------------------------------

// A template of the program's in one language, built as a modeless dialog of this thread
// that does nothing of its own: what the template itself gives a keyboard and a screen
// reader.
INT_PTR CALLBACK PlainDialogProc(HWND, UINT msg, WPARAM, LPARAM) { return msg == WM_INITDIALOG; }

const LANGID kTemplateLanguages[] = {MAKELANGID(LANG_KOREAN, SUBLANG_DEFAULT),
                                     MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US)};

HWND CreateFromTemplate(UINT id, LANGID language) {
  InitCommonControls();
  const HMODULE module = GetModuleHandleW(nullptr);
  const HRSRC found = FindResourceExW(module, reinterpret_cast<LPCWSTR>(RT_DIALOG), MAKEINTRESOURCEW(id), language);
  if (!found) return nullptr;
  const auto* layout = static_cast<const DLGTEMPLATE*>(LockResource(LoadResource(module, found)));
  return CreateDialogIndirectParamW(module, layout, nullptr, PlainDialogProc, 0);
}

std::vector<HWND> ChildrenInOrder(HWND dialog) {
  std::vector<HWND> children;
  for (HWND c = GetWindow(dialog, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) children.push_back(c);
  return children;
}

std::string ClassOf(HWND hwnd) {
  wchar_t name[64] = {};
  GetClassNameW(hwnd, name, 64);
  std::string text = Utf8(name);
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// The letter after the one "&" of a text ("&&" is a plain "&"); 0 when there is none.
wchar_t Mnemonic(const std::wstring& text) {
  for (size_t i = 0; i + 1 < text.size(); ++i) {
    if (text[i] != L'&') continue;
    if (text[i + 1] != L'&') return static_cast<wchar_t>(towlower(text[i + 1]));
    ++i;
  }
  return 0;
}

std::wstring WideText(HWND hwnd) {
  wchar_t buffer[1024] = {};
  GetWindowTextW(hwnd, buffer, 1024);
  return buffer;
}

// Every template in both languages: in the order of its controls (the tab order and the
// order a screen reader reads) each edit comes right after its label, which carries a
// mnemonic that Alt reaches the edit with; a dialog's mnemonics differ; the statics that
// show a file name or a state take no mnemonic, so an "&" in them shows as it is.
TEST_F(Win32Ui, EveryEditFollowsItsLabelAndAltWithItsLetterReachesIt) {
  const std::pair<UINT, int> dialogs[] = {{IDD_PASSWORD, 1}, {IDD_NEW_PASSWORD, 2}, {IDD_PROGRESS, 0}};
  for (const LANGID language : kTemplateLanguages) {
    for (const auto& [id, edits] : dialogs) {
      SCOPED_TRACE("template " + std::to_string(id) + ", language " + std::to_string(language));
      const HWND dialog = CreateFromTemplate(id, language);
      ASSERT_NE(dialog, nullptr);
      ShowWindow(dialog, SW_SHOWNORMAL);
      const std::vector<HWND> children = ChildrenInOrder(dialog);
      std::vector<wchar_t> mnemonics;
      int seen = 0;
      HWND firstEdit = nullptr;
      for (size_t i = 0; i < children.size(); ++i) {
        const HWND control = children[i];
        const std::string cls = ClassOf(control);
        const LONG style = GetWindowLongW(control, GWL_STYLE);
        if (cls == "button" && Mnemonic(WideText(control))) mnemonics.push_back(Mnemonic(WideText(control)));
        if (cls != "edit") continue;
        ++seen;
        if (!firstEdit) firstEdit = control;
        ASSERT_GT(i, 0u) << "an edit comes first, with no label before it";
        const HWND label = children[i - 1];
        const LONG labelStyle = GetWindowLongW(label, GWL_STYLE);
        EXPECT_EQ(ClassOf(label), "static") << "what comes before edit " << GetDlgCtrlID(control);
        EXPECT_NE(labelStyle & SS_TYPEMASK, SS_ICON);
        EXPECT_FALSE(labelStyle & SS_NOPREFIX) << "the label's \"&\" must make a mnemonic";
        const wchar_t letter = Mnemonic(WideText(label));
        ASSERT_NE(letter, 0) << "no mnemonic in the label " << Utf8(WideText(label));
        mnemonics.push_back(letter);

        // Alt with the letter, as the dialog manager receives it, from the OK button.
        SetFocus(GetDlgItem(dialog, IDOK));
        MSG alt{};
        alt.hwnd = GetFocus();
        alt.message = WM_SYSCHAR;
        alt.wParam = letter;
        alt.lParam = 1 << 29;  // the Alt key is down
        IsDialogMessageW(dialog, &alt);
        EXPECT_EQ(GetFocus(), control) << "Alt+" << static_cast<char>(letter) << " does not reach edit "
                                        << GetDlgCtrlID(control);
        EXPECT_TRUE(style & WS_TABSTOP);
      }
      EXPECT_EQ(seen, edits);
      if (firstEdit) {
        EXPECT_EQ(GetNextDlgTabItem(dialog, nullptr, FALSE), firstEdit) << "the first tab stop is the first edit";
      }
      for (size_t i = 0; i < mnemonics.size(); ++i)
        for (size_t j = i + 1; j < mnemonics.size(); ++j) EXPECT_NE(mnemonics[i], mnemonics[j]) << "a mnemonic used twice";
      for (const int outside : {IDC_PROGRESS_MESSAGE, IDC_PROGRESS_FILE}) {
        if (const HWND text = GetDlgItem(dialog, outside)) {
          EXPECT_TRUE(GetWindowLongW(text, GWL_STYLE) & SS_NOPREFIX) << "static " << outside;
        }
      }
      DestroyWindow(dialog);
    }
  }
}

// The name a screen reader gets for a control through the system's accessibility
// (OLEACC); "" where it gives none, as Wine's may not.
std::string AccessibleName(HWND control) {
  IAccessible* object = nullptr;
  if (FAILED(AccessibleObjectFromWindow(control, static_cast<DWORD>(OBJID_CLIENT), IID_IAccessible,
                                        reinterpret_cast<void**>(&object))) ||
      !object) {
    return "";
  }
  VARIANT self;
  VariantInit(&self);
  self.vt = VT_I4;
  self.lVal = CHILDID_SELF;
  BSTR name = nullptr;
  std::string text;
  if (object->get_accName(self, &name) == S_OK && name) text = Utf8(name);
  SysFreeString(name);
  object->Release();
  return text;
}

TEST_F(Win32Ui, PasswordFieldsAreNamedByTheirLabelsNeverByWhatWasTyped) {
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  int answered = 0;
  for (const LANGID language : kTemplateLanguages) {
    for (const UINT id : {IDD_PASSWORD, IDD_NEW_PASSWORD}) {
      const HWND dialog = CreateFromTemplate(id, language);
      ASSERT_NE(dialog, nullptr);
      for (const int field : {IDC_PASSWORD_EDIT, IDC_PASSWORD_CONFIRM}) {
        const HWND edit = GetDlgItem(dialog, field);
        if (!edit) continue;
        SetWindowTextW(edit, L"typed secret");
        std::wstring label = WideText(GetWindow(edit, GW_HWNDPREV));
        if (const size_t amp = label.find(L'&'); amp != std::wstring::npos) label.erase(amp, 1);
        const std::string name = AccessibleName(edit);
        EXPECT_EQ(name.find("secret"), std::string::npos) << "the typed password is the field's name";
        if (name.empty()) continue;  // this system's accessibility names no edit
        ++answered;
        EXPECT_EQ(name, Utf8(label)) << "template " << id;
      }
      DestroyWindow(dialog);
    }
  }
  if (SUCCEEDED(com)) CoUninitialize();
  if (!answered) std::printf("[ note     ] the system's accessibility gave no edit a name: names not compared\n");
}

// Each new file is announced: the file line and the bar (named by it) report a name
// change as the system's accessibility events; a name with "&" shows as it is.
std::vector<std::pair<HWND, LONG>> g_nameChanges;

void CALLBACK RecordNameChange(HWINEVENTHOOK, DWORD, HWND hwnd, LONG object, LONG child, DWORD, DWORD) {
  if (child == CHILDID_SELF) g_nameChanges.emplace_back(hwnd, object);
}

TEST_F(Win32Ui, ProgressWindowAnnouncesEachFileAndShowsItsNameAsItIs) {
  Win32FrontEnd ui;
  std::unique_ptr<ProgressView> view = ui.OpenProgress(OPERATION_DECRYPT);
  const HWND hwnd = FindWindowW(L"#32770", Wide(kProgressCaption).c_str());
  ASSERT_NE(hwnd, nullptr);
  const HWND file = GetDlgItem(hwnd, IDC_PROGRESS_FILE), bar = GetDlgItem(hwnd, IDC_PROGRESS_BAR);
  const HWINEVENTHOOK hook = SetWinEventHook(EVENT_OBJECT_NAMECHANGE, EVENT_OBJECT_NAMECHANGE, nullptr,
                                             RecordNameChange, GetCurrentProcessId(), GetCurrentThreadId(),
                                             WINEVENT_OUTOFCONTEXT);
  ASSERT_NE(hook, nullptr);
  for (const char* path : {"C:\\R&D plan.bin", "C:\\보고서 && 계획.hwp"}) {
    g_nameChanges.clear();
    view->StartFile(path);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    auto announced = [&](HWND control) {
      for (const auto& [window, object] : g_nameChanges)
        if (window == control && object == OBJID_CLIENT) return true;
      return false;
    };
    EXPECT_TRUE(announced(file)) << path;
    EXPECT_TRUE(announced(bar)) << path;
    EXPECT_EQ(ItemText(hwnd, IDC_PROGRESS_FILE), path);
    EXPECT_EQ(Text(bar), path) << "the bar is named by the file";
    EXPECT_TRUE(GetWindowLongW(file, GWL_STYLE) & SS_NOPREFIX) << "\"&\" would underline the next letter";
  }
  UnhookWinEvent(hook);
}

// --- the manifest -----------------------------------------------------------------

TEST_F(Win32Ui, TheManifestIsInEffect) {
  // What the loader made of the manifest linked with the viewer's resources: the
  // comctl32 in use is the side-by-side assembly of common controls 6 (visual styles),
  // not the system folder's version 5 (the classic controls). (Its DPI settings cannot be
  // told apart here: Wine makes every program DPI aware; dist_test reads them.)
  wchar_t path[MAX_PATH] = {};
  ASSERT_NE(GetModuleFileNameW(GetModuleHandleW(L"comctl32.dll"), path, MAX_PATH), 0u);
  std::wstring lower(path);
  for (wchar_t& c : lower) c = static_cast<wchar_t>(towlower(c));
  EXPECT_NE(lower.find(L"\\winsxs\\"), std::wstring::npos) << "comctl32 from the system folder";
  EXPECT_NE(lower.find(L"microsoft.windows.common-controls_6595b64144ccf1df_6."), std::wstring::npos)
      << "comctl32 is not version 6";
}

// --- error box ----------------------------------------------------------------------

// The text of the error box that show() puts up (WithDialog reports a box never shown).
std::string ErrorBoxText(const std::function<void()>& show) {
  std::string text;
  WithDialog(
      kErrorCaption,
      [&](HWND hwnd) {
        text = ItemText(hwnd, 0xFFFF);
        // A path with "&" in it reads as it is: the box's text takes no mnemonic.
        EXPECT_TRUE(GetWindowLongW(GetDlgItem(hwnd, 0xFFFF), GWL_STYLE) & SS_NOPREFIX);
        Click(hwnd, IDOK);
      },
      show);
  return text;
}

std::string ErrorBoxText(const std::string& message, uint32_t code) {
  return ErrorBoxText([&] { ShowErrorMessage(message, code); });
}

TEST_F(Win32Ui, ErrorBoxCarriesTheCaptionAndTheMessage) {
  EXPECT_EQ(ErrorBoxText("파일을 열 수 없습니다\r\nC:\\R&D Zoë 📄.txt", 0), "파일을 열 수 없습니다\r\nC:\\R&D Zoë 📄.txt");
  // A code the system cannot explain: the message alone, no colon.
  EXPECT_EQ(ErrorBoxText("Thread creation failed", 0x2FFFFFF), "Thread creation failed");
  EXPECT_EQ(ErrorBoxText("", 0), "");
}

TEST_F(Win32Ui, ErrorBoxAppendsTheSystemTextWithoutItsLineEnd) {
  const std::string system = SystemErrorText(ERROR_FILE_NOT_FOUND);
  const std::string firstLine = system.substr(0, system.find('\r'));
  ASSERT_FALSE(firstLine.empty());
  const std::string text = ErrorBoxText("msg", ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(text, "msg:\n" + firstLine);
  EXPECT_EQ(text.find('\r'), std::string::npos);

  // The front end's entry is the same box.
  Win32FrontEnd ui;
  EXPECT_EQ(ErrorBoxText([&] { ui.ShowErrorMessage("msg", ERROR_FILE_NOT_FOUND); }), text);
}

}  // namespace
