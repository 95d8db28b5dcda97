// The capture command: tune, write the transport stream to its outputs, and
// summarise what it held.
#include "host/capture.h"
#include "host/card_figures.h"
#include "host/options.h"

namespace host {

namespace {

// The service kept: "kept" in the capture's JSON, and a line.
void ReportKept(const dvb::ServiceFilter& filter) {
  dvb::Service service;
  if (filter.service(&service)) {
    if (!Report()["capture"].contains("kept")) {  // the first output's
      Report()["capture"]["kept"] = {{"program", service.program}, {"name", service.name}};
    }
    Say("Kept              service %u, %s\n", static_cast<unsigned>(service.program),
        service.name.c_str());
  }
}

// The chosen service was not on the transponder, or its tables never came:
// what the stream carries instead: by its PAT once read (the SDT may still
// name a service the PAT no longer has), else by its SDT.
std::string MissingService(const dvb::ServiceFilter& filter) {
  std::string carried;
  for (const dvb::Service& service : filter.tables().services()) {
    if (filter.tables().pat_read() && service.pmt_pid == 0) {
      continue;
    }
    carried += Format("%s%u", carried.empty() ? "" : ", ", static_cast<unsigned>(service.program)) +
               (service.name.empty() ? "" : " " + service.name);
  }
  return filter.state() == dvb::ServiceFilter::State::kNotFound
             ? "the service is not on this transponder, which carries: " + carried
             : "the service's tables were not read, so nothing was written";
}

}  // namespace

int RunCapture(const Options& options) {
  // The outputs first: one that cannot be written ends the command before the card is touched.
  CaptureResult result;
  Routes routes;
  std::string problem;
  for (const CaptureOutput& output : options.outputs) {
    if (!problem.empty()) {
      break;
    }
    Route& route = routes.emplace_back();
    route.sinks.push_back(output.to.kind == Destination::Kind::kFile
                              ? OpenFileSink(output.to.path, &problem)
                              : OpenNetworkSink(output.to, options.sending, &problem));
    if (output.keep.has_value()) {
      route.filter = std::make_unique<dvb::ServiceFilter>(*output.keep, &result.tables);
    }
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
    return session.End(TuneFailure(request, report));  // the outputs are left as they were
  }
  Capture(session.entries(), routes, options.seconds, !JsonReport(), &result);
  CardFigures figures;
  const bool figured = ReadCardFigures(session.library(), &figures);
  const std::int32_t closed = session.Close();
  std::string failure;  // the first output's error, a reader going away aside
  for (const Route& route : routes) {
    FinishSinks(route.sinks);
    for (const auto& sink : route.sinks) {
      failure = failure.empty() && !sink->reader_gone ? sink->error : failure;
    }
  }
  Report()["capture"] = ReportCapture(result, routes);
  if (figured) {
    Report()["capture"]["card_figures"] = CardFiguresJson(figures);
    SayCardFigures(figures);
  }
  const dvb::ServiceFilter* missing = nullptr;  // the first service not kept
  for (const Route& route : routes) {
    if (route.filter != nullptr) {
      ReportKept(*route.filter);
    }
    if (missing == nullptr && route.filter != nullptr &&
        route.filter->state() != dvb::ServiceFilter::State::kKeeping) {
      missing = route.filter.get();
    }
  }
  const int status = ReportClose(closed);
  if (result.stopped_by == kStoppedByStreamFailure) {
    const std::string why = CardLibraryProblem(session.library());
    return Fail(kExitFailure, "the card's stream failed (" +
                                  (why.empty() ? "the card library said why" : why) + "); " +
                                  std::to_string(figures.Count(CARD_COUNT_STREAM_ERRORS)) +
                                  " failed reads");
  }
  if (missing != nullptr) {
    return Fail(kExitFailure, MissingService(*missing));
  }
  return failure.empty() ? status : Fail(kExitFile, failure);
}

}  // namespace host
