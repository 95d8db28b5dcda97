// A transponder in the units people use (MHz, kSym/s, H/V/L/R, 3/4, an LNB
// type), whether a person gave it on the command line or a channel file holds
// it, and what follows from it for the card: the oscillator and 22 kHz tone
// the LNB uses. Nothing here touches the module.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace dvb {

// Numbers as people write them on a command line or in a channel file: digits
// with up to three decimals, nothing else (no sign, exponent, hex or spaces),
// held exactly as whole thousandths, so that 11778.125 MHz stays 11778125 kHz:
// "11778.125" -> 11778125; false for anything else, or beyond 32 bits.
bool ParseThousandths(const std::string& text, std::uint32_t* thousandths);

// 11778125 -> "11778.125", 11778000 -> "11778".
std::string ThousandthsText(std::uint64_t thousandths);

// Digits only, within [low, high].
bool ParseWhole(const std::string& text, long low, long high, long* value);

// Numbered as the Linux DVB API numbers them, as channel files are read.
enum class Polarization : std::uint8_t { kOff, kHorizontal, kVertical, kLeft, kRight };
enum class CodeRate : std::uint8_t {
  kNone,
  k1_2,
  k2_3,
  k3_4,
  k4_5,
  k5_6,
  k6_7,
  k7_8,
  k8_9,
  kAuto,
  k3_5,
  k9_10,
  k2_5,
};

// Each code rate: its name as a channel file gives it (INNER_FEC), and the
// card's code for it, kNoCardCode for the rates DVB-S does not have. The
// command line and the reports name the card's codes in lower case ("auto").
constexpr std::uint32_t kNoCardCode = 0xFF;
struct CodeRateEntry {
  const char* name;
  CodeRate value;
  std::uint32_t card_code;
};
inline constexpr CodeRateEntry kCodeRates[] = {
    {"NONE", CodeRate::kNone, 0x00},      {"1/2", CodeRate::k1_2, 0x12},
    {"2/3", CodeRate::k2_3, 0x23},        {"3/4", CodeRate::k3_4, 0x34},
    {"4/5", CodeRate::k4_5, 0x45},        {"5/6", CodeRate::k5_6, 0x56},
    {"6/7", CodeRate::k6_7, 0x67},        {"7/8", CodeRate::k7_8, 0x78},
    {"8/9", CodeRate::k8_9, 0x89},        {"AUTO", CodeRate::kAuto, 0x00},
    {"3/5", CodeRate::k3_5, kNoCardCode}, {"9/10", CodeRate::k9_10, kNoCardCode},
    {"2/5", CodeRate::k2_5, kNoCardCode},
};

// Dish frequencies low..high reach the card through oscillator `lof` (0: no
// such band), with the 22 kHz tone on or off.
struct LnbBand {
  std::uint32_t low_mhz;
  std::uint32_t high_mhz;
  std::uint32_t lof_mhz;
  bool tone;
};

struct LnbType {
  const char* name;        // as --lnb takes it
  const char* dvbv5_name;  // as the Linux tools' channel files write it
  LnbBand bands[2];
  const char* description;  // for --lnb list
};

// The named LNB types, the universal LNB (the default) first.
const std::vector<LnbType>& LnbTypes();
// By either name, in any case; nullptr when there is none.
const LnbType* FindLnb(const std::string& name);
// "10700..12750 MHz".
std::string LnbRange(const LnbType& lnb);

struct Transponder {
  std::uint32_t frequency_khz = 0;  // on the dish, before the LNB
  Polarization polarization = Polarization::kVertical;
  std::uint32_t symbol_rate = 0;   // symbols per second
  std::uint32_t fec_code = 0;      // 0x34 for 3/4, 0 automatic
  std::uint32_t inversion = 2;     // 0 off, 1 on, 2 automatic
  const LnbType* lnb = nullptr;    // nullptr: one oscillator at lof_khz, as given
  std::uint32_t lof_khz = 0;       // the oscillator in use
  std::optional<bool> tone_given;  // --tone, over the LNB's own choice
  bool tone = false;               // the 22 kHz tone in use
};

constexpr std::uint32_t kSymbolRateLow = 1000000;  // symbols per second
constexpr std::uint32_t kSymbolRateHigh = 45000000;

// A frequency meant in MHz, or a symbol rate meant in kSym/s, that lies
// outside every LNB's band or the card's rates but would lie within in another
// unit: "; did you give kHz? That is 11778 MHz". Empty otherwise.
std::string FrequencyUnitHint(double mhz);
std::string SymbolRateUnitHint(double ksyms);

// Settles the oscillator and the tone for the frequency and checks what the
// card's tuner can take; false with one line in *error when it cannot (with a
// unit hint where one fits). Hints about a tone and an oscillator that
// disagree go to *notes.
bool ResolveTransponder(Transponder* transponder, std::string* error,
                        std::vector<std::string>* notes);

// "3/4" <-> 0x34, "auto" <-> 0.
bool ParseFec(const std::string& text, std::uint32_t* code);
std::string FecName(std::uint32_t code);
// The card's code for a channel file's code rate (NONE and AUTO: 0, the card
// finds it); false for a rate DVB-S does not have.
bool CardFecCode(CodeRate rate, std::uint32_t* code);
// "H", "v", "L", "R".
bool ParsePolarization(const std::string& text, Polarization* polarization);
// 'H', 'V', 'L', 'R' ('-' for none).
char PolarizationLetter(Polarization polarization);
// "off", "on", "auto" <-> 0, 1, 2.
bool ParseInversion(const std::string& text, std::uint32_t* inversion);
const char* InversionName(std::uint32_t inversion);
// "11778.125 MHz V 27500 kSym/s FEC 3/4".
std::string TransponderText(const Transponder& transponder);

}  // namespace dvb
