// The frontend's statistics as the vendor signal record carries them: the
// level byte and the bit-error rate. README.md gives the scales and why.
// Pure functions: the card is not touched here.
#pragma once

#include <cstdint>

namespace linuxdvb {

// One DVBv5 statistic as the frontend gave it.
struct Measure {
  enum class Scale { kNone, kDecibel, kRelative };
  Scale scale = Scale::kNone;
  double value = 0;  // dB (dBm for the signal strength), or 0..65535 when relative
};

// A statistic given in 0.001 dB units (dBm for the signal strength), or none
// when it lies outside what a frontend can measure, -200..+100 dB: vidtv, for
// one, hands over millions of dB below zero while it has no signal.
Measure DecibelMeasure(std::int64_t thousandths);

// The level byte, 0..100: signal strength from -80 dBm (0) to -20 dBm (100),
// linear in dB, or a relative strength in proportion; 0 when the frontend
// gives none.
std::uint8_t LevelFromStrength(const Measure& strength);

// The bit counters after the inner (Viterbi) decoder, as the frontend keeps
// them: they only grow, until a tune starts them again.
struct BitCounters {
  bool available = false;
  std::uint64_t errors = 0;
  std::uint64_t total = 0;
};

// The bit-error rate over the bits counted between two readings; `held` (the
// rate last worked out) when no bit was counted in between or the counters
// started again.
double BitErrorRate(const BitCounters& before, const BitCounters& now, double held);

// The DVBv3 figure of a frontend without counters. Its unit is the driver's
// own; it is taken as errors per 10^9 bits.
double BitErrorRateFromV3(std::uint32_t figure);

// The bit-error rate reported while there is no lock: every bit a guess.
constexpr double kUnlockedBitErrorRate = 0.5;

}  // namespace linuxdvb
