// The host program's options turned into the module's records: units, the
// universal LNB's bands, ranges, names of code rates and polarisations, and
// the DiSEqC messages for a switch port and a positioner.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/options.h"

namespace {

Arguments Tune(const std::string& freq, const std::string& pol, const std::string& sr) {
  return {{"--freq", freq}, {"--pol", pol}, {"--sr", sr}};
}

// Parses and expects success; the record for the transponder.
TuningRecord RecordFor(const Arguments& arguments) {
  Transponder transponder;
  std::string error;
  EXPECT_TRUE(ParseTransponder(arguments, &transponder, &error)) << error;
  return MakeTuningRecord(transponder);
}

// Parses and expects a refusal whose line names `option`.
void ExpectRefused(const Arguments& arguments, const std::string& option) {
  Transponder transponder;
  std::string error;
  EXPECT_FALSE(ParseTransponder(arguments, &transponder, &error));
  EXPECT_NE(error.find(option), std::string::npos) << error;
}

TEST(TuneOptions, FillEveryChannelWordInTheAgreedUnits) {
  Arguments arguments = Tune("11778", "V", "27500");
  arguments["--fec"] = "3/4";
  const TuningRecord record = RecordFor(arguments);
  EXPECT_EQ(+record.primary_value, 11778000u);  // kHz
  EXPECT_EQ(+record.word2_value, 27500000u);    // symbols per second
  EXPECT_EQ(+record.word3_value, 10600000u);    // high-band oscillator, kHz
  EXPECT_EQ(+record.word4_value, 1u);           // tone on
  EXPECT_EQ(+record.polarity, 1);               // vertical
  EXPECT_EQ(+record.fec_code, 0x34u);
  EXPECT_EQ(+record.tristate_option, 2u);  // inversion automatic by default
  EXPECT_EQ(+record.passthrough_0, 0u);
  EXPECT_EQ(+record.passthrough_25, 0u);

  const TuningRecord fractional = RecordFor(Tune("12551.5", "h", "22000"));
  EXPECT_EQ(+fractional.primary_value, 12551500u);
  EXPECT_EQ(+fractional.polarity, 0);
  EXPECT_EQ(+fractional.fec_code, 0u);  // automatic when not given
}

TEST(TuneOptions, TheUniversalLnbChoosesOscillatorAndToneByBand) {
  const TuningRecord low_edge = RecordFor(Tune("10700", "V", "27500"));
  EXPECT_EQ(+low_edge.word3_value, 9750000u);
  EXPECT_EQ(+low_edge.word4_value, 0u);
  const TuningRecord below_switch = RecordFor(Tune("11699.9", "V", "27500"));
  EXPECT_EQ(+below_switch.word3_value, 9750000u);
  EXPECT_EQ(+below_switch.word4_value, 0u);
  const TuningRecord at_switch = RecordFor(Tune("11700", "V", "27500"));
  EXPECT_EQ(+at_switch.word3_value, 10600000u);
  EXPECT_EQ(+at_switch.word4_value, 1u);
  EXPECT_EQ(+RecordFor(Tune("12750", "V", "27500")).primary_value, 12750000u);

  ExpectRefused(Tune("10699", "V", "27500"), "--freq");
  ExpectRefused(Tune("12751", "V", "27500"), "--freq");
  ExpectRefused(Tune("11778MHz", "V", "27500"), "--freq");
  ExpectRefused(Tune("nan", "V", "27500"), "--freq");
  ExpectRefused({{"--pol", "V"}, {"--sr", "27500"}}, "--freq");
}

TEST(TuneOptions, AGivenOscillatorMustLeaveTheFrequencyInTheTunersRange) {
  Arguments c_band = Tune("3880", "R", "27500");
  c_band["--lof"] = "5150";  // 1270 MHz after the LNB
  const TuningRecord record = RecordFor(c_band);
  EXPECT_EQ(+record.word3_value, 5150000u);
  EXPECT_EQ(+record.word4_value, 0u);
  EXPECT_EQ(+record.polarity, 1);  // right-hand circular rides on 13 V

  Arguments toned = Tune("12700", "V", "27500");
  toned["--lof"] = "10750";
  toned["--tone"] = "on";
  EXPECT_EQ(+RecordFor(toned).word4_value, 1u);

  Arguments too_far = Tune("12700", "V", "27500");
  too_far["--lof"] = "9750";  // 2950 MHz: above 2150
  ExpectRefused(too_far, "2150");
  Arguments too_near = Tune("10600", "V", "27500");
  too_near["--lof"] = "9750";  // 850 MHz: below 950
  ExpectRefused(too_near, "950");
  Arguments bad_tone = Tune("11778", "V", "27500");
  bad_tone["--tone"] = "yes";
  ExpectRefused(bad_tone, "--tone");
}

TEST(TuneOptions, PolarisationLetters) {
  EXPECT_EQ(RecordFor(Tune("11778", "H", "27500")).polarity, 0);
  EXPECT_EQ(RecordFor(Tune("11778", "L", "27500")).polarity, 0);
  EXPECT_EQ(RecordFor(Tune("11778", "R", "27500")).polarity, 1);
  EXPECT_EQ(RecordFor(Tune("11778", "v", "27500")).polarity, 1);
  ExpectRefused(Tune("11778", "X", "27500"), "--pol");
  ExpectRefused(Tune("11778", "HV", "27500"), "--pol");
  ExpectRefused({{"--freq", "11778"}, {"--sr", "27500"}}, "--pol");
}

TEST(TuneOptions, SymbolRateRange) {
  EXPECT_EQ(+RecordFor(Tune("11778", "V", "1000")).word2_value, 1000000u);
  EXPECT_EQ(+RecordFor(Tune("11778", "V", "45000")).word2_value, 45000000u);
  ExpectRefused(Tune("11778", "V", "999"), "--sr");
  ExpectRefused(Tune("11778", "V", "45001"), "--sr");
  ExpectRefused(Tune("11778", "V", "27500k"), "--sr");
  ExpectRefused({{"--freq", "11778"}, {"--pol", "V"}}, "--sr");
}

TEST(TuneOptions, CodeRatesAndInversionByName) {
  const std::vector<std::pair<std::string, std::uint32_t>> rates = {
      {"1/2", 0x12}, {"2/3", 0x23}, {"3/4", 0x34}, {"4/5", 0x45}, {"5/6", 0x56},
      {"6/7", 0x67}, {"7/8", 0x78}, {"8/9", 0x89}, {"auto", 0}};
  for (const auto& rate : rates) {
    Arguments arguments = Tune("11778", "V", "27500");
    arguments["--fec"] = rate.first;
    EXPECT_EQ(+RecordFor(arguments).fec_code, rate.second) << rate.first;
    EXPECT_EQ(FecName(rate.second), rate.first);
  }
  for (const char* bad : {"3/5", "34", "0x34", "3/4 "}) {
    Arguments arguments = Tune("11778", "V", "27500");
    arguments["--fec"] = bad;
    ExpectRefused(arguments, "--fec");
  }

  const std::vector<std::pair<std::string, std::uint32_t>> inversions = {
      {"off", 0}, {"on", 1}, {"auto", 2}};
  for (const auto& inversion : inversions) {
    Arguments arguments = Tune("11778", "V", "27500");
    arguments["--inversion"] = inversion.first;
    EXPECT_EQ(+RecordFor(arguments).tristate_option, inversion.second) << inversion.first;
  }
  Arguments bad = Tune("11778", "V", "27500");
  bad["--inversion"] = "2";
  ExpectRefused(bad, "--inversion");
}

TEST(DishOptions, PortsAndBursts) {
  DishSelection dish;
  std::string error;
  ASSERT_TRUE(ParseDishSelection({{"--port", "4"}, {"--burst", "b"}}, &dish, &error)) << error;
  EXPECT_EQ(dish.port, 4);
  EXPECT_EQ(dish.burst, 2);  // the module's mode for burst B
  ASSERT_TRUE(ParseDishSelection({{"--burst", "A"}}, &dish, &error));
  EXPECT_EQ(dish.port, 0);
  EXPECT_EQ(dish.burst, 1);
  for (const char* bad : {"0", "5", "x", "1.5", ""}) {
    EXPECT_FALSE(ParseDishSelection({{"--port", bad}}, &dish, &error)) << bad;
    EXPECT_NE(error.find("--port"), std::string::npos);
  }
  EXPECT_FALSE(ParseDishSelection({{"--burst", "C"}}, &dish, &error));
}

TEST(DiseqcMessages, SwitchPortCarriesPolarisationAndBandBits) {
  using Bytes = std::vector<std::uint8_t>;
  EXPECT_EQ(SwitchMessage(1, 'V', false), (Bytes{0xE0, 0x10, 0x38, 0xF0}));
  EXPECT_EQ(SwitchMessage(1, 'V', true), (Bytes{0xE0, 0x10, 0x38, 0xF1}));
  EXPECT_EQ(SwitchMessage(2, 'H', true), (Bytes{0xE0, 0x10, 0x38, 0xF7}));
  EXPECT_EQ(SwitchMessage(4, 'H', false), (Bytes{0xE0, 0x10, 0x38, 0xFE}));
  // The port the stand-in reads back: ((x >> 2) & 3) + 1.
  for (int port = 1; port <= 4; ++port) {
    EXPECT_EQ(((SwitchMessage(port, 'H', true)[3] >> 2) & 3) + 1, port);
  }
  EXPECT_EQ(GotoMessage(3), (Bytes{0xE0, 0x31, 0x6B, 0x03}));
}

TEST(DiseqcMessages, HexBytesInTheUsualSpellings) {
  using Bytes = std::vector<std::uint8_t>;
  const Bytes expected{0xE0, 0x10, 0x38, 0xF3};
  for (const char* text :
       {"E0 10 38 F3", "e0 10 38 f3", "0xE0,0x10,0x38,0xF3", "E01038F3", "  E0  1038 F3 "}) {
    Bytes bytes;
    std::string error;
    EXPECT_TRUE(ParseHexBytes(text, &bytes, &error)) << text << ": " << error;
    EXPECT_EQ(bytes, expected) << text;
  }
  Bytes bytes;
  std::string error;
  EXPECT_TRUE(ParseHexBytes("E0 1", &bytes, &error));
  EXPECT_EQ(bytes, (Bytes{0xE0, 0x01}));
  for (const char* bad : {"", "  ", "E0 G1", "E01", "E0 -1"}) {
    EXPECT_FALSE(ParseHexBytes(bad, &bytes, &error)) << bad;
    EXPECT_FALSE(error.empty());
  }
  EXPECT_EQ(HexBytes(expected), "E0 10 38 F3");
}

TEST(WholeNumbers, OnlyDigitsWithinTheRange) {
  long value = 0;
  EXPECT_TRUE(ParseInteger("255", 0, 255, &value));
  EXPECT_EQ(value, 255);
  for (const char* bad : {"256", "-1", "3s", "", " 3", "0x10"}) {
    EXPECT_FALSE(ParseInteger(bad, 0, 255, &value)) << bad;
  }
}

}  // namespace
