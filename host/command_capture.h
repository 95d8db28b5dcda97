// Capturing the transport stream to a file, and the summary of what it held;
// the capture command and the demo both capture.
#pragma once
#include <cstdint>
#include <cstdio>

#include "host/json.h"
#include "host/options.h"
#include "host/stream_stats.h"
#include "plugin/records.h"

struct CaptureResult {
  StreamStats stats;
  double seconds = 0;
  double no_data_seconds = 0;
  std::uint64_t dropped = 0;
  bool write_failed = false;
};

// Captures for `seconds` into `file`; `progress` shows a line refreshed in
// place on a terminal, one line a second otherwise.
void Capture(const DeviceInterface& entries, std::FILE* file, double seconds, bool progress,
             CaptureResult* result);

// Packets, errors, services and PIDs of a capture, as text lines or JSON fields.
void PrintStreamSummary(const CaptureResult& result);
JsonFields StreamSummaryJson(const CaptureResult& result);

// Reads --seconds (1..86400, `fallback` when not given); on a bad value
// reports it and sets *status.
bool ReadSeconds(const Arguments& arguments, long fallback, long* seconds, int* status);
