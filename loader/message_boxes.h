// The module's only report to a person is a message box. A program that drives
// the module without a person in front of it (the host program, the tests)
// answers each box with OK at once and hands what it said to a callback.
#pragma once

#include <string>

struct ShownMessageBox {
  std::string text;
  std::string caption;
  bool ok_button_only = false;
  bool error_icon = false;
};

using MessageBoxReport = void (*)(const ShownMessageBox& box);

// From now on every message box is reported and answered OK (on Windows, the
// boxes of the calling thread; on native, of the whole process). nullptr lets
// boxes show normally again.
void AnswerMessageBoxes(MessageBoxReport report);
