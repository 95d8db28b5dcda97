// The Linux DVB card library's own figures and adapter list, where the loaded
// library has them (the stand-in card and the vendor's library have neither):
// read into typed values, and said as text and JSON.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "host/card_library.h"
#include "host/report.h"

// The Linux DVB library's own figures: signal and C/N as the driver gives
// them, and what the library counted since the card opened.
struct CardFigures {
  std::string device;                    // "adapter0", "adapter0 on HOST:PORT"
  std::string frontend;                  // the frontend's own name
  bool locked = false;                   // at the last signal poll
  std::optional<double> level_dbm;       // signal strength
  std::optional<double> level_relative;  // 0..65535, where the driver gives no dBm
  std::optional<double> cnr_db;
  std::optional<double> cnr_relative;
  std::optional<double> bit_error_rate;  // none until bits are counted
  const char* ber_source = "";           // "counters", "v3"
  std::uint64_t packets = 0, overflows = 0, skipped_bytes = 0, lock_losses = 0, stream_errors = 0;
};

// False when the library has no figures of its own.
bool ReadCardFigures(const CardLibrary& library, CardFigures* figures);

// "card_figures": {"device", "frontend", "locked", "level_dbm", "level_relative",
// "cnr_db", "cnr_relative", "bit_error_rate", "ber_source", "packets",
// "overflows", "skipped_bytes", "lock_losses", "stream_errors"}.
Json CardFiguresJson(const CardFigures& figures);
// "-55.0 dBm  C/N 33.0 dB  BER 2.0e-05": the signal figures in short.
std::string CardSignalText(const CardFigures& figures);
// The line "Card figures ...": the signal in short and the counts.
void SayCardFigures(const CardFigures& figures);

// Stream reads the card library in use counted as failed (the adapter or the
// daemon gone); 0 when the library does not count them.
std::uint64_t CardStreamErrors();
// A capture's "stopped_by" when they grew.
constexpr char kStoppedByStreamFailure[] = "the card's stream failing";

// One frontend as LinuxDvbListAdapters lists it.
struct AdapterEntry {
  int adapter = 0;
  int frontend = 0;
  std::string name;  // empty when it could not be described
  std::vector<std::string> systems;
};
