// The signal: see signal_reading.h.
#include "host/signal_reading.h"

#include "host/terminal.h"

namespace {

constexpr std::size_t kShortestBar = 5;
constexpr std::size_t kLongestBar = 30;

}  // namespace

SignalReading ReadSignal(const DeviceInterface& entries) {
  SignalReading reading;
  reading.result = entries.get_signal(&reading.record, &reading.tuning);
  return reading;
}

int Percent(std::uint8_t figure) { return figure > 100 ? 100 : figure; }

const char* LockWords(const SignalReading& reading) {
  if (reading.result != kResultOk) {
    return "no answer";
  }
  return reading.record.locked != 0 ? "Lock" : "No lock";
}

std::string SignalLine(const SignalReading& reading, std::size_t width) {
  const int strength = Percent(reading.record.strength);
  const int quality = Percent(reading.record.quality);
  const std::string plain =
      Format("%-9s  Strength %3d%%  Quality %3d%%", LockWords(reading), strength, quality);
  const std::size_t room = width > plain.size() + 6 ? (width - plain.size() - 6) / 2 : 0;
  if (room < kShortestBar) {
    return plain.substr(0, width);
  }
  const std::size_t bar = room < kLongestBar ? room : kLongestBar;
  return Format("%-9s  Strength %3d%% %s  Quality %3d%% %s", LockWords(reading), strength,
                Bar(strength, bar).c_str(), quality, Bar(quality, bar).c_str());
}

Json SignalJson(const SignalReading& reading) {
  return {{"result", reading.result},
          {"locked", reading.result == kResultOk && reading.record.locked != 0},
          {"strength", reading.record.strength},
          {"quality", reading.record.quality}};
}
