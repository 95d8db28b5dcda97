// A SAT>IP 1.2.2 server's signal figures (level 0..255, quality 0..15) as the
// vendor signal record carries them to the module, which in vendor mode shows
// the level byte as the strength in percent and grades the bit-error rate
// into the quality (below 1e-4 100 %, below 1e-3 80 %, ... 20 %). Pure.
#pragma once

#include <cstdint>

namespace satipcard {

// Level 0..255 to 0..100, to the nearest: 255 is 100 %, 128 is 50 %.
std::uint8_t LevelByte(int level);

// Quality 0..15 to a bit-error rate of 10^-((q + 0.5) / 3), so that the
// module's grades come out as 20 % for quality 0..2, 40 % for 3..5, 60 % for
// 6..8, 80 % for 9..11 and 100 % for 12..15: 20 % more every 3 steps.
double BitErrorRate(int quality);

// While there is no lock: every bit a guess (the module shows 0 % then).
constexpr double kUnlockedBitErrorRate = 0.5;

}  // namespace satipcard
