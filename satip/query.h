// The query of a SAT>IP 1.2.2 URL (rtsp://host/?src=1&freq=11778&pol=v&...):
// its keys parsed into typed values, the tuning they ask for, and the query
// written back. The DVB-S and DVB-S2 keys only; the values' types are the
// broadcast's own (dvb/).
//
//   src     switch input 1..255                fe    frontend 1..65535
//   freq    MHz on the dish, decimals allowed  pol   h v l r
//   msys    dvbs dvbs2                         mtype qpsk 8psk (16apsk 32apsk)
//   sr      kSym/s                             fec   12 23 34 56 78 89 35 45 910
//   ro      0.35 0.25 0.20 (35 25 20)          plts  on off auto
//   pids    a list, all, none                  addpids, delpids  lists
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "dvb/channel_file.h"
#include "satip/pids.h"

namespace satip {

enum class Pilots : std::uint8_t { kOff, kOn, kAuto };

// Each key as the query gives it; absent when not given.
struct Query {
  std::optional<int> src;
  std::optional<int> fe;
  std::optional<std::uint32_t> frequency_khz;
  std::optional<dvb::Polarization> polarization;
  std::optional<dvb::DeliverySystem> system;
  std::optional<dvb::Modulation> modulation;
  std::optional<std::uint32_t> symbol_rate_ksym;
  std::optional<dvb::CodeRate> fec;
  std::optional<dvb::Rolloff> rolloff;
  std::optional<Pilots> pilots;
  std::optional<PidSet> pids;
  std::optional<PidSet> add_pids;
  std::optional<PidSet> del_pids;

  bool operator==(const Query& other) const;
};

// A query without its "?": keys and values percent-decoded, items separated
// by "&" (an "&amp;" left from a channel list's HTML or XML reads as "&"),
// empty items and unknown keys passed over, keys and values in any case.
// A key given twice must give the same value (addpids and delpids add up).
// False with one line naming the key in *error.
bool ParseQuery(std::string_view text, Query* query, std::string* error);

// Sets the one field `key` names from `value`, as ParseQuery does for each
// item; true, changing nothing, for a key that is not one of the above.
bool ParseKey(std::string_view key, std::string_view value, Query* query, std::string* error);

// The keys given, in the order SAT>IP 1.2.2's examples write them (src fe
// freq pol ro msys mtype plts sr fec pids addpids delpids):
// "src=1&freq=11778.25&pol=v&msys=dvbs&sr=27500&fec=34&pids=0,17".
std::string FormatQuery(const Query& query);

// One key's value as FormatQuery writes it ("0.35", "8psk"); "" when absent.
std::string FormatKey(std::string_view key, const Query& query);

// A whole tuning, as a stream holds it.
struct Tuning {
  int src = 1;
  std::optional<int> fe;
  std::uint32_t frequency_khz = 0;  // on the dish
  dvb::Polarization polarization = dvb::Polarization::kVertical;
  dvb::DeliverySystem system = dvb::DeliverySystem::kDvbS;
  std::optional<dvb::Modulation> modulation;
  std::uint32_t symbol_rate_ksym = 0;
  std::optional<dvb::CodeRate> fec;
  std::optional<dvb::Rolloff> rolloff;
  std::optional<Pilots> pilots;

  bool operator==(const Tuning& other) const;
};

// Whether two tunings reach the same transponder, so that streams of both can
// share one tuner: same switch input, frequency, polarisation, symbol rate
// and system (the code rate, roll-off and pilots the card finds itself).
bool SameTransponder(const Tuning& a, const Tuning& b);

// Whether the query has any tuning key (src fe freq pol msys mtype sr fec ro plts).
bool HasTuning(const Query& query);

// The tuning the query asks for, over the stream's current one: a query with
// freq is a new tuning (pol and sr must come with it; src 1 and DVB-S unless
// given); tuning keys without freq change the current tuning. A query without
// tuning keys leaves *tuning as it is. False with a reason in *error.
bool ApplyTuning(const Query& query, std::optional<Tuning>* tuning, std::string* error);

// The PIDs after the query: pids replaces, then addpids adds and delpids removes.
bool ApplyPids(const Query& query, PidSet* pids, std::string* error);

// The query that asks for `tuning` (the client's SETUP and PLAY).
Query TuningQuery(const Tuning& tuning);

}  // namespace satip
