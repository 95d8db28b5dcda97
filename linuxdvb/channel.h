// The eight channel words of CDVBFrontend::SetChannel as DVB-S tuning
// parameters of the Linux DVB API, and the frontend flags that Init leaves in
// the frontend object. Pure functions: the card is not touched here.
#pragma once

#include <linux/dvb/frontend.h>

#include <cstdint>

namespace linuxdvb {

// What the frontend reports about itself that steers the channel words.
struct FrontendAbilities {
  bool inversion_auto = false;  // FE_CAN_INVERSION_AUTO
};

// The word Init stores at byte 64 of the frontend object. Bit 20 set: the
// module's automatic inversion arrives as word 7 = 1, which then asks the
// frontend to find the inversion itself. Bits 0 (FEC always automatic) and 4
// (word 1 = 2) stay clear.
std::uint32_t FrontendFlags(const FrontendAbilities& abilities);

struct DvbsTuning {
  fe_delivery_system delivery_system = SYS_DVBS;
  std::uint32_t frequency_khz = 0;  // after the LNB: what the tuner receives
  std::uint32_t symbol_rate = 0;    // symbols per second
  fe_code_rate fec = FEC_AUTO;
  fe_spectral_inversion inversion = INVERSION_OFF;
  fe_sec_voltage voltage = SEC_VOLTAGE_OFF;
  fe_sec_tone_mode tone = SEC_TONE_OFF;
};

// Channel words (sim/README.md has the convention) to DVB-S tuning. Returns
// false for words that describe no DVB-S transponder (a modulation family
// other than 1 or 2, an FEC word above 8); the frontend's own limits are the
// driver's to enforce.
bool TuningFromChannel(const std::uint32_t (&word)[8], std::uint32_t frontend_flags,
                       DvbsTuning* out);

}  // namespace linuxdvb
