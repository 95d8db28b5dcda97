// Capturing: the host's thread takes the packets the callback put in the
// ring, counts them and writes them to the sinks, with a progress line on the
// way; and the summary of what the stream held and where it went.
#pragma once
#include <cstdint>
#include <optional>
#include <string>

#include "abi/records.h"
#include "dvb/psi_reader.h"
#include "dvb/service_filter.h"
#include "dvb/stream_stats.h"
#include "host/report.h"
#include "host/sinks.h"

struct CaptureResult {
  StreamStats stats;  // every packet received
  PsiReader tables;   // what its tables announce
  double seconds = 0;
  double no_data_seconds = 0;
  std::uint64_t dropped = 0;  // the ring was full: the writer fell behind
  std::string stopped_by;     // "time", "SIGINT", "the reader going away", "a write error", ...
};

// Captures until `seconds` have passed (none: until a stop request), or a
// sink fails; `progress` shows the progress line. With a `filter`, the sinks
// get the packets it keeps (the statistics still count every packet), and
// the capture stops when the stream's tables show that its service is not
// there ("the service missing").
void Capture(const DeviceInterface& entries, const Sinks& sinks, std::optional<double> seconds,
             bool progress, CaptureResult* result, ServiceFilter* filter = nullptr);

// The summary: its text lines said, its "capture" JSON object returned.
Json ReportCapture(const CaptureResult& result, const Sinks& sinks);
