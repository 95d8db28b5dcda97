// Level and bit-error rate scales: see signal.h.
#include "linuxdvb/signal.h"

namespace linuxdvb {
namespace {

constexpr double kWeakestDbm = -80.0;    // 0 %: below what a satellite tuner still takes
constexpr double kStrongestDbm = -20.0;  // 100 %: above the strongest input a tuner accepts
constexpr double kRelativeFull = 65535.0;
constexpr double kLowestDecibels = -200.0;
constexpr double kHighestDecibels = 100.0;
constexpr double kV3Unit = 1e-9;

std::uint8_t Percent(double fraction) {
  if (!(fraction > 0.0)) {
    return 0;
  }
  return fraction >= 1.0 ? 100 : static_cast<std::uint8_t>(fraction * 100.0);
}

}  // namespace

Measure DecibelMeasure(std::int64_t thousandths) {
  const double decibels = static_cast<double>(thousandths) / 1000.0;
  if (decibels < kLowestDecibels || decibels > kHighestDecibels) {
    return {};
  }
  return {Measure::Scale::kDecibel, decibels};
}

std::uint8_t LevelFromStrength(const Measure& strength) {
  switch (strength.scale) {
    case Measure::Scale::kDecibel:
      return Percent((strength.value - kWeakestDbm) / (kStrongestDbm - kWeakestDbm));
    case Measure::Scale::kRelative:
      return Percent(strength.value / kRelativeFull);
    case Measure::Scale::kNone:
      break;
  }
  return 0;
}

double BitErrorRate(const BitCounters& before, const BitCounters& now, double held) {
  if (!before.available || !now.available || now.total <= before.total ||
      now.errors < before.errors) {
    return held;
  }
  return static_cast<double>(now.errors - before.errors) /
         static_cast<double>(now.total - before.total);
}

double BitErrorRateFromV3(std::uint32_t figure) { return figure * kV3Unit; }

}  // namespace linuxdvb
