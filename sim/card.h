// The stand-in card's state, shared by its vendor entries and its control panel.
#pragma once

#include <cstdint>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "sim/bus.h"
#include "sim/control.h"
#include "sim/frontend.h"
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
  std::vector<JournalLine> journal;
  std::int64_t reads = 0;
  Bus bus;                                    // the card's internal device bus
  Frontend frontend;                          // tuner, lineup and dish
  CardSettings settings = BuiltInSettings();  // what Reset sets the card up with
  std::string lineup_error;  // why the lineup file could not be used: the card does not open

  void Reset();
  // Appends a journal line; the caller holds `mutex`.
  void Log(const std::string& call);
  // Logs a member call, marked when `self` is not a live object of that kind.
  void LogMember(int object, const void* self, const std::string& call);
};

Card& TheCard();

// Copies `line` into `buffer` (NUL-terminated, cut to `capacity`); returns the
// line's full length.
int CopyLine(const std::string& line, char* buffer, int capacity);

std::uint32_t CurrentThread();

// Copies line `index` of a journal into `buffer` (NUL-terminated, cut to
// `capacity`); returns its full length, or -1 when there is no such line.
template <typename Journal, typename Text>
int CopyJournalLine(const Journal& journal, int index, Text text, char* buffer, int capacity) {
  if (index < 0 || static_cast<std::size_t>(index) >= journal.size()) {
    return -1;
  }
  return CopyLine(text(journal[static_cast<std::size_t>(index)]), buffer, capacity);
}

}  // namespace sim
