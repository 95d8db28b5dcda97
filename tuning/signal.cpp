// DeviceGetSignal: strength, quality and lock, and the current transponder.
#include <cmath>
#include <cstring>

#include "plugin/context.h"
#include "plugin/entries.h"
#include "tuning/tuning.h"

namespace {

// Where GetState leaves the two figures the module reads in its signal record.
constexpr std::size_t kBitErrorRateOffset = 8;
constexpr std::size_t kLevelOffset = 20;

// Vendor-mode grade of the bit-error rate, by strict less-than, first match.
struct Grade {
  double below;
  std::uint8_t grade;
};
constexpr Grade kGrades[] = {{0.0001, 80}, {0.001, 60}, {0.01, 40}, {0.1, 20}};
constexpr std::uint8_t kGradeBonus = 20;

// Direct-mode quality: one decade of bit-error rate is worth 100/7, from 0 at
// a rate of 1 to 100 at 1e-7.
constexpr double kQualityWorst = 1.0;
constexpr double kQualityBest = 1e-7;
constexpr double kStrengthScale = 0.3921568627450981;  // 100 / 255

std::uint8_t GradeOf(double bit_error_rate) {
  for (const Grade& grade : kGrades) {
    if (bit_error_rate < grade.below) {
      return grade.grade;
    }
  }
  return 0;  // 0.1 or more, or not a number
}

std::uint8_t LowByte(std::int32_t value) { return static_cast<std::uint8_t>(value & 0xFF); }

}  // namespace

double MapRange(double x, double x0, double x1, double y0, double y1, bool logarithmic) {
  if (!logarithmic) {
    const double slope = (y1 - y0) / (x1 - x0);
    return slope * (x - x0) + y0;
  }
  const double r = 1.0 / x0;
  const double slope = (y1 - y0) / std::log(x1 * r);
  return std::log(x * r) * slope + y0;
}

std::int32_t TruncateToInt32(double value) {
  // The x86 conversion answers out-of-range and NaN with the "integer
  // indefinite" value; a plain C++ conversion would be undefined there.
  if (!(value > -2147483649.0 && value < 2147483648.0)) {
    return INT32_MIN;
  }
  return static_cast<std::int32_t>(value);
}

SignalFigures VendorSignalFigures(std::uint32_t level_word, double bit_error_rate) {
  return {static_cast<std::uint8_t>(level_word & 0xFFU),
          static_cast<std::uint8_t>(GradeOf(bit_error_rate) + kGradeBonus)};
}

SignalFigures DirectSignalFigures(std::uint8_t level_register, double bit_error_rate) {
  const std::int32_t strength = TruncateToInt32((255 - level_register) * kStrengthScale);
  const std::int32_t quality = bit_error_rate == 0.0
                                   ? 100
                                   : TruncateToInt32(MapRange(bit_error_rate, kQualityWorst,
                                                              kQualityBest, 0.0, 100.0, true));
  return {LowByte(strength), LowByte(quality)};
}

std::int32_t MV_STDCALL DeviceGetSignal(SignalRecord* signal, TuningRecord* tuning) {
  DeviceContext& device = device_context;
  if (!device.device_open || signal == nullptr || tuning == nullptr) {
    return kResultFailed;
  }
  std::int32_t lock = 0;
  // Cleared so that figures a library leaves unwritten read as zero, not as
  // whatever the stack held.
  CDVBFrontend::_SIGNAL_TYPE figures{};
  if (device.frontend->GetState(lock, &figures, nullptr) != kDvbOk) {
    return kResultFailed;
  }
  double bit_error_rate = 0.0;
  std::uint32_t level_word = 0;
  std::memcpy(&bit_error_rate, figures.bytes + kBitErrorRateOffset, sizeof bit_error_rate);
  std::memcpy(&level_word, figures.bytes + kLevelOffset, sizeof level_word);

  SignalFigures result{0, 0};
  if (lock != 0) {
    if (device.direct_access != 0) {
      std::uint8_t level = 0;
      device.register_access->ReadSignalLevel(level);
      result = DirectSignalFigures(level, bit_error_rate);
    } else {
      result = VendorSignalFigures(level_word, bit_error_rate);
    }
  }
  std::memcpy(tuning, &device.current_tuning, sizeof device.current_tuning);
  signal->strength = result.strength;
  signal->quality = result.quality;
  signal->locked = LowByte(lock);
  return kResultOk;
}
