// Channel words to a SAT>IP tuning: see channel.h.
#include "satipcard/channel.h"

namespace satipcard {

using dvb::CodeRate;
using dvb::DeliverySystem;
using dvb::Polarization;

namespace {

// Word 6's n/(n+1) as SAT>IP 1.2.2 names it; 6/7 has no name there, so the
// server finds it (as it does for 0).
constexpr std::optional<CodeRate> kCodeRates[] = {
    std::nullopt,   CodeRate::k1_2, CodeRate::k2_3, CodeRate::k3_4, CodeRate::k4_5,
    CodeRate::k5_6, std::nullopt,   CodeRate::k7_8, CodeRate::k8_9,
};
constexpr std::uint32_t kMaxFecWord = 8;
constexpr std::uint32_t kHighVoltage = 15;  // above: 18 V

}  // namespace

bool TuningFromChannel(const std::uint32_t (&word)[8], int src, const Settings& settings,
                       satip::Tuning* tuning, std::string* error) {
  const std::uint32_t ksym = (word[2] + 500) / 1000;
  if (word[0] == 0 || ksym == 0) {
    *error = word[0] == 0 ? "no frequency" : "no symbol rate";
    return false;
  }
  if (word[1] != 1 && word[1] != 2) {
    *error = "modulation family " + std::to_string(word[1]) + " is not DVB-S's";
    return false;
  }
  if (word[6] > kMaxFecWord) {
    *error = "FEC word " + std::to_string(word[6]) + " is none of DVB-S's";
    return false;
  }
  if (word[5] == 0) {
    *error = "the LNB supply is off: no polarisation";
    return false;
  }
  const bool high = word[5] > kHighVoltage;
  satip::Tuning out;
  out.src = src;
  out.frequency_khz = word[0];
  out.polarization = settings.circular
                         ? (high ? Polarization::kLeft : Polarization::kRight)
                         : (high ? Polarization::kHorizontal : Polarization::kVertical);
  out.system =
      settings.system == SystemPolicy::kDvbS2 ? DeliverySystem::kDvbS2 : DeliverySystem::kDvbS;
  out.symbol_rate_ksym = ksym;
  out.fec = kCodeRates[word[6]];
  *tuning = out;
  return true;
}

}  // namespace satipcard
