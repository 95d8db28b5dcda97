// What of CDVBFrontend::SendDiSEqCMsg SAT>IP 1.2.2 can carry: its src key
// names the switch input, 1..4 for the DiSEqC positions A/A, B/A, A/B and B/B
// (position, option). A committed switch command and a tone burst choose one
// of them, and become the next tune's src; every other message (uncommitted
// switches, positioners, raw commands) has nothing to travel in and fails.
// Pure: nothing is sent.
//
//   E0 10 38 Fx  committed switch, write N0: src = ((x >> 2) & 3) + 1
//                (bit 2 position B, bit 3 option B; the band and polarisation
//                bits are the tune's, not the switch's). Framing E0..E3,
//                address 10..17 (any LNB or switcher).
//   burst 0 (A)  src = 1        burst 1 (B)  src = 2
#pragma once

#include <cstdint>
#include <string>

namespace satipcard {

struct SwitchChoice {
  enum class Kind : std::uint8_t {
    kSource,   // `src` is the next tune's
    kNothing,  // no message and no burst: nothing asked, nothing to carry
    kCannot,   // SAT>IP cannot carry it: `reason` says why
  };
  Kind kind = Kind::kNothing;
  int src = 1;
  std::string reason;
};

// `count` message bytes, then the burst (0 A, 1 B, 0xFF none).
SwitchChoice SwitchFromDiseqc(const std::uint8_t* message, std::uint8_t count, std::uint8_t burst);

}  // namespace satipcard
