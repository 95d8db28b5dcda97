// The card through the module for one command: loads the module, hands it the
// packet callback, opens the card, finds the card library the module loaded,
// and closes the card when the command is done, whether it ends normally, on a
// stop request or on a failure.
#pragma once
#include <cstdint>
#include <string>

#include "host/message_boxes.h"
#include "host/module.h"
#include "host/program.h"
#include "host/report.h"
#include "sim/control.h"  // the layout of the stand-in's lineup entries; nothing is linked

// The card library the module loaded, found by name among the loaded
// libraries: its file, and the stand-in card's lineup entries when it has them.
using LineupEntryFunction = int (*)(int index, SimTransponder* out);
using SatelliteNameFunction = int (*)(int satellite, char* buffer, int capacity);
struct CardLibrary {
  std::string path;  // empty when the module has not loaded one
  LineupEntryFunction lineup_entry = nullptr;
  SatelliteNameFunction satellite_name = nullptr;
};

// Which module to load, and a recording for the stand-in card to play.
struct SessionOptions {
  std::string module;  // --module; empty for Morvalind.dev beside this program
  std::string replay;  // --replay FILE: on every transponder of the stand-in card
};

std::string ModulePath(const SessionOptions& options);

// Loads the module; on failure says why and returns false (exit status 3).
bool LoadModule(const std::string& path, Module* module);

// A console program prints the module's message boxes on stderr and answers
// OK at once, so that a script never waits on a window (under Wine there is
// often no one to see it). main() hands this to AnswerMessageBoxes.
void ReportModuleMessage(const ShownMessageBox& box);

// Reports the module ("module"), DeviceOpen's result ("open") and the card
// library it loaded ("card_library") on the way.
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

  const Module& module() const { return module_; }
  const DeviceInterface& entries() const { return module_.entries(); }
  const CardLibrary& library() const { return library_; }

 private:
  std::string module_path_;
  Module module_;
  CardLibrary library_;
  std::int32_t open_result_ = kResultFailed;
  bool open_ = false;
  std::int32_t close_result_ = kResultFailed;
  int status_ = kExitModule;
};

// The descriptor in the report: "descriptor" with "device_name",
// "file_version", "product_version", "author", "word_520", "word_524"; its
// text lines.
void ReportDescriptor(const DeviceInterfaceInfo& info);

// DeviceClose's result in the report: "close": {"result": 0, "closed": true},
// and the text line "DeviceClose ...". Returns the exit status it makes.
int ReportClose(std::int32_t result);
