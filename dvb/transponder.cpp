// Transponders and LNB types: see transponder.h.
#include "dvb/transponder.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "dvb/name_match.h"

namespace dvb {

namespace {

bool Digits(const std::string& text, std::size_t longest) {
  return !text.empty() && text.size() <= longest &&
         text.find_first_not_of("0123456789") == std::string::npos;
}

struct NamedCode {
  const char* name;
  std::uint32_t code;
};
constexpr NamedCode kInversionTable[] = {{"off", 0}, {"on", 1}, {"auto", 2}};

template <std::size_t kSize>
bool Lookup(const NamedCode (&table)[kSize], const std::string& name, std::uint32_t* code) {
  for (const NamedCode& entry : table) {
    if (name == entry.name) {
      *code = entry.code;
      return true;
    }
  }
  return false;
}

// What the card's tuner takes after the LNB.
constexpr std::uint32_t kIntermediateLowKhz = 950000;
constexpr std::uint32_t kIntermediateHighKhz = 2150000;
// The universal LNB's two oscillators.
constexpr std::uint32_t kUniversalLowKhz = 9750000;
constexpr std::uint32_t kUniversalHighKhz = 10600000;

std::string Mhz(std::uint32_t khz) { return ThousandthsText(khz) + " MHz"; }

const char* OnOff(bool on) { return on ? "on" : "off"; }

// A tone that makes a universal LNB use its other oscillator than the one in use.
void NoteDisagreement(const Transponder& t, std::vector<std::string>* notes) {
  if ((t.lof_khz == kUniversalHighKhz && !t.tone) || (t.lof_khz == kUniversalLowKhz && t.tone)) {
    notes->push_back(
        std::string("the 22 kHz tone is ") + OnOff(t.tone) +
        ", which makes a universal LNB use its " +
        Mhz(t.tone ? kUniversalHighKhz : kUniversalLowKhz) + " oscillator, not " + Mhz(t.lof_khz) +
        (t.lnb != nullptr
             ? " (leave --tone out)"
             : " (give --lnb universal, or --tone " + std::string(OnOff(!t.tone)) + ")"));
  }
}

// A unit the figure might have been given in: `per` of it make the unit asked for.
struct OtherUnit {
  const char* name;
  double per;
};
constexpr OtherUnit kFrequencyUnits[] = {{"kHz", 1e3}, {"Hz", 1e6}, {"GHz", 1e-3}};
constexpr OtherUnit kSymbolRateUnits[] = {{"Sym/s", 1e3}, {"MSym/s", 1e-3}};

template <std::size_t N>
std::string UnitHint(double value, double low, double high, const char* asked,
                     const OtherUnit (&units)[N]) {
  if (value >= low && value <= high) {
    return "";
  }
  for (const OtherUnit& unit : units) {
    const double meant = value / unit.per;
    if (meant >= low && meant <= high) {
      return std::string("; did you give ") + unit.name + "? That is " +
             ThousandthsText(static_cast<std::uint64_t>(std::llround(meant * 1000))) + " " + asked;
    }
  }
  return "";
}

}  // namespace

std::string FrequencyUnitHint(double mhz) {
  std::uint32_t low = UINT32_MAX;
  std::uint32_t high = 0;
  for (const LnbType& lnb : LnbTypes()) {
    for (const LnbBand& band : lnb.bands) {
      low = band.lof_mhz != 0 ? std::min(low, band.low_mhz) : low;
      high = std::max(high, band.high_mhz);
    }
  }
  return UnitHint(mhz, low, high, "MHz", kFrequencyUnits);
}

std::string SymbolRateUnitHint(double ksyms) {
  return UnitHint(ksyms, kSymbolRateLow / 1000.0, kSymbolRateHigh / 1000.0, "kSym/s",
                  kSymbolRateUnits);
}

bool ParseThousandths(const std::string& text, std::uint32_t* thousandths) {
  const std::size_t point = text.find('.');
  std::string decimals = point == std::string::npos ? "000" : text.substr(point + 1);
  const std::string whole = text.substr(0, point);
  if (!Digits(whole, 7) || !Digits(decimals, 3)) {
    return false;
  }
  decimals.resize(3, '0');
  const unsigned long long value = std::strtoull((whole + decimals).c_str(), nullptr, 10);
  if (value > UINT32_MAX) {
    return false;
  }
  *thousandths = static_cast<std::uint32_t>(value);
  return true;
}

std::string ThousandthsText(std::uint64_t thousandths) {
  std::string decimals = std::to_string(thousandths % 1000 + 1000).substr(1);
  decimals.erase(decimals.find_last_not_of('0') + 1);
  return std::to_string(thousandths / 1000) + (decimals.empty() ? "" : "." + decimals);
}

bool ParseWhole(const std::string& text, long low, long high, long* value) {
  // Up to as many digits as `high` has: more are out of range (strtol stops at its largest).
  const long parsed =
      Digits(text, std::to_string(high).size()) ? std::strtol(text.c_str(), nullptr, 10) : low - 1;
  if (parsed < low || parsed > high) {
    return false;
  }
  *value = parsed;
  return true;
}

const std::vector<LnbType>& LnbTypes() {
  // name, channel-file name, bands (MHz on the dish, oscillator, tone; the first that
  // holds the frequency is used), description
  static const std::vector<LnbType> types = {
      {"universal",
       "UNIVERSAL",
       {{11700, 12750, 10600, true}, {10700, 11700, 9750, false}},
       "Ku, 9750 MHz, 10600 MHz with the tone"},
      {"enhanced", "ENHANCED", {{10700, 11700, 9750, false}}, "Ku low band, 9750 MHz"},
      {"standard", "STANDARD", {{10945, 11450, 10000, false}}, "Ku, 10000 MHz"},
      {"10700", "L10700", {{11750, 12750, 10700, false}}, "Ku, 10700 MHz"},
      {"10750", "L10750", {{11700, 12200, 10750, false}}, "Ku, 10750 MHz"},
      {"11300", "L11300", {{12250, 12750, 11300, false}}, "Ku, 11300 MHz"},
      {"dbs", "DBS", {{12200, 12700, 11250, false}}, "North American DBS, 11250 MHz"},
      {"110bs", "110BS", {{11710, 12751, 10678, false}}, "Japanese 110BS/CS, 10678 MHz"},
      {"c-band", "C-BAND", {{3700, 4200, 5150, false}}, "C-band, 5150 MHz"},
  };
  return types;
}

const LnbType* FindLnb(const std::string& name) {
  const auto same = [&name](const char* known) {
    return std::equal(
        name.begin(), name.end(), known, known + std::strlen(known),
        [](unsigned char a, unsigned char b) { return std::tolower(a) == std::tolower(b); });
  };
  for (const LnbType& type : LnbTypes()) {
    if (same(type.name) || same(type.dvbv5_name)) {
      return &type;
    }
  }
  return nullptr;
}

std::string LnbRange(const LnbType& lnb) {
  const LnbBand& last = lnb.bands[lnb.bands[1].lof_mhz != 0 ? 1 : 0];
  return std::to_string(std::min(lnb.bands[0].low_mhz, last.low_mhz)) + ".." +
         std::to_string(std::max(lnb.bands[0].high_mhz, last.high_mhz)) + " MHz";
}

bool ResolveTransponder(Transponder* t, std::string* error, std::vector<std::string>* notes) {
  const std::string frequency = "frequency " + Mhz(t->frequency_khz);
  bool band_tone = false;
  if (t->lnb != nullptr) {
    const LnbBand* found = nullptr;
    for (const LnbBand& band : t->lnb->bands) {
      if (found == nullptr && band.lof_mhz != 0 && t->frequency_khz >= band.low_mhz * 1000 &&
          t->frequency_khz <= band.high_mhz * 1000) {
        found = &band;
      }
    }
    if (found == nullptr) {
      const std::string hint = FrequencyUnitHint(t->frequency_khz / 1000.0);
      *error =
          frequency + " is outside " + LnbRange(*t->lnb) + ", the band of the " + t->lnb->name +
          " LNB" +
          (!hint.empty() ? hint : " (give --lnb or --lof for another LNB; --lnb list names them)");
      return false;
    }
    t->lof_khz = found->lof_mhz * 1000;
    band_tone = found->tone;
  }
  t->tone = t->tone_given.value_or(band_tone);
  NoteDisagreement(*t, notes);
  const std::uint32_t intermediate =
      t->frequency_khz > t->lof_khz ? t->frequency_khz - t->lof_khz : t->lof_khz - t->frequency_khz;
  if (intermediate < kIntermediateLowKhz || intermediate > kIntermediateHighKhz) {
    *error = frequency + " with a " + Mhz(t->lof_khz) + " oscillator gives " + Mhz(intermediate) +
             " after the LNB, outside the tuner's " + ThousandthsText(kIntermediateLowKhz) + ".." +
             Mhz(kIntermediateHighKhz);
    return false;
  }
  if (t->symbol_rate < kSymbolRateLow || t->symbol_rate > kSymbolRateHigh) {
    *error = "symbol rate " + ThousandthsText(t->symbol_rate) + " kSym/s is outside " +
             ThousandthsText(kSymbolRateLow) + ".." + ThousandthsText(kSymbolRateHigh) + " kSym/s" +
             SymbolRateUnitHint(t->symbol_rate / 1000.0);
    return false;
  }
  return true;
}

// The rates the card takes by name: NONE aside, which the command line does not give.
bool CardRate(const CodeRateEntry& entry) {
  return entry.value != CodeRate::kNone && entry.card_code != kNoCardCode;
}

bool ParseFec(const std::string& text, std::uint32_t* code) {
  for (const CodeRateEntry& entry : kCodeRates) {
    if (CardRate(entry) && SameIgnoringCase(text, entry.name)) {
      *code = entry.card_code;
      return true;
    }
  }
  return false;
}

std::string FecName(std::uint32_t code) {
  for (const CodeRateEntry& entry : kCodeRates) {
    if (CardRate(entry) && code == entry.card_code) {
      std::string name = entry.name;
      std::transform(name.begin(), name.end(), name.begin(), [](char c) {
        return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      });
      return name;
    }
  }
  return "code " + std::to_string(code);
}

bool CardFecCode(CodeRate rate, std::uint32_t* code) {
  for (const CodeRateEntry& entry : kCodeRates) {
    if (entry.value == rate && entry.card_code != kNoCardCode) {
      *code = entry.card_code;
      return true;
    }
  }
  return false;
}

bool ParsePolarization(const std::string& text, Polarization* polarization) {
  const char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
  if (text.size() != 1 || std::string("HVLR").find(letter) == std::string::npos) {
    return false;
  }
  *polarization = static_cast<Polarization>(std::string("-HVLR").find(letter));
  return true;
}

char PolarizationLetter(Polarization polarization) {
  return "-HVLR"[static_cast<std::size_t>(polarization) % 5];
}

bool ParseInversion(const std::string& text, std::uint32_t* inversion) {
  return Lookup(kInversionTable, text, inversion);
}

const char* InversionName(std::uint32_t inversion) {
  return inversion < 3 ? kInversionTable[inversion].name : "auto";
}

std::string TransponderText(const Transponder& t) {
  return Mhz(t.frequency_khz) + " " + PolarizationLetter(t.polarization) + " " +
         ThousandthsText(t.symbol_rate) + " kSym/s FEC " + FecName(t.fec_code);
}

}  // namespace dvb
