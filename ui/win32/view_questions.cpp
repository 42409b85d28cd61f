#include "ui/win32/view_questions.h"

#include <windows.h>
#include <commctrl.h>

#include <vector>

#include "platform/text.h"
#include "platform/wide_win32.h"
#include "ui/viewer_text.h"

namespace {

struct Button {
  int id;
  const char* text;
};

struct Context {
  const std::function<bool()>* released = nullptr;
  bool wasReleased = false;
  DWORD lastLook = 0;
};

HRESULT CALLBACK Callback(HWND window, UINT notification, WPARAM wp, LPARAM, LONG_PTR data) {
  auto* context = reinterpret_cast<Context*>(data);
  if (notification == TDN_CREATED) SetWindowPos(window, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  // The timer ticks about every 200 ms; wp is the time since the dialog was made.
  if (notification == TDN_TIMER && context->released && !context->wasReleased &&
      static_cast<DWORD>(wp) - context->lastLook >= 250) {
    context->lastLook = static_cast<DWORD>(wp);
    if ((*context->released)()) {
      context->wasReleased = true;
      SendMessageW(window, TDM_CLICK_BUTTON, IDCANCEL, 0);
    }
  }
  return S_OK;
}

// Shows the task dialog; the pressed button's id, or cancelId for Escape and closing.
int Ask(const std::string& text, PCWSTR icon, const std::vector<Button>& buttons, int defaultId, int cancelId,
        Context* context, bool topMost) {
  const std::wstring caption = Wide(Tr(kViewerCaption)), content = Wide(text);
  std::vector<std::wstring> labels;
  for (const Button& b : buttons) labels.push_back(Wide(Tr(b.text)));
  std::vector<TASKDIALOG_BUTTON> items;
  for (size_t i = 0; i < buttons.size(); ++i) items.push_back({buttons[i].id, labels[i].c_str()});
  Context none;
  if (!context) context = &none;
  TASKDIALOGCONFIG config = {};
  config.cbSize = sizeof config;
  config.hwndParent = nullptr;
  config.hInstance = GetModuleHandleW(nullptr);
  config.dwFlags = TDF_ALLOW_DIALOG_CANCELLATION | TDF_POSITION_RELATIVE_TO_WINDOW |
                   (context->released ? TDF_CALLBACK_TIMER : 0);
  config.pszWindowTitle = caption.c_str();
  config.pszMainIcon = icon;
  config.pszContent = content.c_str();
  config.cButtons = static_cast<UINT>(items.size());
  config.pButtons = items.data();
  config.nDefaultButton = defaultId;
  config.pfCallback = topMost || context->released ? Callback : nullptr;
  config.lpCallbackData = reinterpret_cast<LONG_PTR>(context);
  int pressed = 0;
  if (FAILED(TaskDialogIndirect(&config, &pressed, nullptr, nullptr))) return cancelId;
  return pressed == IDCANCEL || pressed == 0 ? cancelId : pressed;
}

}  // namespace

bool AskOpenDangerousType(const std::string& name, const std::string& typeName) {
  const int pressed = Ask(Format(Tr(kDangerousType), name.c_str(), typeName.c_str()), TD_WARNING_ICON,
                          {{kButtonOpen, kOpenAnyway}, {kButtonDoNotOpen, kDoNotOpen}}, kButtonDoNotOpen,
                          kButtonDoNotOpen, nullptr, true);
  return pressed == kButtonOpen;
}

EditChoice AskAboutEditedFile(const std::string& name, const std::string& container, bool changed,
                              bool canSaveBack) {
  std::vector<Button> buttons;
  if (canSaveBack) buttons.push_back({kButtonSaveBack, kSaveIntoContainer});
  buttons.push_back({kButtonKeepBeside, kKeepBesideContainer});
  buttons.push_back({kButtonDiscard, kDiscardEdit});
  const int pressed =
      Ask(Format(Tr(changed ? kPlaintextChanged : kFileMadeInWorkingFolder), name.c_str(), container.c_str()),
          TD_INFORMATION_ICON, buttons, canSaveBack ? kButtonSaveBack : kButtonKeepBeside, kButtonKeepBeside,
          nullptr, true);
  if (pressed == kButtonSaveBack) return EditChoice::SaveBack;
  if (pressed == kButtonDiscard) return EditChoice::Discard;
  return EditChoice::KeepBeside;
}

InUseAnswer ShowInUseNotice(const std::string& name, const std::function<bool()>& released) {
  Context context;
  context.released = &released;
  const int pressed = Ask(Format(Tr(kStillInUse), name.c_str()), TD_INFORMATION_ICON,
                          {{kButtonDeleteNow, kDeleteNow}, {kButtonKeepWaiting, kKeepWaiting}}, kButtonKeepWaiting,
                          kButtonKeepWaiting, &context, false);
  if (context.wasReleased) return InUseAnswer::Released;
  return pressed == kButtonDeleteNow ? InUseAnswer::DeleteNow : InUseAnswer::KeepWaiting;
}
