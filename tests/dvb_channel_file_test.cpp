// Channel files: a transponder file from Debian's dtv-scan-tables reads, a
// written service file reads back to the same entries, and a malformed file
// is refused with the number of the line at fault.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "dvb/channel_file.h"

using namespace dvb;

namespace {

TEST(ChannelFile, ATransponderFileOfDtvScanTablesReads) {
  const std::string path = "/usr/share/dvb/dvb-s/Hotbird-13.0E";
  if (!std::ifstream(path)) {
    GTEST_SKIP() << path << " is missing (Debian dtv-scan-tables)";
  }
  std::vector<ChannelEntry> entries;
  std::string error;
  ASSERT_TRUE(LoadChannelFile(path, &entries, &error)) << error;
  ASSERT_GT(entries.size(), 50u);
  const ChannelEntry& first = entries.front();
  EXPECT_EQ(first.name, "");  // [CHANNEL]
  EXPECT_EQ(first.line, 3);
  EXPECT_EQ(first.transponder.delivery_system, DeliverySystem::kDvbS);
  EXPECT_EQ(first.transponder.frequency_khz, 10719000u);
  EXPECT_EQ(first.transponder.polarization, Polarization::kVertical);
  EXPECT_EQ(first.transponder.symbol_rate, 27500000u);
  EXPECT_EQ(first.transponder.fec, CodeRate::k3_4);
  EXPECT_EQ(first.transponder.inversion, Inversion::kAuto);
  EXPECT_FALSE(first.transponder.modulation.has_value());
  EXPECT_EQ(first.service_id, 0);
}

std::vector<ChannelEntry> SampleEntries() {
  ChannelEntry service;
  service.name = "Pellam Sport";
  service.service_id = 3001;
  service.video_pids = {0x1201};
  service.audio_pids = {0x1202, 0x1203};
  service.other_pids = {{0x06, 0x1204}, {0x05, 0x1205}, {0x06, 0x1206}};
  service.transponder.frequency_khz = 11778000;
  service.transponder.polarization = Polarization::kVertical;
  service.transponder.symbol_rate = 27500000;
  service.transponder.fec = CodeRate::k3_4;
  service.transponder.satellite_number = 1;
  service.transponder.lnb = "UNIVERSAL";
  ChannelEntry transponder;  // nameless, DVB-S2
  transponder.transponder.delivery_system = DeliverySystem::kDvbS2;
  transponder.transponder.frequency_khz = 12012000;
  transponder.transponder.polarization = Polarization::kLeft;
  transponder.transponder.symbol_rate = 30000000;
  transponder.transponder.fec = CodeRate::k9_10;
  transponder.transponder.modulation = Modulation::kPsk8;
  transponder.transponder.rolloff = Rolloff::k20;
  transponder.transponder.inversion = Inversion::kOff;
  return {service, transponder};
}

std::string Written(const std::vector<ChannelEntry>& entries) {
  std::ostringstream out;
  WriteChannelFile(out, entries);
  return out.str();
}

TEST(ChannelFile, AWrittenFileReadsBackToTheSameEntries) {
  const std::string text = Written(SampleEntries());
  std::istringstream in(text);
  std::vector<ChannelEntry> read;
  std::string error;
  ASSERT_TRUE(ReadChannelFile(in, &read, &error)) << error;
  ASSERT_EQ(read.size(), 2u);
  EXPECT_EQ(Written(read), text);  // every field the writer knows came back
  EXPECT_EQ(read[0].name, "Pellam Sport");
  EXPECT_EQ(read[0].other_pids.size(), 3u);
  EXPECT_EQ(read[0].transponder.satellite_number, 1);
  EXPECT_EQ(read[1].line, 16);
  EXPECT_NE(text.find("\tPID_06 = 4612 4614\n\tPID_05 = 4613\n"), std::string::npos) << text;

  EXPECT_EQ(FindChannel(read, "Pellam Sport"), &read[0]);
  EXPECT_EQ(FindChannel(read, "pellam SPORT"), &read[0]);
  EXPECT_EQ(FindChannel(read, "Pellam"), nullptr);
}

// Line ends converted twice ("\r\r\n") too; a carriage return within a name is
// the name's, and it reads back so.
TEST(ChannelFile, KeysAndValuesInAnyCaseAndWindowsLineEndsRead) {
  std::istringstream in(
      "\xEF\xBB\xBF# a comment\r\n[One\rTwo]\r\n  delivery_system=dvbs\r\n\tFrequency = "
      "10773000\r\n"
      "\tpolarization = horizontal\r\n\tSYMBOL_RATE = 22000000\r\r\n\tinner_fec = 5/6\r\n"
      "\tPILOT = AUTO\r\n\tLNB = UNIVERSAL\r\r\n");
  std::vector<ChannelEntry> read;
  std::string error;
  ASSERT_TRUE(ReadChannelFile(in, &read, &error)) << error;
  ASSERT_EQ(read.size(), 1u);
  EXPECT_EQ(read[0].name, "One\rTwo");
  EXPECT_EQ(read[0].transponder.polarization, Polarization::kHorizontal);
  EXPECT_EQ(read[0].transponder.fec, CodeRate::k5_6);
  EXPECT_EQ(read[0].transponder.lnb, "UNIVERSAL");
  std::istringstream again(Written(read));
  ASSERT_TRUE(ReadChannelFile(again, &read, &error)) << error;
  EXPECT_EQ(read[0].name, "One\rTwo");
}

TEST(ChannelFile, AMalformedFileIsRefusedWithItsLineNumber) {
  const std::string head = "[A]\n\tDELIVERY_SYSTEM = DVBS\n\tSYMBOL_RATE = 27500000\n";
  const struct {
    std::string text;
    std::string error;
  } cases[] = {
      {head + "\tFREQUENCY 11778000\n", "line 4: expected KEY = VALUE, not 'FREQUENCY 11778000'"},
      {head + "\tPOLARIZATION = H\n",
       "line 4: POLARIZATION must be HORIZONTAL, VERTICAL, LEFT, RIGHT or OFF, not 'H'"},
      {head + "\tFREQUENCY = 11778.5\n",
       "line 4: FREQUENCY must be a whole number from 1 to 4294967295, not '11778.5'"},
      {head + "\tVIDEO_PID = 4609 8192\n",
       "line 4: VIDEO_PID holds PIDs, each of which must be a whole number from 0 to 8191, "
       "not '8192'"},
      {head + "\tINNER_FEC =\n", "line 4: INNER_FEC has no value"},
      {"\n\tFREQUENCY = 11778000\n", "line 2: KEY = VALUE before the first [NAME] section"},
      {head + "[B\n", "line 4: a section name must end with ']': [B"},
      {head + "\tFREQUENCY = 11778000\n", "line 1: [A] has no POLARIZATION"},
      {"[A]\n\tDELIVERY_SYSTEM = DVBT\n",
       "line 2: DELIVERY_SYSTEM must be DVBS or DVBS2, not 'DVBT'"},
  };
  for (const auto& c : cases) {
    std::istringstream in(c.text);
    std::vector<ChannelEntry> read;
    std::string error;
    EXPECT_FALSE(ReadChannelFile(in, &read, &error)) << c.text;
    EXPECT_EQ(error, c.error);
  }
  std::vector<ChannelEntry> read;
  std::string error;
  EXPECT_FALSE(LoadChannelFile("no-such-channels.conf", &read, &error));
  EXPECT_EQ(error.rfind("no-such-channels.conf: ", 0), 0u) << error;
}

}  // namespace
