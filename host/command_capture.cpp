// The capture command: tune, write the transport stream to its outputs, and
// summarise what it held.
#include "host/capture.h"
#include "host/options.h"

int RunCapture(const Options& options) {
  // The outputs first: one that cannot be written ends the command before the card is touched.
  Sinks sinks;
  std::string problem;
  if (!options.out.empty()) {
    sinks.push_back(OpenFileSink(options.out, &problem));
  }
  if (problem.empty() && !options.udp.empty()) {
    sinks.push_back(OpenUdpSink(options.udp, &problem));
  }
  if (!problem.empty()) {
    return Fail(kExitFile, problem);
  }
  Session session(options.session);
  if (session.status() != kExitOk) {
    return session.status();
  }
  const TuneRequest& request = *options.tune;
  TuneReport report;
  SelectAndTune(session.entries(), request, &report);
  ReportTune(request, report, &Report());
  if (!Locked(report)) {
    return TuneFailure(request, report);  // the outputs are left as they were
  }
  CaptureResult result;
  Capture(session.entries(), sinks, options.seconds, !JsonReport(), &result);
  CardFigures figures;
  const bool figured = ReadCardFigures(session.library(), &figures);
  const std::int32_t closed = session.Close();
  std::string failure;  // the first output's error, a reader going away aside
  for (const auto& sink : sinks) {
    sink->Finish();
    failure = failure.empty() && !sink->reader_gone ? sink->error : failure;
  }
  Report()["capture"] = ReportCapture(result, sinks);
  if (figured) {
    Report()["capture"]["card_figures"] = CardFiguresJson(figures);
    SayCardFigures(figures);
  }
  const int status = ReportClose(closed);
  if (result.stopped_by == kStoppedByStreamFailure) {
    return Fail(kExitFailure, "the card's stream failed (the card library said why); " +
                                  std::to_string(figures.stream_errors) + " failed reads");
  }
  return failure.empty() ? status : Fail(kExitFile, failure);
}
