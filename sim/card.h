// The stand-in card's state, shared by its vendor entries and its control panel.
#pragma once

#include <cstdint>
#include <mutex>
#include <set>
#include <string>

#include "sim/bus.h"
#include "sim/control.h"
#include "sim/frontend.h"
#include "sim/journal.h"
#include "sim/lineup.h"

namespace sim {

struct JournalLine {
  std::string call;
  std::uint32_t thread;
};

struct Card {
  std::mutex mutex;  // guards everything below
  std::int32_t results[SIM_STEP_COUNT] = {};
  std::uint32_t frontend_flags = 0;
  int live[2] = {};
  std::set<const void*> objects[2];  // addresses of the live objects
  int constructions[2] = {};
  bool recording = false;
  bool device_open = false;
  Journal<JournalLine> journal;
  std::int64_t reads = 0;
  Bus bus;                                    // the card's internal device bus
  Frontend frontend;                          // tuner, lineup and dish
  CardSettings settings = BuiltInSettings();  // what Reset sets the card up with
  std::string lineup_error;  // why the lineup file could not be used: the card does not open
  std::string said;          // the last problem said on stderr (CardLastProblem)

  void Reset();
  // Appends a journal line; the caller holds `mutex`.
  void Log(const std::string& call);
  // Logs a member call, marked when `self` is not a live object of that kind.
  void LogMember(int object, const void* self, const std::string& call);
};

Card& TheCard();

std::uint32_t CurrentThread();

// A read of the card's stream as TSRecordRead makes it (sim/record_read.cpp),
// and the reset of what SimHangReads and SimRepeatReads script.
std::int32_t RecordRead(std::uint8_t* buffer, std::int32_t capacity, bool recording);
void ResetRecordRead();

}  // namespace sim
