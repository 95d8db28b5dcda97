// The card through the module for one command: loads the module, hands it the
// packet callback, opens the card, finds the card library the module loaded,
// and closes the card when the command is done, whether it ends normally, on a
// stop request or on a failure.
#pragma once
#include <cstdint>
#include <string>

#include "host/card_library.h"
#include "host/program.h"
#include "host/report.h"
#include "loader/message_boxes.h"
#include "loader/module.h"

namespace host {

// Which module to load and which card library it drives the card through; a
// stream to replay joins them.
struct SessionOptions {
  std::string module;    // --module; empty for Morvalind.dev beside this program
  CardChoice card;       // --card
  std::string replay;    // --replay FILE: on every transponder of the stand-in card
  bool verbose = false;  // -v: the card library's own messages too
};

std::string ModulePath(const SessionOptions& options);

// Loads the module; on failure says why and returns false (exit status 3).
bool LoadModule(const std::string& path, Module* module);

// A console program prints the module's message boxes on stderr and answers
// OK at once, so that a script never waits on a window (under Wine there is
// often no one to see it). main() hands this to AnswerMessageBoxes.
void ReportModuleMessage(const ShownMessageBox& box);

// Reports the module ("module"), DeviceOpen's result ("open") and the card
// library in use ("card_library", also when the card did not open) on the way.
// A chosen card library that is missing or does not load ends it before the
// open, with the card's exit status.
class Session {
 public:
  explicit Session(const SessionOptions& options);
  ~Session() { Close(); }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // kExitOk once the card is open; otherwise the failure's status, reported.
  int status() const { return status_; }
  // DeviceClose, once; later calls return the first result.
  std::int32_t Close();
  // The command's end: the card closed and "close" reported, when it was
  // open; returns `status`, or the close's failure when `status` is 0.
  int End(int status);

  const Module& module() const { return module_; }
  const DeviceInterface& entries() const { return module_.entries(); }
  const CardLibrary& library() const { return library_; }

 private:
  std::string module_path_;
  Module module_;
  CardLibrary library_;
  std::int32_t open_result_ = kResultFailed;
  bool open_ = false;
  bool reported_ = false;  // "close" is in the report
  std::int32_t close_result_ = kResultFailed;
  int status_ = kExitModule;
};

// The descriptor in the report: "descriptor" with "device_name",
// "file_version", "product_version", "author" and "fixed_words", the two
// words the module sets to fixed values for the host application ({"offset_520":
// 0, "offset_524": 1}); its text lines.
void ReportDescriptor(const DeviceInterfaceInfo& info);

// DeviceClose's result in the report: "close": {"result": 0, "closed": true},
// and the text line "DeviceClose ...". Returns the exit status it makes.
int ReportClose(std::int32_t result);

}  // namespace host
