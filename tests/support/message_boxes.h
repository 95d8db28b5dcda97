// Collects the message boxes the module shows while it is alive.
#pragma once

#include <vector>

#include "loader/message_boxes.h"

class MessageBoxWatcher {
 public:
  MessageBoxWatcher() {
    Boxes().clear();
    AnswerMessageBoxes([](const ShownMessageBox& box) { Boxes().push_back(box); });
  }
  ~MessageBoxWatcher() { AnswerMessageBoxes(nullptr); }
  MessageBoxWatcher(const MessageBoxWatcher&) = delete;
  MessageBoxWatcher& operator=(const MessageBoxWatcher&) = delete;

  const std::vector<ShownMessageBox>& Shown() const { return Boxes(); }

 private:
  static std::vector<ShownMessageBox>& Boxes() {
    static std::vector<ShownMessageBox> boxes;
    return boxes;
  }
};
