// Translating the host's tuning record, and the signal figures.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "tuning/tuning.h"

namespace {

constexpr std::uint32_t kNoFec = 1U << 0;
constexpr std::uint32_t kWord1Two = 1U << 4;
constexpr std::uint32_t kTristate = 1U << 20;

TuningRecord Request() {
  TuningRecord request{};
  request.passthrough_0 = 0xDEADBEEF;
  request.tristate_option = 0;
  request.primary_value = 11778;
  request.polarity = 1;
  request.word2_value = 27500;
  request.word3_value = 9750;
  request.word4_value = 0xFFFFFFFF;
  request.passthrough_25 = 0x01020304;
  request.fec_code = 0x34;
  return request;
}

TEST(ChannelRecord, CopiesTheHostWordsAndTranslatesTheRest) {
  const CDVBFrontend::_CHANNEL_TYPE channel = BuildChannelRecord(Request(), 0);
  const std::uint32_t expected[8] = {11778, 1, 27500, 9750, 0xFFFFFFFF, 13, 3, 0};
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(channel.word[i], expected[i]) << "word " << i;
  }
}

TEST(ChannelRecord, FecCodesYieldTheirRateOnlyWhenKnownAndAllowed) {
  TuningRecord request = Request();
  const struct {
    std::uint32_t code;
    std::uint32_t word;
  } cases[] = {{0x12, 1}, {0x23, 2}, {0x56, 5}, {0x89, 8}, {0x13, 0},
               {0x90, 0}, {0, 0},    {0x9A, 0}, {0x21, 0}, {0xFFFFFF34, 0}};
  for (const auto& entry : cases) {
    request.fec_code = entry.code;
    EXPECT_EQ(BuildChannelRecord(request, 0).word[6], entry.word) << std::hex << entry.code;
  }
  request.fec_code = 0x34;
  EXPECT_EQ(BuildChannelRecord(request, kNoFec).word[6], 0U);
}

TEST(ChannelRecord, PolarityChoosesTheSupplyVoltage) {
  TuningRecord request = Request();
  for (const int polarity : {1, 2, 255}) {
    request.polarity = static_cast<std::uint8_t>(polarity);
    EXPECT_EQ(BuildChannelRecord(request, 0).word[5], 13U);
  }
  request.polarity = 0;
  EXPECT_EQ(BuildChannelRecord(request, 0).word[5], 18U);
}

TEST(ChannelRecord, FlagsSteerWordsOneAndSeven) {
  TuningRecord request = Request();
  EXPECT_EQ(BuildChannelRecord(request, kWord1Two).word[1], 2U);
  EXPECT_EQ(BuildChannelRecord(request, ~kWord1Two).word[1], 1U);
  request.tristate_option = 1;
  EXPECT_EQ(BuildChannelRecord(request, 0).word[7], 1U);
  request.tristate_option = 0;
  EXPECT_EQ(BuildChannelRecord(request, kTristate).word[7], 0U);
  for (const std::uint32_t option : {2U, 7U, 0xFFFFFFFFU}) {
    request.tristate_option = option;
    EXPECT_EQ(BuildChannelRecord(request, kTristate).word[7], 1U);
    EXPECT_EQ(BuildChannelRecord(request, ~kTristate).word[7], 0U);
  }
}

TEST(MapRangeTest, LinearAndLogarithmicScales) {
  EXPECT_DOUBLE_EQ(MapRange(5.0, 0.0, 10.0, 0.0, 100.0, false), 50.0);
  EXPECT_NEAR(MapRange(0.01, 1.0, 1e-7, 0.0, 100.0, true), 28.571428, 1e-5);
  EXPECT_NEAR(MapRange(1e-8, 1.0, 1e-7, 0.0, 100.0, true), 114.285714, 1e-5);
}

TEST(SignalFiguresTest, VendorModeGradesTheErrorRate) {
  const struct {
    double rate;
    std::uint8_t quality;
  } cases[] = {{0.0, 100}, {0.00009, 100}, {0.0001, 80}, {0.0005, 80}, {0.001, 60},
               {0.05, 40}, {0.1, 20},      {0.5, 20},    {1e300, 20},  {-1.0, 100}};
  for (const auto& entry : cases) {
    EXPECT_EQ(VendorSignalFigures(0, entry.rate).quality, entry.quality) << entry.rate;
  }
  EXPECT_EQ(VendorSignalFigures(0, std::nan("")).quality, 20);
  // The level comes as it is, above 100 too, in its low byte.
  EXPECT_EQ(VendorSignalFigures(0xFFFFFF00U | 200U, 0.0).strength, 200);
}

TEST(SignalFiguresTest, DirectModeScalesTheLevelAndTheErrorRate) {
  const struct {
    std::uint8_t level;
    std::uint8_t strength;
  } levels[] = {{0, 100}, {128, 49}, {204, 20}, {255, 0}, {1, 99}};
  for (const auto& entry : levels) {
    EXPECT_EQ(DirectSignalFigures(entry.level, 0.0).strength, entry.strength) << +entry.level;
  }
  for (int level = 0; level < 256; ++level) {
    EXPECT_EQ(DirectSignalFigures(static_cast<std::uint8_t>(level), 0.0).strength,
              (255 - level) * 100 / 255);
  }
  const struct {
    double rate;
    std::uint8_t quality;
  } rates[] = {{0.0, 100}, {1.0, 0},   {0.1, 14},   {0.01, 28},  {0.001, 42}, {0.0001, 57},
               {1e-5, 71}, {1e-6, 85}, {1e-7, 100}, {1e-8, 114}, {2.0, 252}};
  for (const auto& entry : rates) {
    EXPECT_EQ(DirectSignalFigures(0, entry.rate).quality, entry.quality) << entry.rate;
  }
}

TEST(SignalFiguresTest, RatesOutsideTheScaleGiveTheX86Answer) {
  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_EQ(TruncateToInt32(std::nan("")), INT32_MIN);
  EXPECT_EQ(TruncateToInt32(inf), INT32_MIN);
  EXPECT_EQ(TruncateToInt32(-inf), INT32_MIN);
  EXPECT_EQ(TruncateToInt32(3e9), INT32_MIN);
  EXPECT_EQ(TruncateToInt32(2147483647.9), INT32_MAX);
  EXPECT_EQ(TruncateToInt32(-2147483648.9), INT32_MIN);
  EXPECT_EQ(TruncateToInt32(-4.9), -4);
  // NaN, negative and infinite rates: the logarithm is not a number or infinite,
  // and the quality's low byte is that of 0x80000000.
  for (const double rate : {std::nan(""), -0.5, inf}) {
    EXPECT_EQ(DirectSignalFigures(0, rate).quality, 0) << rate;
  }
  // A vanishing rate gives a large but finite figure: its low byte.
  const std::int32_t tiny = TruncateToInt32(MapRange(1e-300, 1.0, 1e-7, 0.0, 100.0, true));
  EXPECT_EQ(DirectSignalFigures(0, 1e-300).quality, static_cast<std::uint8_t>(tiny & 0xFF));
}

}  // namespace
