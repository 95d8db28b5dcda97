// The card through the module: loading the module, finding the card library
// it loaded, the packet callback and its queue, CardSession (the card open for
// one command), DiSEqC sending, and reading and showing the signal.
#pragma once
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "host/json.h"
#include "host/message_boxes.h"
#include "host/module.h"
#include "host/options.h"
#include "host/program.h"
#include "sim/control.h"  // the layout of the stand-in's lineup entries; nothing is linked

// ---- Loading the module and finding the card library it loaded.

// --module, or Morvalind.dev beside this program.
std::string ModulePath(const Arguments& arguments);

// Loads the module named by the arguments; on failure says why on stderr.
bool LoadModule(const Arguments& arguments, Module* module);

// A console program prints the module's message boxes on stderr and answers
// OK at once, so that a script never waits on a window (under Wine there is
// often no one to see it). main() hands this to AnswerMessageBoxes.
void ReportModuleMessage(const ShownMessageBox& box);

// The card library the module loaded, found by name among the loaded
// libraries: its file, and the stand-in's lineup entries when it has them.
using LineupEntryFunction = int (*)(int index, SimTransponder* out);
using SatelliteNameFunction = int (*)(int satellite, char* buffer, int capacity);

struct CardLibrary {
  std::string path;  // empty when the module has not loaded one
  LineupEntryFunction lineup_entry = nullptr;
  SatelliteNameFunction satellite_name = nullptr;
};

CardLibrary FindCardLibrary();

// ---- Packets from the capture thread to the writer.

// The packet callback runs on the module's capture thread: it counts, and
// while a capture is on it appends the packet to `pending` under the mutex.
// Only the host's thread takes packets out and writes them.
struct PacketQueue {
  std::atomic<std::uint64_t> received{0};
  std::atomic<std::uint64_t> misshaped{0};
  std::mutex mutex;
  bool accepting = false;
  std::uint64_t dropped = 0;  // the writer fell behind by kQueueLimit
  std::vector<std::uint8_t> pending;
};

extern PacketQueue packet_queue;

// The packet callback handed to the module.
std::int32_t MV_STDCALL ReceivePacket(const std::uint8_t* packet, std::int32_t length);

// ---- The card through the module's entries.

// Opens the card on construction (after loading the module) and closes it on
// destruction. status() is kExitOk once the card is open.
class CardSession {
 public:
  explicit CardSession(const Arguments& arguments);
  ~CardSession() { Close(); }
  CardSession(const CardSession&) = delete;
  CardSession& operator=(const CardSession&) = delete;

  std::int32_t Close();
  int status() const { return status_; }
  const Module& module() const { return module_; }
  const DeviceInterface& entries() const { return module_.entries(); }
  const CardLibrary& library() const { return library_; }

 private:
  Module module_;
  CardLibrary library_;
  bool open_ = false;
  int status_ = kExitOk;
};

// Sends `message` (may be empty) with DeviceSendDiseqc's `mode` (1 burst A,
// 2 burst B, 0 none).
std::int32_t SendDiseqc(const DeviceInterface& entries, const std::vector<std::uint8_t>& message,
                        int mode);

// ---- The signal.

struct SignalReading {
  std::int32_t result = kResultFailed;
  SignalRecord record{};
  TuningRecord tuning{};
};

SignalReading ReadSignal(const DeviceInterface& entries);

// A figure as the module gives it, shown as a percentage capped at 100.
int Percent(std::uint8_t figure);

// "Lock", "No lock", or "no answer" when the card gave no figures.
std::string LockWords(const SignalReading& reading);

// Lock, strength and quality on one line; `bars` adds a bar to each figure.
std::string SignalLine(const SignalReading& reading, bool bars);

JsonFields SignalJson(const SignalReading& reading);
