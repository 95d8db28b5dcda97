#include "tests/support/message_boxes.h"

#include "platform/testing.h"
#include "platform/win32.h"

namespace {

std::vector<ShownMessageBox> shown;

#ifdef _WIN32
HHOOK hook = nullptr;

std::string Text(HWND window) {
  char buffer[512] = {};
  GetWindowTextA(window, buffer, sizeof buffer);
  return buffer;
}

// A message box is a dialog: when it is activated its caption, its text (the
// static control 0xFFFF) and its buttons are in place. Read them, then press OK.
LRESULT CALLBACK OnWindowEvent(int code, WPARAM wparam, LPARAM lparam) {
  if (code == HCBT_ACTIVATE) {
    auto* box = reinterpret_cast<HWND>(wparam);
    char class_name[64] = {};
    GetClassNameA(box, class_name, sizeof class_name);
    if (std::string(class_name) == "#32770") {
      ShownMessageBox seen;
      seen.caption = Text(box);
      seen.text = Text(GetDlgItem(box, 0xFFFF));
      seen.ok_button_only = GetDlgItem(box, IDOK) != nullptr &&
                            GetDlgItem(box, IDCANCEL) == nullptr &&
                            GetDlgItem(box, IDYES) == nullptr && GetDlgItem(box, IDNO) == nullptr;
      // The box's icon is a static control holding an icon image.
      for (HWND child = GetWindow(box, GW_CHILD); child != nullptr;
           child = GetWindow(child, GW_HWNDNEXT)) {
        if ((GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
          seen.error_icon = SendMessageA(child, STM_GETICON, 0, 0) != 0 &&
                            SendMessageA(child, STM_GETICON, 0, 0) ==
                                reinterpret_cast<LRESULT>(LoadIconA(nullptr, IDI_HAND));
        }
      }
      shown.push_back(seen);
      PostMessageA(box, WM_COMMAND, IDOK, 0);
    }
  }
  return CallNextHookEx(hook, code, wparam, lparam);
}
#else
int OnMessageBox(HWND /*owner*/, const char* text, const char* caption, unsigned type) {
  ShownMessageBox seen;
  seen.text = text != nullptr ? text : "";
  seen.caption = caption != nullptr ? caption : "";
  seen.ok_button_only = (type & 0xFU) == MB_OK;
  seen.error_icon = (type & 0xF0U) == MB_ICONERROR;
  shown.push_back(seen);
  return IDOK;
}
#endif

}  // namespace

MessageBoxWatcher::MessageBoxWatcher() {
  shown.clear();
#ifdef _WIN32
  hook = SetWindowsHookExA(WH_CBT, OnWindowEvent, nullptr, GetCurrentThreadId());
#else
  PlatformSetMessageBoxHook(OnMessageBox);
#endif
}

MessageBoxWatcher::~MessageBoxWatcher() {
#ifdef _WIN32
  UnhookWindowsHookEx(hook);
  hook = nullptr;
#else
  PlatformSetMessageBoxHook(nullptr);
#endif
}

const std::vector<ShownMessageBox>& MessageBoxWatcher::Shown() const { return shown; }
