// The signal as the module reports it: reading it, and showing it as a line
// whose bars fit the terminal, or as JSON.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "host/report.h"
#include "plugin/records.h"

struct SignalReading {
  std::int32_t result = kResultFailed;
  SignalRecord record{};
  TuningRecord tuning{};
};

SignalReading ReadSignal(const DeviceInterface& entries);

// A figure as the module gives it, shown as a percentage capped at 100.
int Percent(std::uint8_t figure);

// "Lock", "No lock", or "no answer" when the card gave no figures.
const char* LockWords(const SignalReading& reading);

// "Lock     Strength  81% [####...]  Quality  85% [####...]" in at most
// `width` columns; the bars take what room is left, or are left out.
std::string SignalLine(const SignalReading& reading, std::size_t width);

// {"result": 0, "locked": true, "strength": 81, "quality": 85}
Json SignalJson(const SignalReading& reading);
