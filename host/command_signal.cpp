// The tune and signal commands: tune (the signal command's first step when a
// transponder is given), then the signal once, or watched for aligning a dish
// (refreshed in place, or a JSON line a sample).
#include <chrono>
#include <thread>

#include "host/card_figures.h"
#include "host/options.h"
#include "host/system.h"

namespace host {

namespace {

// Reads the signal until the watch ends: its seconds are up, a stop request
// came, the card gives no figures, or the reader of the report went away. A
// sample's time is Unix time in seconds.
SignalReading Watch(const Session& session, std::optional<double> seconds) {
  const DeviceInterface& entries = session.entries();
  const auto pause =
      std::chrono::milliseconds(JsonReport() || IsTerminal(ReportStream()) ? 250 : 1000);
  const Clock::time_point start = Clock::now();
  SignalReading reading;
  int samples = 0;
  for (bool more = true; more; ++samples) {
    reading = ReadSignal(entries);
    CardFigures figures;
    const bool figured = ReadCardFigures(session.library(), &figures);
    const double now =
        std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    if (JsonReport()) {
      Json line = {
          {"time", now}, {"seconds", SecondsSince(start)}, {"signal", SignalJson(reading)}};
      if (figured) {
        line["card_figures"] = CardFiguresJson(figures);
      }
      PrintJsonLine(line);
    } else {
      // The library's own figures after the module's, as far as they fit.
      const std::string own = figured ? CardSignalText(figures) : std::string();
      const std::size_t width = TerminalWidth(ReportStream()) - 1;
      ShowStatus(
          own.empty()
              ? SignalLine(reading, width)
              : FitPieces(
                    {SignalLine(reading, width > own.size() + 2 ? width - own.size() - 2 : width),
                     own},
                    width));
    }
    for (const Clock::time_point next = Clock::now() + pause;
         Clock::now() < next && StopRequest() == nullptr;) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    more = reading.result == kResultOk && !ReportClosed() && StopRequest() == nullptr &&
           (!seconds.has_value() || SecondsSince(start) < *seconds);
  }
  EndStatus();
  Report()["samples"] = samples;
  Report()["seconds"] = SecondsSince(start);
  return reading;
}

}  // namespace

int RunSignal(const Options& options) {  // and tune, which needs a transponder
  Session session(options.session);
  if (session.status() != kExitOk) {
    return session.status();
  }
  TuneReport report;
  if (options.tune.has_value()) {
    SelectAndTune(session.entries(), *options.tune, &report);
    ReportTune(*options.tune, report, &Report());
    if (report.switch_result != kResultOk) {
      return session.End(TuneFailure(*options.tune, report));
    }
  }
  SignalReading reading = report.signal;  // the tune's
  if (options.watch) {
    reading = Watch(session, options.seconds);
  } else if (!options.tune.has_value()) {
    reading = ReadSignal(session.entries());
    Say("Signal            %s\n", SignalLine(reading, TerminalWidth(ReportStream()) - 19).c_str());
  }
  Report()["signal"] = SignalJson(reading);
  CardFigures figures;
  if (ReadCardFigures(session.library(), &figures)) {
    Report()["card_figures"] = CardFiguresJson(figures);
    SayCardFigures(figures);
  }
  if (reading.result != kResultOk) {
    return session.End(
        Fail(kExitFailure, "the card gave no signal figures (DeviceGetSignal returned " +
                               std::to_string(reading.result) + ")"));
  }
  // A watch, for aligning a dish, is done when stopped or when it ends locked.
  if (options.watch && (StopRequest() != nullptr || reading.record.locked != 0)) {
    return session.End(kExitOk);
  }
  if (options.tune.has_value() && !Locked(report)) {
    return session.End(TuneFailure(*options.tune, report));
  }
  return session.End(kExitOk);
}

}  // namespace host
