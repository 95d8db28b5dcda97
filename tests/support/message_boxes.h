// Catches the message boxes the module shows on the calling thread, records
// them and answers them with OK, so that a test can count and read them.
#pragma once

#include <string>
#include <vector>

struct ShownMessageBox {
  std::string text;
  std::string caption;
  bool ok_button_only = false;
  bool error_icon = false;
};

class MessageBoxWatcher {
 public:
  MessageBoxWatcher();
  ~MessageBoxWatcher();
  MessageBoxWatcher(const MessageBoxWatcher&) = delete;
  MessageBoxWatcher& operator=(const MessageBoxWatcher&) = delete;

  const std::vector<ShownMessageBox>& Shown() const;
};
