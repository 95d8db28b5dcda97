// What the program prints: JSON that stays valid UTF-8 whatever bytes a
// service name holds, with numbers at full precision, and status lines that
// fit the terminal they refresh on.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/report.h"
#include "host/tuning.h"

using namespace host;

namespace {

TEST(Report, JsonIsValidUtf8AndKeepsNumbersWhole) {
  const Json value = {{"name", std::string("Caf\xE4 TV")},  // a Latin-1 byte
                      {"frequency_mhz", 11778.125},
                      {"seconds", 0.1 + 0.2}};
  EXPECT_EQ(JsonText(value),
            "{\"name\":\"Caf\xEF\xBF\xBD TV\",\"frequency_mhz\":11778.125,"
            "\"seconds\":0.30000000000000004}");
}

TEST(Report, StatusLinesFitTheTerminalLeavingOutTheLeastImportant) {
  const std::vector<std::string> pieces = {"Lock",       "38.0 Mbit/s", "CC errors 0",
                                           "Signal 81%", "Quality 85%", "25272 p/s"};
  EXPECT_EQ(FitPieces(pieces, 200),
            "Lock  38.0 Mbit/s  CC errors 0  Signal 81%  Quality 85%  25272 p/s");
  EXPECT_EQ(FitPieces(pieces, 30), "Lock  38.0 Mbit/s  CC errors 0");
  EXPECT_EQ(FitPieces({"a long piece of text"}, 6), "a long");

  SignalReading reading;
  reading.result = kResultOk;
  reading.record.strength = 81;
  reading.record.quality = 85;
  reading.record.locked = 1;
  for (const std::size_t width : {39u, 59u, 79u, 200u}) {
    const std::string line = SignalLine(reading, width);
    EXPECT_LE(line.size(), width) << line;
    EXPECT_EQ(line.find('[') != std::string::npos, width >= 59) << line;
  }
}

}  // namespace
