// Transponders, LNB types and the tuning record: see transponder.h.
#include "host/transponder.h"

#include <cctype>

#include "host/numbers.h"

namespace {

struct NamedCode {
  const char* name;
  std::uint32_t code;
};
constexpr NamedCode kFecTable[] = {
    {"auto", 0x00}, {"1/2", 0x12}, {"2/3", 0x23}, {"3/4", 0x34}, {"4/5", 0x45},
    {"5/6", 0x56},  {"6/7", 0x67}, {"7/8", 0x78}, {"8/9", 0x89},
};
constexpr NamedCode kInversionTable[] = {{"off", 0}, {"on", 1}, {"auto", 2}};

// What the card's tuner takes after the LNB.
constexpr std::uint32_t kIntermediateLowKhz = 950000;
constexpr std::uint32_t kIntermediateHighKhz = 2150000;
// The universal LNB's two oscillators.
constexpr std::uint32_t kUniversalLowKhz = 9750000;
constexpr std::uint32_t kUniversalHighKhz = 10600000;

bool SameName(const std::string& given, const char* name) {
  std::size_t at = 0;
  for (; name[at] != '\0' && at < given.size(); ++at) {
    if (std::tolower(static_cast<unsigned char>(given[at])) !=
        std::tolower(static_cast<unsigned char>(name[at]))) {
      return false;
    }
  }
  return name[at] == '\0' && at == given.size();
}

std::string Mhz(std::uint32_t khz) { return ThousandthsText(khz) + " MHz"; }

const char* OnOff(bool on) { return on ? "on" : "off"; }

// A tone against the oscillator it selects on a universal LNB, or a tone
// given against the LNB type's own choice for the band.
void NoteDisagreement(const Transponder& t, bool band_tone, std::vector<std::string>* notes) {
  const std::string tone = std::string("the 22 kHz tone is ") + OnOff(t.tone);
  if (t.lnb == nullptr) {
    if ((t.lof_khz == kUniversalHighKhz && !t.tone) || (t.lof_khz == kUniversalLowKhz && t.tone)) {
      notes->push_back(tone + ", so a universal LNB would use its " +
                       Mhz(t.tone ? kUniversalHighKhz : kUniversalLowKhz) + " oscillator, not " +
                       Mhz(t.lof_khz) + " (give --lnb universal, or --tone " + OnOff(!t.tone) +
                       ")");
    }
  } else if (t.tone != band_tone) {
    for (const LnbBand& band : t.lnb->bands) {
      if (band.lof_khz != 0 && band.tone == t.tone) {
        notes->push_back(tone + ", so the " + t.lnb->name + " LNB uses its " + Mhz(band.lof_khz) +
                         " oscillator, not the " + Mhz(t.lof_khz) + " one for " +
                         Mhz(t.frequency_khz) + " (leave --tone out)");
      }
    }
  }
}

}  // namespace

const std::vector<LnbType>& LnbTypes() {
  // name, channel-file name, description, bands: low, high, oscillator (kHz), tone, polarisation
  static const std::vector<LnbType> types = {
      {"universal",
       "UNIVERSAL",
       "universal Ku LNB, 9750 MHz, or 10600 MHz with the tone",
       {{10700000, 11699999, 9750000, false, 0}, {11700000, 12750000, 10600000, true, 0}}},
      {"enhanced",
       "ENHANCED",
       "Ku low band only, 9750 MHz",
       {{10700000, 11700000, 9750000, false, 0}}},
      {"standard", "STANDARD", "Ku, 10000 MHz", {{10945000, 11450000, 10000000, false, 0}}},
      {"10700", "L10700", "Ku, 10700 MHz", {{11750000, 12750000, 10700000, false, 0}}},
      {"10750", "L10750", "Ku, 10750 MHz", {{11700000, 12200000, 10750000, false, 0}}},
      {"11300", "L11300", "Ku, 11300 MHz", {{12250000, 12750000, 11300000, false, 0}}},
      {"dbs", "DBS", "North American DBS, 11250 MHz", {{12200000, 12700000, 11250000, false, 0}}},
      {"110bs",
       "110BS",
       "Japanese 110BS/CS, 10678 MHz",
       {{11710000, 12751000, 10678000, false, 0}}},
      {"c-band", "C-BAND", "C-band, 5150 MHz", {{3700000, 4200000, 5150000, false, 0}}},
      {"c-multi",
       "C-MULT",
       "C-band multipoint: 5150 MHz right-hand, 5750 MHz left-hand",
       {{3700000, 4200000, 5150000, false, 'R'}, {3700000, 4200000, 5750000, false, 'L'}}},
      {"dishpro",
       "DISHPRO",
       "DishPro: 11250 MHz vertical, 14350 MHz horizontal",
       {{12200000, 12700000, 11250000, false, 'V'}, {12200000, 12700000, 14350000, false, 'H'}}},
  };
  return types;
}

const LnbType* FindLnb(const std::string& name) {
  for (const LnbType& type : LnbTypes()) {
    if (SameName(name, type.name) || SameName(name, type.dvbv5_name)) {
      return &type;
    }
  }
  return nullptr;
}

std::string LnbRange(const LnbType& lnb) {
  std::uint32_t low = lnb.bands[0].low_khz;
  std::uint32_t high = lnb.bands[0].high_khz;
  for (const LnbBand& band : lnb.bands) {
    if (band.lof_khz != 0) {
      low = band.low_khz < low ? band.low_khz : low;
      high = band.high_khz > high ? band.high_khz : high;
    }
  }
  return ThousandthsText(low) + ".." + Mhz(high);
}

bool ResolveTransponder(Transponder* t, std::string* error, std::vector<std::string>* notes) {
  const std::string frequency = "frequency " + Mhz(t->frequency_khz);
  bool band_tone = false;
  if (t->lnb != nullptr) {
    const LnbBand* found = nullptr;
    for (const LnbBand& band : t->lnb->bands) {
      if (found == nullptr && band.lof_khz != 0 && t->frequency_khz >= band.low_khz &&
          t->frequency_khz <= band.high_khz &&
          (band.polarization == 0 || band.polarization == static_cast<char>(t->polarization))) {
        found = &band;
      }
    }
    if (found == nullptr) {
      *error = frequency + " is outside " + LnbRange(*t->lnb) + ", the band of the " +
               t->lnb->name + " LNB" +
               (t->lnb->bands[0].polarization != 0 ? " for this polarisation" : "") +
               " (give --lnb or --lof for another LNB; --lnb list names them)";
      return false;
    }
    t->lof_khz = found->lof_khz;
    band_tone = found->tone;
  }
  t->tone = t->tone_given.value_or(band_tone);
  NoteDisagreement(*t, band_tone, notes);
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
             ThousandthsText(kSymbolRateLow) + ".." + ThousandthsText(kSymbolRateHigh) + " kSym/s";
    return false;
  }
  return true;
}

TuningRecord MakeTuningRecord(const Transponder& t) {
  TuningRecord record{};
  record.primary_value = t.frequency_khz;
  record.word2_value = t.symbol_rate;
  record.word3_value = t.lof_khz;
  record.word4_value = t.tone ? 1 : 0;
  // Circular polarisation rides on the same two voltages: right like vertical (13 V).
  record.polarity =
      t.polarization == Polarization::kVertical || t.polarization == Polarization::kRight ? 1 : 0;
  record.fec_code = t.fec_code;
  record.tristate_option = t.inversion;
  return record;
}

bool ParseFec(const std::string& text, std::uint32_t* code) {
  for (const NamedCode& entry : kFecTable) {
    if (text == entry.name) {
      *code = entry.code;
      return true;
    }
  }
  return false;
}

std::string FecName(std::uint32_t code) {
  for (const NamedCode& entry : kFecTable) {
    if (code == entry.code) {
      return entry.name;
    }
  }
  return "code " + std::to_string(code);
}

bool ParsePolarization(const std::string& text, Polarization* polarization) {
  if (text.size() != 1) {
    return false;
  }
  const char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
  for (const Polarization known : {Polarization::kHorizontal, Polarization::kVertical,
                                   Polarization::kLeft, Polarization::kRight}) {
    if (letter == static_cast<char>(known)) {
      *polarization = known;
      return true;
    }
  }
  return false;
}

bool ParseInversion(const std::string& text, std::uint32_t* inversion) {
  for (const NamedCode& entry : kInversionTable) {
    if (text == entry.name) {
      *inversion = entry.code;
      return true;
    }
  }
  return false;
}

const char* InversionName(std::uint32_t inversion) {
  return inversion < 3 ? kInversionTable[inversion].name : "auto";
}

std::string TransponderText(const Transponder& t) {
  return Mhz(t.frequency_khz) + " " + static_cast<char>(t.polarization) + " " +
         ThousandthsText(t.symbol_rate) + " kSym/s FEC " + FecName(t.fec_code);
}
