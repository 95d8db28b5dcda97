// Selecting the dish and tuning a transponder, and the report of it, shared by
// the tune, signal, capture and demo commands.
#pragma once
#include <cstdint>
#include <vector>

#include "host/diseqc.h"
#include "host/report.h"
#include "host/signal_reading.h"
#include "host/transponder.h"

// What to tune and how to reach the dish: from the tune options (later also
// from a channel file's entry).
struct TuneRequest {
  Transponder transponder;
  DishSelection dish;
};

// What selecting the dish and tuning did.
struct TuneReport {
  std::vector<std::uint8_t> switch_message;
  std::int32_t switch_result = kResultOk;
  std::int32_t tune_result = kResultFailed;
  double seconds = 0;
  SignalReading signal;
};

// Sends the switch port's message (with the burst before it, or the burst
// alone), then tunes and reads the signal; the dish selection failing ends it.
void SelectAndTune(const DeviceInterface& entries, const TuneRequest& request, TuneReport* report);

bool Locked(const TuneReport& report);

// The text lines of a tune, and its JSON fields ("transponder", "dish",
// "tune", "signal") added to `object`.
void SayTune(const TuneRequest& request, const TuneReport& report);
void AddTuneJson(const TuneRequest& request, const TuneReport& report, Json* object);
Json TransponderJson(const Transponder& transponder);

// Reports a tune that did not reach lock; returns its exit status.
int TuneFailure(const TuneRequest& request, const TuneReport& report);
