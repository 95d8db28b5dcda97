#include "loader/message_boxes.h"

#include <atomic>
#include <set>

#include "platform/testing.h"
#include "platform/win32.h"

namespace {

std::atomic<MessageBoxReport> reporter{nullptr};

#ifdef _WIN32
HHOOK hook = nullptr;
// The boxes reported and not yet destroyed: a box can be activated again
// before it takes the OK posted to it (seen under Wine on a slow display),
// and is still one box.
std::set<HWND> answered;

std::string Text(HWND window) {
  char buffer[2048] = {};
  GetWindowTextA(window, buffer, sizeof buffer);
  return buffer;
}

// A message box is a dialog: when it is activated its caption, its text (the
// static control 0xFFFF), its icon and its buttons are in place. Read them,
// then press OK.
LRESULT CALLBACK OnWindowEvent(int code, WPARAM wparam, LPARAM lparam) {
  if (code == HCBT_DESTROYWND) {
    answered.erase(reinterpret_cast<HWND>(wparam));
  }
  if (code == HCBT_ACTIVATE && answered.count(reinterpret_cast<HWND>(wparam)) == 0) {
    auto* box = reinterpret_cast<HWND>(wparam);
    char class_name[16] = {};
    GetClassNameA(box, class_name, sizeof class_name);
    if (std::string(class_name) == "#32770") {
      ShownMessageBox seen;
      seen.caption = Text(box);
      seen.text = Text(GetDlgItem(box, 0xFFFF));
      seen.ok_button_only = GetDlgItem(box, IDOK) != nullptr &&
                            GetDlgItem(box, IDCANCEL) == nullptr &&
                            GetDlgItem(box, IDYES) == nullptr && GetDlgItem(box, IDNO) == nullptr;
      const auto error_icon = reinterpret_cast<LRESULT>(LoadIconA(nullptr, IDI_HAND));
      for (HWND child = GetWindow(box, GW_CHILD); child != nullptr;
           child = GetWindow(child, GW_HWNDNEXT)) {
        if ((GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON &&
            SendMessageA(child, STM_GETICON, 0, 0) == error_icon) {
          seen.error_icon = true;
        }
      }
      if (MessageBoxReport report = reporter.load()) {
        report(seen);
      }
      answered.insert(box);
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
  if (MessageBoxReport report = reporter.load()) {
    report(seen);
  }
  return IDOK;
}
#endif

}  // namespace

void AnswerMessageBoxes(MessageBoxReport report) {
  reporter = report;
#ifdef _WIN32
  if (hook != nullptr) {
    UnhookWindowsHookEx(hook);
    hook = nullptr;
  }
  answered.clear();
  if (report != nullptr) {
    hook = SetWindowsHookExA(WH_CBT, OnWindowEvent, nullptr, GetCurrentThreadId());
  }
#else
  PlatformSetMessageBoxHook(report != nullptr ? OnMessageBox : nullptr);
#endif
}
