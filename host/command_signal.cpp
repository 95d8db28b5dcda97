// The signal command: strength, quality and lock, once or watched (for
// aligning a dish: refreshed in place, or a JSON line a sample).
#include <chrono>
#include <ctime>
#include <thread>

#include "host/commands.h"
#include "host/stop.h"
#include "host/terminal.h"

namespace {

using Clock = std::chrono::steady_clock;

// The time of a sample: "2024-05-01T12:00:00.250Z".
std::string Timestamp() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto millis =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm utc{};
#ifdef _WIN32
  gmtime_s(&utc, &seconds);
#else
  gmtime_r(&seconds, &utc);
#endif
  return Format("%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900, utc.tm_mon + 1,
                utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, static_cast<int>(millis));
}

double Since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Reads the signal until the watch ends: its seconds are up, a stop request
// came, the card gives no figures, or the reader of the report went away.
SignalReading Watch(const DeviceInterface& entries, std::optional<double> seconds) {
  const bool often = JsonReport() || IsTerminal(ReportStream());
  const auto pause = std::chrono::milliseconds(often ? 250 : 1000);
  const Clock::time_point start = Clock::now();
  SignalReading reading;
  int samples = 0;
  for (;;) {
    reading = ReadSignal(entries);
    ++samples;
    if (JsonReport()) {
      PrintJsonLine(
          {{"timestamp", Timestamp()}, {"seconds", Since(start)}, {"signal", SignalJson(reading)}});
    } else {
      ShowStatus(SignalLine(reading, TerminalWidth(ReportStream()) - 1));
    }
    const Clock::time_point next = Clock::now() + pause;
    while (Clock::now() < next && StopRequest() == nullptr) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    const double elapsed = Since(start);
    if (reading.result != kResultOk || ReportClosed() || StopRequest() != nullptr ||
        (seconds.has_value() && elapsed >= *seconds)) {
      Report()["samples"] = samples;
      Report()["seconds"] = elapsed;
      break;
    }
  }
  EndStatus();
  return reading;
}

}  // namespace

int RunSignal(const Options& options) {
  Session session(options.session);
  if (session.status() != kExitOk) {
    return session.status();
  }
  ReportSession(session);
  TuneReport report;
  if (options.tune.has_value()) {
    SelectAndTune(session.entries(), *options.tune, &report);
    AddTuneJson(*options.tune, report, &Report());
    SayTune(*options.tune, report);
    if (report.switch_result != kResultOk) {
      return TuneFailure(*options.tune, report);
    }
  }
  const SignalReading reading =
      options.watch ? Watch(session.entries(), options.seconds) : ReadSignal(session.entries());
  Report()["signal"] = SignalJson(reading);
  if (!options.watch) {
    Say("Signal            %s\n", SignalLine(reading, TerminalWidth(ReportStream()) - 19).c_str());
  }
  if (reading.result != kResultOk) {
    return Fail(kExitFailure, "the card gave no signal figures (DeviceGetSignal returned " +
                                  std::to_string(reading.result) + ")");
  }
  if (options.tune.has_value() && !Locked(report)) {
    return TuneFailure(*options.tune, report);
  }
  return kExitOk;
}
