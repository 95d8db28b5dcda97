// What the host program's options mean for the card: a transponder given in
// the units people use (MHz, kSym/s, H/V, 3/4) turned into the module's
// TuningRecord, and the DiSEqC messages for a switch port, a tone burst and a
// positioner. Pure functions: nothing here touches the module.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "plugin/records.h"

// A command's options by name ("--freq" -> "11778"). Words that are not
// options (a command's hex bytes) are kept under kWordsKey, space-separated.
using Arguments = std::map<std::string, std::string>;
constexpr char kWordsKey[] = "";

// The value of option `name`, or nullptr when it was not given.
const std::string* Find(const Arguments& arguments, const char* name);

// A transponder as the person gave it, with what follows from it.
struct Transponder {
  double frequency_mhz = 0;  // on the dish, before the LNB
  char polarity = 'V';       // 'H' or 'V'
  double symbol_rate_ksps = 0;
  std::uint32_t fec_code = 0;   // 0x34 for 3/4, 0 automatic
  std::uint32_t lof_khz = 0;    // LNB local oscillator
  bool high_band = false;       // 22 kHz tone on
  std::uint32_t inversion = 2;  // 0 off, 1 on, 2 automatic
};

// How the dish is reached before tuning: none, a committed switch port, a burst.
struct DishSelection {
  int port = 0;   // 1..4, 0 none
  int burst = 0;  // DeviceSendDiseqc mode: 1 burst A, 2 burst B, 0 none
};

// Bounds of the checked ranges.
constexpr double kUniversalLowMhz = 10700;
constexpr double kUniversalHighMhz = 12750;
constexpr double kUniversalSwitchMhz = 11700;  // high band (tone on) from here
constexpr double kIntermediateLowMhz = 950;    // what the card's tuner takes
constexpr double kIntermediateHighMhz = 2150;
constexpr double kSymbolRateLowKsps = 1000;
constexpr double kSymbolRateHighKsps = 45000;

// Whether the arguments name a transponder at all (--freq given).
bool HasTransponder(const Arguments& arguments);

// Reads --freq, --pol, --sr, --fec, --lof, --tone, --inversion. On a bad value
// returns false and sets *error to one line naming the option and the range.
bool ParseTransponder(const Arguments& arguments, Transponder* out, std::string* error);

// Reads --port and --burst.
bool ParseDishSelection(const Arguments& arguments, DishSelection* out, std::string* error);

// The module's record for a transponder; the host's own words are 0.
TuningRecord MakeTuningRecord(const Transponder& transponder);

// "3/4" -> 0x34, "auto" -> 0; false for anything else.
bool ParseFec(const std::string& text, std::uint32_t* code);
// 0x34 -> "3/4", 0 -> "auto".
std::string FecName(std::uint32_t code);

// Hex bytes separated by spaces, with or without "0x": "E0 10 38 F3".
bool ParseHexBytes(const std::string& text, std::vector<std::uint8_t>* bytes, std::string* error);
std::string HexBytes(const std::vector<std::uint8_t>& bytes);

// The committed switch message for `port` (1..4): E0 10 38 Fx, x carrying the
// port and the polarity (bit 1 horizontal) and band (bit 0 high) bits.
std::vector<std::uint8_t> SwitchMessage(int port, char polarity, bool high_band);
// The positioner's "go to stored position" message: E0 31 6B nn.
std::vector<std::uint8_t> GotoMessage(int position);

// A whole number within [low, high]; false for anything else.
bool ParseInteger(const std::string& text, long low, long high, long* value);
