// Capturing: the host's thread takes the packets the callback put in the
// ring, counts them and writes them to the sinks, with a progress line on the
// way; and the summary of what the stream held and where it went.
#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "abi/records.h"
#include "dvb/psi_reader.h"
#include "dvb/service_filter.h"
#include "dvb/stream_stats.h"
#include "host/report.h"
#include "host/sinks.h"

namespace host {

struct CaptureResult {
  dvb::StreamStats stats;  // every packet received
  dvb::PsiReader tables;   // what its tables announce
  double seconds = 0;
  double no_data_seconds = 0;
  std::uint64_t dropped = 0;  // the ring was full: the writer fell behind
  std::uint64_t handed = 0;   // packets handed to the outputs, all of them together
  std::string stopped_by;     // "time", "SIGINT", "the reader going away", "a write error", ...
};

// An output of the capture: what it keeps, and where that goes. Without a
// filter its sinks get every packet; with one, the packets it keeps.
struct Route {
  std::unique_ptr<dvb::ServiceFilter> filter;
  Sinks sinks;
};
using Routes = std::vector<Route>;

// Captures until `seconds` have passed (none: until a stop request), or a
// sink fails; `progress` shows the progress line. The statistics count every
// packet, and the tables are read once for all filters; the capture stops
// when the stream's tables show that a filter's service is not there ("the
// service missing").
void Capture(const DeviceInterface& entries, const Routes& routes, std::optional<double> seconds,
             bool progress, CaptureResult* result);

// The summary: its text lines said, its "capture" JSON object returned, each
// output with what it kept.
Json ReportCapture(const CaptureResult& result, const Routes& routes);

}  // namespace host
