// A card library's own figures (abi/card_figures.h), where the loaded library
// has them: the Linux DVB library's and the SAT>IP library's (the stand-in
// card and the vendor's library have none); read into typed values, and said
// as text and JSON. Also the Linux DVB library's adapter list.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "abi/card_figures.h"
#include "host/card_library.h"
#include "host/report.h"

namespace host {

// Signal and C/N as the driver or the server gives them, and what the library
// counted since the card opened.
struct CardFigures {
  std::string device;                    // "adapter0", "SAT>IP 192.168.1.5:554 over UDP"
  std::string frontend;                  // the frontend's own name, the server's stream
  bool locked = false;                   // at the last signal poll
  std::optional<double> level_dbm;       // signal strength
  std::optional<double> level_relative;  // 0..65535, where the driver gives no dBm
  std::optional<double> cnr_db;
  std::optional<double> cnr_relative;
  std::optional<int> level;                          // a SAT>IP server's: 0..255
  std::optional<int> quality;                        // and 0..15
  std::optional<double> bit_error_rate;              // none until bits are counted
  const char* ber_source = "";                       // "counters", "v3", "quality"
  std::optional<std::uint64_t> counts[CARD_COUNTS];  // those the library keeps

  // A count the library keeps, else 0.
  std::uint64_t Count(CardCount count) const { return counts[count].value_or(0); }
};

// False when the library has no figures of its own.
bool ReadCardFigures(const CardLibrary& library, CardFigures* figures);

// "card_figures": {"device", "frontend", "locked", "level_dbm", "level_relative",
// "cnr_db", "cnr_relative", "level", "quality", "bit_error_rate", "ber_source"}
// and the counts the library keeps: "packets", "overflows", "skipped_bytes",
// "lock_losses", "stream_errors", "datagrams", "missing", "reordered", "late",
// "ring_full".
Json CardFiguresJson(const CardFigures& figures);
// "-55.0 dBm  C/N 33.0 dB  BER 2.0e-05", "level 224/255  quality 15/15  BER
// 6.8e-06": the signal figures in short.
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

}  // namespace host
