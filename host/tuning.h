// Selecting the dish and tuning a transponder, and the report of it, shared by
// the tune, signal, capture and demo commands.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "host/card_session.h"
#include "host/json.h"
#include "host/options.h"

// "11778 MHz V 27500 kSym/s FEC 3/4".
std::string TransponderText(const Transponder& transponder);

JsonFields TransponderJson(const Transponder& transponder);

// What selecting the dish and tuning did, for the text and JSON reports.
struct TuneReport {
  std::vector<std::uint8_t> switch_message;
  std::int32_t switch_result = kResultOk;
  std::int32_t tune_result = kResultFailed;
  double seconds = 0;
  SignalReading signal;
};

// Sends --port's switch message (with --burst's burst before it, or the burst
// alone), then tunes and reads the signal. False when the dish selection failed.
bool SelectAndTune(const DeviceInterface& entries, const Transponder& transponder,
                   const DishSelection& dish, TuneReport* report);

// Reads the transponder and dish options of a command; on a bad one reports
// it and sets *status.
bool ReadTuneOptions(const Arguments& arguments, const char* command, Transponder* transponder,
                     DishSelection* dish, int* status);

// Text lines of a tune, shared by tune, signal and capture.
void PrintTune(const CardSession& card, const Transponder& transponder, const DishSelection& dish,
               const TuneReport& report);

JsonFields TuneJson(const CardSession& card, const Transponder& transponder,
                    const DishSelection& dish, const TuneReport& report);

// The exit status and one line for a tune that did not reach lock.
int TuneFailure(const Transponder& transponder, const DishSelection& dish,
                const TuneReport& report);
