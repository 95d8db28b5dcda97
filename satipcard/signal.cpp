// The signal scales: see signal.h.
#include "satipcard/signal.h"

#include <algorithm>
#include <cmath>

#include "satip/status.h"

namespace satipcard {

std::uint8_t LevelByte(int level) {
  const int clamped = std::clamp(level, 0, satip::kMaxLevel);
  return static_cast<std::uint8_t>((clamped * 100 + satip::kMaxLevel / 2) / satip::kMaxLevel);
}

double BitErrorRate(int quality) {
  const int clamped = std::clamp(quality, 0, satip::kMaxQuality);
  return std::pow(10.0, -(clamped + 0.5) / 3.0);
}

}  // namespace satipcard
