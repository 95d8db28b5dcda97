// Channel words to DVB-S tuning: see channel.h.
#include "linuxdvb/channel.h"

namespace linuxdvb {
namespace {

constexpr std::uint32_t kInversionFlag = 1U << 20;

// Word 6: 0 automatic, else n for code rate n/(n+1).
constexpr fe_code_rate kFecTable[] = {
    FEC_AUTO, FEC_1_2, FEC_2_3, FEC_3_4, FEC_4_5, FEC_5_6, FEC_6_7, FEC_7_8, FEC_8_9,
};
constexpr std::uint32_t kFecWords = sizeof kFecTable / sizeof kFecTable[0];

// Word 5, volts: 13 vertical, 18 horizontal; above 15 counts as 18, 0 leaves
// the LNB unpowered (a dish with a supply of its own).
constexpr std::uint32_t kHighestLowVolts = 15;

}  // namespace

std::uint32_t FrontendFlags(const FrontendAbilities& abilities) {
  return abilities.inversion_auto ? kInversionFlag : 0;
}

bool TuningFromChannel(const std::uint32_t (&word)[8], std::uint32_t frontend_flags,
                       DvbsTuning* out) {
  // Word 1 is the modulation family, 1 or 2. Both are tuned as DVB-S: the
  // host's record carries neither modulation, roll-off nor pilots, without
  // which no DVB-S2 transponder can be described.
  if ((word[1] != 1 && word[1] != 2) || word[6] >= kFecWords) {
    return false;
  }
  DvbsTuning tuning;
  // Word 0 is the frequency on the dish and word 3 the LNB's oscillator, both
  // in kHz; the difference is what reaches the tuner (an oscillator above the
  // signal, as in the C band, inverts it). No oscillator: word 0 is already
  // the tuner's frequency.
  tuning.frequency_khz = word[3] == 0        ? word[0]
                         : word[0] > word[3] ? word[0] - word[3]
                                             : word[3] - word[0];
  tuning.symbol_rate = word[2];
  tuning.tone = word[4] != 0 ? SEC_TONE_ON : SEC_TONE_OFF;
  tuning.voltage = word[5] == 0                 ? SEC_VOLTAGE_OFF
                   : word[5] > kHighestLowVolts ? SEC_VOLTAGE_18
                                                : SEC_VOLTAGE_13;
  tuning.fec = kFecTable[word[6]];
  // Word 7 is 1 for inversion on and, where Init set the flag, for automatic
  // inversion as well: the frontend then finds it, whichever it is.
  if (word[7] == 0) {
    tuning.inversion = INVERSION_OFF;
  } else {
    tuning.inversion = (frontend_flags & kInversionFlag) != 0 ? INVERSION_AUTO : INVERSION_ON;
  }
  *out = tuning;
  return true;
}

}  // namespace linuxdvb
