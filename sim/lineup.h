// The stand-in card's lineup and knobs: as built (sim/lineup.json), or as a
// lineup file changes them (sim/README.md, The lineup file).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sim/generator.h"
#include "sim/replay.h"

namespace sim {

struct LineupTransponder {
  int satellite;
  std::uint32_t frequency_mhz;
  char polarity;  // 'H' or 'V'
  std::uint32_t symbol_rate_ksps;
  std::uint32_t fec_code;  // as in the host's tuning record, e.g. 0x34
  std::uint8_t level;      // vendor level byte while locked (a percentage)
  double bit_error_rate;   // while locked
  MultiplexDescription multiplex;
  std::shared_ptr<const Recording> recording;  // null: the generated multiplex plays
  bool stuffing;  // null packets fill the recording up to the card's rate
};

struct LineupSatellite {
  std::string name;
  int angle_tenths;  // orbital position seen by the positioner, tenths of a degree, east positive
  // DVB-S2 transponders its network's NIT lists beside the lineup's own, which
  // the card does not carry.
  std::vector<NetworkEntry> dvb_s2;
};

// What the card is set up with; SimReset restores the built-in one.
struct CardSettings {
  std::uint32_t bits_per_second = kDefaultBitsPerSecond;  // 0: unpaced
  int lock_polls = 2;
  int tune_delay_ms = 0;  // SetChannel takes this long
  std::vector<LineupSatellite> satellites;
  std::vector<LineupTransponder> transponders;
};

// The card as built: the lineup of sim/lineup.json and the default knobs.
const CardSettings& BuiltInSettings();

// The built-in settings as the lineup file at `path` (none when empty) changes
// them, with every transponder playing the recording `replay` when that is not
// empty. False, with *error saying why and *settings the built-in ones, when
// the file, or a recording it names, cannot be used.
bool LoadSettings(const std::string& path, const std::string& replay, CardSettings* settings,
                  std::string* error);

// What the environment asks for: MORVALIND_SIM_LINEUP, or else
// ttlcdacc-lineup.json beside this library when it is there (an empty
// variable: no file); and MORVALIND_SIM_REPLAY.
std::string LineupFileInUse();
std::string ReplayFileInUse();

// The card's current lineup; the caller holds the card's mutex.
const std::vector<LineupTransponder>& Lineup();
const std::vector<LineupSatellite>& Satellites();

}  // namespace sim
