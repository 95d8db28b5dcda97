// The scan of a transponder on the stand-in's generated streams: every
// service of the lineup found with its PIDs and written to a channel file
// that reads back; a frequency with nothing on it ends at the time limit.
#include <gtest/gtest.h>

#include <chrono>
#include <sstream>
#include <string>
#include <vector>

#include "dvb/channel_file.h"
#include "dvb/scan.h"
#include "tests/support/lineup_stream.h"

using namespace dvb;

namespace {

constexpr std::chrono::milliseconds kLimit{5000};

ChannelEntry TransponderOf(const sim::LineupTransponder& row) {
  ChannelEntry entry;
  entry.transponder.frequency_khz = row.frequency_mhz * 1000;
  entry.transponder.polarization =
      row.polarity == 'H' ? Polarization::kHorizontal : Polarization::kVertical;
  entry.transponder.symbol_rate = row.symbol_rate_ksps * 1000;
  entry.transponder.satellite_number = row.satellite;
  entry.transponder.lnb = "UNIVERSAL";
  return entry;
}

TEST(Scan, FindsEveryServiceOfTheLineupAndWritesAChannelFile) {
  std::vector<ChannelEntry> found;
  for (const sim::LineupTransponder& row : sim::Lineup()) {
    const auto index = static_cast<int>(&row - sim::Lineup().data());
    GeneratedSource source(index);
    const TransponderScan scan = ScanTransponder(TransponderOf(row), &source, kLimit);
    EXPECT_TRUE(scan.complete) << index << ": " << scan.missing;
    EXPECT_LT(source.Now(), kLimit);  // it stopped once the tables were read
    ASSERT_EQ(scan.services.size(), row.multiplex.services.size());
    for (std::size_t s = 0; s < scan.services.size(); ++s) {
      const sim::ServiceDescription& expected = row.multiplex.services[s];
      const ChannelEntry& entry = scan.services[s];
      EXPECT_EQ(entry.name, expected.name);
      EXPECT_EQ(entry.service_id, expected.service_id);
      EXPECT_EQ(entry.video_pids, expected.video_pid != 0
                                      ? std::vector<std::uint16_t>{expected.video_pid}
                                      : std::vector<std::uint16_t>{});
      EXPECT_EQ(entry.audio_pids, std::vector<std::uint16_t>{expected.audio_pid});
      EXPECT_TRUE(entry.other_pids.empty());
      EXPECT_EQ(entry.transponder.frequency_khz, row.frequency_mhz * 1000);
      EXPECT_EQ(entry.transponder.satellite_number, row.satellite);
    }
    found.insert(found.end(), scan.services.begin(), scan.services.end());
  }

  std::stringstream file;
  WriteChannelFile(file, found);
  std::vector<ChannelEntry> read;
  std::string error;
  ASSERT_TRUE(ReadChannelFile(file, &read, &error)) << error;
  ASSERT_EQ(read.size(), 16u);
  const ChannelEntry* folk = FindChannel(read, "Saffa Folk");
  ASSERT_NE(folk, nullptr);
  EXPECT_EQ(folk->service_id, 5003);
  EXPECT_EQ(folk->audio_pids, std::vector<std::uint16_t>{0x1432});
  EXPECT_EQ(folk->transponder.polarization, Polarization::kHorizontal);
  EXPECT_EQ(folk->transponder.lnb, "UNIVERSAL");
}

// As dvbv5-scan does: a transponder's NIT names the satellite's others,
// which join the scan with the dish of the one it was read on.
TEST(Scan, TheNitListsTheSatellitesOtherTransponders) {
  const sim::LineupTransponder& pellam = sim::Lineup()[2];
  GeneratedSource source(2);
  const ChannelEntry from = TransponderOf(pellam);
  const TransponderScan scan = ScanTransponder(from, &source, kLimit);
  ASSERT_TRUE(scan.complete && scan.network_read) << scan.missing;
  EXPECT_EQ(scan.network_name, "Kestrava 1");
  ChannelEntry nearby = TransponderOf(sim::Lineup()[0]);
  nearby.transponder.frequency_khz += 2000;  // as a transponder file may have it
  const std::vector<ChannelEntry> found = NewTransponders(scan, from, {from, nearby});
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0].transponder.frequency_khz, 11258000u);
  EXPECT_EQ(found[1].transponder.frequency_khz, 12344000u);
  EXPECT_EQ(found[1].transponder.fec, CodeRate::k2_3);
  EXPECT_EQ(found[1].transponder.satellite_number, 0);
  EXPECT_EQ(found[1].transponder.lnb, "UNIVERSAL");
  TransponderParameters other_polarisation = nearby.transponder;
  other_polarisation.polarization = Polarization::kVertical;
  EXPECT_FALSE(SameTransponder(nearby.transponder, other_polarisation));
}

TEST(Scan, AFrequencyWithNothingOnItEndsAtTheLimit) {
  GeneratedSource nothing(-1);
  const TransponderScan scan = ScanTransponder(TransponderOf(sim::Lineup()[0]), &nothing, kLimit);
  EXPECT_FALSE(scan.complete);
  EXPECT_EQ(scan.missing, "the PAT");
  EXPECT_TRUE(scan.services.empty());
  EXPECT_EQ(scan.packets, 0u);
  EXPECT_EQ(nothing.Now(), kLimit);
}

}  // namespace
