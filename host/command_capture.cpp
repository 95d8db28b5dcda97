// The capture command: tune, write the transport stream to its outputs, and
// summarise what it held.
#include "host/capture.h"
#include "host/commands.h"

int RunCapture(const Options& options) {
  // The outputs first: one that cannot be written ends the command before the card is touched.
  Sinks sinks;
  std::string problem;
  if (!options.out.empty()) {
    sinks.push_back(OpenFileSink(options.out, &problem));
  }
  if (problem.empty() && !options.udp.empty()) {
    sinks.push_back(OpenUdpSink(options.udp, options.rtp, &problem));
  }
  if (!problem.empty()) {
    return Fail(kExitFile, problem);
  }
  Session session(options.session);
  if (session.status() != kExitOk) {
    return session.status();
  }
  ReportSession(session);
  const TuneRequest& request = *options.tune;
  TuneReport report;
  SelectAndTune(session.entries(), request, &report);
  AddTuneJson(request, report, &Report());
  SayTune(request, report);
  if (!Locked(report)) {
    return TuneFailure(request, report);  // the outputs are left as they were
  }
  CaptureResult result;
  Capture(session.entries(), sinks, options.seconds, !JsonReport(), &result);
  const std::int32_t closed = session.Close();
  for (const auto& sink : sinks) {
    sink->Finish();
  }
  Report()["capture"] = CaptureJson(result, sinks);
  Report()["close"] = CloseJson(closed);
  SayCaptureSummary(result, sinks);
  SayClose(closed);
  for (const auto& sink : sinks) {
    if (!sink->error().empty() && !sink->reader_gone()) {
      return Fail(kExitFile, sink->error());
    }
  }
  return closed == kResultOk ? kExitOk
                             : Fail(kExitFailure, "DeviceClose returned " + std::to_string(closed));
}
