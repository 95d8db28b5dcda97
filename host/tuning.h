// Selecting the dish, tuning a transponder and reading the signal, and the
// report of them, shared by the tune, signal, capture and demo commands.
#pragma once
#include <cstdint>
#include <vector>

#include "abi/records.h"
#include "dvb/channel_file.h"
#include "dvb/diseqc.h"
#include "dvb/transponder.h"
#include "host/report.h"

namespace host {

// How the dish is reached before tuning: a committed switch port, a burst.
struct DishSelection {
  int port = 0;   // 1..4, 0 none
  int burst = 0;  // DeviceSendDiseqc's mode: 1 burst A, 2 burst B, 0 none
};

// "A", "B" or "" for none.
const char* BurstName(int burst);

// Sends `message` (may be empty for a burst alone) with `burst`.
std::int32_t SendDiseqc(const DeviceInterface& entries, const std::vector<std::uint8_t>& message,
                        int burst);

// The signal as the module reports it.
struct SignalReading {
  std::int32_t result = kResultFailed;
  SignalRecord record{};
  TuningRecord tuning{};
};

SignalReading ReadSignal(const DeviceInterface& entries);

// The module's record for a transponder whose oscillator and tone are settled.
TuningRecord MakeTuningRecord(const dvb::Transponder& transponder);

// A figure as the module gives it, shown as a percentage capped at 100.
int Percent(std::uint8_t figure);

// "Lock", "No lock", or "no answer" when the card gave no figures.
const char* LockWords(const SignalReading& reading);

// "Lock     Strength  81% [####...]  Quality  85% [####...]" in at most
// `width` columns; the bars take what room is left, or are left out.
std::string SignalLine(const SignalReading& reading, std::size_t width);

// {"result": 0, "locked": true, "strength": 81, "quality": 85}
Json SignalJson(const SignalReading& reading);

// What to tune and how to reach the dish: from the tune options (later also
// from a channel file's entry).
struct TuneRequest {
  dvb::Transponder transponder;
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

// A tune in the report: its JSON fields ("transponder", "dish", "tune",
// "signal") added to `object`, and with `text` its text lines said.
void ReportTune(const TuneRequest& request, const TuneReport& report, Json* object,
                bool text = true);
Json TransponderJson(const dvb::Transponder& transponder);

// Reports a tune that did not reach lock; returns its exit status.
int TuneFailure(const TuneRequest& request, const TuneReport& report);

// A channel file's entry as the same request the tune options make: its LNB
// by name (universal when it names none), SAT_NUMBER as the switch port.
// False with `error` when this card cannot tune it.
bool ChannelRequest(const dvb::ChannelEntry& entry, TuneRequest* request, std::string* error);

// The LNB a channel file's entry names for a settled transponder: its type's
// name as the Linux tools know it ("UNIVERSAL"), or for a given oscillator
// the one-oscillator type that has it; empty when there is none.
std::string ChannelFileLnb(const dvb::Transponder& transponder);

}  // namespace host
