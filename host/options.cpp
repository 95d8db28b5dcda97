// Options to records: units, ranges and the DiSEqC messages.
#include "host/options.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

struct FecEntry {
  const char* name;
  std::uint32_t code;
};
constexpr FecEntry kFecTable[] = {
    {"auto", 0x00}, {"1/2", 0x12}, {"2/3", 0x23}, {"3/4", 0x34}, {"4/5", 0x45},
    {"5/6", 0x56},  {"6/7", 0x67}, {"7/8", 0x78}, {"8/9", 0x89},
};

struct PolarityEntry {
  char letter;
  char polarity;
};
// Circular polarisation rides on the same two voltages: right like vertical.
constexpr PolarityEntry kPolarityTable[] = {{'V', 'V'}, {'H', 'H'}, {'R', 'V'}, {'L', 'H'}};

struct NamedValue {
  const char* name;
  std::uint32_t value;
};
constexpr NamedValue kInversionTable[] = {{"off", 0}, {"on", 1}, {"auto", 2}};
constexpr NamedValue kToneTable[] = {{"off", 0}, {"on", 1}};
constexpr NamedValue kBurstTable[] = {{"A", 1}, {"B", 2}, {"a", 1}, {"b", 2}};

// The universal LNB's two oscillators, in kHz.
constexpr std::uint32_t kUniversalLowLofKhz = 9750000;
constexpr std::uint32_t kUniversalHighLofKhz = 10600000;

constexpr std::uint8_t kFraming = 0xE0;  // from the master, no reply wanted
constexpr std::uint8_t kAnySwitch = 0x10;
constexpr std::uint8_t kCommitted = 0x38;
constexpr std::uint8_t kPositioner = 0x31;
constexpr std::uint8_t kGotoStored = 0x6B;

bool ParseNumber(const std::string& text, double* value) {
  if (text.empty() || std::isspace(static_cast<unsigned char>(text[0]))) {
    return false;
  }
  char* end = nullptr;
  errno = 0;
  const double parsed = std::strtod(text.c_str(), &end);
  if (errno != 0 || *end != '\0' || !std::isfinite(parsed)) {
    return false;
  }
  *value = parsed;
  return true;
}

template <std::size_t N>
bool Lookup(const NamedValue (&table)[N], const std::string& name, std::uint32_t* value) {
  for (const NamedValue& entry : table) {
    if (name == entry.name) {
      *value = entry.value;
      return true;
    }
  }
  return false;
}

// Reads option `name` as a number within [low, high] in `unit`.
bool RangeOption(const Arguments& arguments, const char* name, double low, double high,
                 const char* unit, double* value, std::string* error) {
  const std::string* text = Find(arguments, name);
  if (text == nullptr) {
    *error = std::string(name) + " is needed";
    return false;
  }
  if (!ParseNumber(*text, value)) {
    *error = std::string(name) + " " + *text + ": not a number of " + unit;
    return false;
  }
  if (*value < low || *value > high) {
    char range[64];
    std::snprintf(range, sizeof range, "%g..%g %s", low, high, unit);
    *error = std::string(name) + " " + *text + ": outside " + range;
    return false;
  }
  return true;
}

}  // namespace

const std::string* Find(const Arguments& arguments, const char* name) {
  const auto found = arguments.find(name);
  return found == arguments.end() ? nullptr : &found->second;
}

bool HasTransponder(const Arguments& arguments) { return Find(arguments, "--freq") != nullptr; }

bool ParseFec(const std::string& text, std::uint32_t* code) {
  for (const FecEntry& entry : kFecTable) {
    if (text == entry.name) {
      *code = entry.code;
      return true;
    }
  }
  return false;
}

std::string FecName(std::uint32_t code) {
  for (const FecEntry& entry : kFecTable) {
    if (code == entry.code) {
      return entry.name;
    }
  }
  char text[16];
  std::snprintf(text, sizeof text, "0x%X", static_cast<unsigned>(code));
  return text;
}

bool ParseTransponder(const Arguments& arguments, Transponder* out, std::string* error) {
  Transponder result;
  const std::string* lof = Find(arguments, "--lof");
  if (lof == nullptr) {
    if (!RangeOption(arguments, "--freq", kUniversalLowMhz, kUniversalHighMhz,
                     "MHz (the universal LNB's band; give --lof for another LNB)",
                     &result.frequency_mhz, error)) {
      return false;
    }
    result.high_band = result.frequency_mhz >= kUniversalSwitchMhz;
    result.lof_khz = result.high_band ? kUniversalHighLofKhz : kUniversalLowLofKhz;
  } else {
    double lof_mhz = 0;
    if (!RangeOption(arguments, "--lof", 1, 20000, "MHz", &lof_mhz, error) ||
        !RangeOption(arguments, "--freq", 1, 20000, "MHz", &result.frequency_mhz, error)) {
      return false;
    }
    const double intermediate = std::fabs(result.frequency_mhz - lof_mhz);
    if (intermediate < kIntermediateLowMhz || intermediate > kIntermediateHighMhz) {
      char text[160];
      std::snprintf(text, sizeof text,
                    "--freq %g with --lof %g gives %g MHz after the LNB, outside %g..%g MHz",
                    result.frequency_mhz, lof_mhz, intermediate, kIntermediateLowMhz,
                    kIntermediateHighMhz);
      *error = text;
      return false;
    }
    result.lof_khz = static_cast<std::uint32_t>(std::lround(lof_mhz * 1000));
    result.high_band = false;
  }
  if (const std::string* tone = Find(arguments, "--tone")) {
    std::uint32_t on = 0;
    if (!Lookup(kToneTable, *tone, &on)) {
      *error = "--tone " + *tone + ": give on or off";
      return false;
    }
    result.high_band = on != 0;
  }

  const std::string* polarity = Find(arguments, "--pol");
  if (polarity == nullptr) {
    *error = "--pol is needed (H or V)";
    return false;
  }
  bool known = false;
  for (const PolarityEntry& entry : kPolarityTable) {
    if (polarity->size() == 1 &&
        std::toupper(static_cast<unsigned char>((*polarity)[0])) == entry.letter) {
      result.polarity = entry.polarity;
      known = true;
    }
  }
  if (!known) {
    *error = "--pol " + *polarity + ": give H or V (L or R for circular)";
    return false;
  }

  if (!RangeOption(arguments, "--sr", kSymbolRateLowKsps, kSymbolRateHighKsps, "kSym/s",
                   &result.symbol_rate_ksps, error)) {
    return false;
  }
  if (const std::string* fec = Find(arguments, "--fec")) {
    if (!ParseFec(*fec, &result.fec_code)) {
      *error = "--fec " + *fec + ": give 1/2, 2/3, 3/4, 4/5, 5/6, 6/7, 7/8, 8/9 or auto";
      return false;
    }
  }
  if (const std::string* inversion = Find(arguments, "--inversion")) {
    if (!Lookup(kInversionTable, *inversion, &result.inversion)) {
      *error = "--inversion " + *inversion + ": give off, on or auto";
      return false;
    }
  }
  *out = result;
  return true;
}

bool ParseDishSelection(const Arguments& arguments, DishSelection* out, std::string* error) {
  DishSelection result;
  if (const std::string* port = Find(arguments, "--port")) {
    long value = 0;
    if (!ParseInteger(*port, 1, 4, &value)) {
      *error = "--port " + *port + ": give a switch port 1..4";
      return false;
    }
    result.port = static_cast<int>(value);
  }
  if (const std::string* burst = Find(arguments, "--burst")) {
    std::uint32_t mode = 0;
    if (!Lookup(kBurstTable, *burst, &mode)) {
      *error = "--burst " + *burst + ": give A or B";
      return false;
    }
    result.burst = static_cast<int>(mode);
  }
  *out = result;
  return true;
}

TuningRecord MakeTuningRecord(const Transponder& transponder) {
  TuningRecord record{};
  record.primary_value = static_cast<std::uint32_t>(std::lround(transponder.frequency_mhz * 1000));
  record.word2_value = static_cast<std::uint32_t>(std::lround(transponder.symbol_rate_ksps * 1000));
  record.word3_value = transponder.lof_khz;
  record.word4_value = transponder.high_band ? 1 : 0;
  record.polarity = transponder.polarity == 'V' ? 1 : 0;
  record.fec_code = transponder.fec_code;
  record.tristate_option = transponder.inversion;
  return record;
}

bool ParseInteger(const std::string& text, long low, long high, long* value) {
  if (text.empty() || !(std::isdigit(static_cast<unsigned char>(text[0])) || text[0] == '-')) {
    return false;
  }
  char* end = nullptr;
  errno = 0;
  const long parsed = std::strtol(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || parsed < low || parsed > high) {
    return false;
  }
  *value = parsed;
  return true;
}

bool ParseHexBytes(const std::string& text, std::vector<std::uint8_t>* bytes, std::string* error) {
  std::vector<std::uint8_t> result;
  std::size_t at = 0;
  while (at < text.size()) {
    if (std::isspace(static_cast<unsigned char>(text[at])) || text[at] == ',') {
      ++at;
      continue;
    }
    std::size_t end = at;
    while (end < text.size() && !std::isspace(static_cast<unsigned char>(text[end])) &&
           text[end] != ',') {
      ++end;
    }
    std::string word = text.substr(at, end - at);
    at = end;
    if (word.size() > 2 && word[0] == '0' && (word[1] == 'x' || word[1] == 'X')) {
      word = word.substr(2);
    }
    // A run of digits without spaces ("E01038F3") is read two digits a byte.
    if (word.size() % 2 != 0 && word.size() > 1) {
      *error = "'" + word + "' is not whole bytes of hex";
      return false;
    }
    for (std::size_t i = 0; i < word.size(); i += word.size() == 1 ? 1 : 2) {
      const std::string digits = word.substr(i, word.size() == 1 ? 1 : 2);
      if (!std::isxdigit(static_cast<unsigned char>(digits[0])) ||
          !std::isxdigit(static_cast<unsigned char>(digits.back()))) {
        *error = "'" + digits + "' is not a hex byte";
        return false;
      }
      result.push_back(static_cast<std::uint8_t>(std::strtoul(digits.c_str(), nullptr, 16)));
    }
  }
  if (result.empty()) {
    *error = "no message bytes";
    return false;
  }
  *bytes = result;
  return true;
}

std::string HexBytes(const std::vector<std::uint8_t>& bytes) {
  std::string text;
  for (const std::uint8_t byte : bytes) {
    char digits[4];
    std::snprintf(digits, sizeof digits, "%02X", byte);
    text += (text.empty() ? "" : " ") + std::string(digits);
  }
  return text;
}

std::vector<std::uint8_t> SwitchMessage(int port, char polarity, bool high_band) {
  const int bits = ((port - 1) & 3) << 2 | (polarity == 'H' ? 2 : 0) | (high_band ? 1 : 0);
  return {kFraming, kAnySwitch, kCommitted, static_cast<std::uint8_t>(0xF0 | bits)};
}

std::vector<std::uint8_t> GotoMessage(int position) {
  return {kFraming, kPositioner, kGotoStored, static_cast<std::uint8_t>(position)};
}
