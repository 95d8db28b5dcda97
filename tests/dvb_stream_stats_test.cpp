// What a capture counts: continuity counter gaps by the transport stream's
// rules, packets without a sync byte, and the services its PAT, PMTs and SDT
// announce (the statistics hand the table packets on), also when a section
// runs over two packets or arrives damaged.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include <bitstream/dvb/si/desc_48.h>
#include <bitstream/dvb/si/sdt.h>
#include <bitstream/mpeg/psi.h>
#include <bitstream/mpeg/ts.h>

#include "dvb/psi_reader.h"
#include "dvb/stream_stats.h"
#include "tests/support/psi_tables.h"

using namespace dvb;

namespace {

using Packet = std::array<std::uint8_t, kTsPacketSize>;

Packet MakePacket(std::uint16_t pid, std::uint8_t continuity, bool payload = true) {
  Packet packet;
  ts_init(packet.data());
  ts_set_pid(packet.data(), pid);
  ts_set_cc(packet.data(), continuity);
  if (payload) {
    ts_set_payload(packet.data());
  } else {
    ts_set_adaptation(packet.data(), 183);
  }
  return packet;
}

Packet Flagged(Packet packet) {  // a discontinuity announced in the adaptation field
  ts_set_adaptation(packet.data(), 1);
  tsaf_set_discontinuity(packet.data());
  return packet;
}

void Feed(StreamStats* stats, const std::vector<Packet>& packets, PsiReader* tables = nullptr) {
  for (const Packet& packet : packets) {
    stats->Add(packet.data(), 1, tables);
  }
}

// A stream's statistics and the services it announces.
struct Capture {
  StreamStats stats;
  PsiReader tables;
  void Feed(const std::vector<Packet>& packets) { ::Feed(&stats, packets, &tables); }
  std::vector<Service> services() const { return tables.services(); }
};

TEST(ContinuityCount, CountersThatStepAndWrapAreClean) {
  StreamStats stats;
  std::vector<Packet> packets;
  for (int i = 0; i < 40; ++i) {  // two PIDs interleaved, each wrapping 15 -> 0
    packets.push_back(MakePacket(0x100, static_cast<std::uint8_t>(i % 16)));
    packets.push_back(MakePacket(0x200, static_cast<std::uint8_t>((i + 7) % 16)));
  }
  Feed(&stats, packets);
  EXPECT_EQ(stats.packets(), 80u);
  EXPECT_EQ(stats.bytes(), 80u * 188);
  EXPECT_EQ(stats.continuity_errors(), 0u);
  EXPECT_EQ(stats.pids().at(0x100), 40u);
  EXPECT_EQ(stats.pids().at(0x200), 40u);
}

TEST(ContinuityCount, AGapIsOneErrorAndCountingGoesOnFromTheNewValue) {
  StreamStats stats;
  Feed(&stats, {MakePacket(0x100, 3), MakePacket(0x100, 4), MakePacket(0x100, 9),
                MakePacket(0x100, 10), MakePacket(0x100, 10 + 2)});
  EXPECT_EQ(stats.continuity_errors(), 2u);
}

TEST(ContinuityCount, OneRepeatIsAllowedASecondIsNot) {
  StreamStats once;
  Feed(&once, {MakePacket(0x100, 5), MakePacket(0x100, 5), MakePacket(0x100, 6)});
  EXPECT_EQ(once.continuity_errors(), 0u);
  StreamStats twice;
  Feed(&twice, {MakePacket(0x100, 5), MakePacket(0x100, 5), MakePacket(0x100, 5)});
  EXPECT_EQ(twice.continuity_errors(), 1u);
}

TEST(ContinuityCount, PacketsWithoutPayloadKeepTheCounter) {
  StreamStats kept;
  Feed(&kept, {MakePacket(0x100, 5), MakePacket(0x100, 5, false), MakePacket(0x100, 6)});
  EXPECT_EQ(kept.continuity_errors(), 0u);
  StreamStats stepped;
  Feed(&stepped, {MakePacket(0x100, 5), MakePacket(0x100, 6, false)});
  EXPECT_EQ(stepped.continuity_errors(), 1u);
}

TEST(ContinuityCount, AnnouncedDiscontinuityAndNullPacketsAreNotErrors) {
  StreamStats stats;
  Feed(&stats, {MakePacket(0x100, 5), Flagged(MakePacket(0x100, 12)), MakePacket(0x100, 13),
                MakePacket(0x1FFF, 0), MakePacket(0x1FFF, 0), MakePacket(0x1FFF, 9)});
  EXPECT_EQ(stats.continuity_errors(), 0u);
  EXPECT_EQ(stats.pids().at(0x1FFF), 3u);
}

TEST(DamagedPackets, MissingSyncAndTransportErrorsAreCountedApart) {
  StreamStats stats;
  Packet unsynced = MakePacket(0x100, 1);
  unsynced[0] = 0x46;
  Packet damaged = MakePacket(0x100, 7);
  ts_set_transporterror(damaged.data());
  Feed(&stats, {MakePacket(0x100, 0), unsynced, damaged, MakePacket(0x100, 1)});
  EXPECT_EQ(stats.packets(), 4u);
  EXPECT_EQ(stats.missing_sync(), 1u);
  EXPECT_EQ(stats.transport_errors(), 1u);
  EXPECT_EQ(stats.continuity_errors(), 0u);  // neither took part in the count
  EXPECT_EQ(stats.pids().at(0x100), 2u);
}

// ---- Tables, built with the same library a multiplexer would use.

// A section cut into packets on `pid`, the first with a pointer field of 0.
std::vector<Packet> Packets(std::uint16_t pid, const Section& section, std::uint8_t* continuity) {
  std::vector<Packet> packets;
  std::size_t done = 0;
  while (done < section.size()) {
    Packet packet = MakePacket(pid, (*continuity)++ & 0xF);
    std::uint8_t* payload = packet.data() + 4;
    std::size_t room = kTsPacketSize - 4;
    if (done == 0) {
      ts_set_unitstart(packet.data());
      *payload++ = 0;
      --room;
    }
    const std::size_t part = std::min(room, section.size() - done);
    std::memcpy(payload, section.data() + done, part);
    std::memset(payload + part, 0xFF, room - part);
    done += part;
    packets.push_back(packet);
  }
  return packets;
}

const std::string kLongName(90, 'N');  // two of these do not fit one packet

TEST(StreamTables, ServicesFromPatPmtAndASdtOverTwoPackets) {
  Capture stats;
  std::uint8_t pat_cc = 0, pmt1_cc = 0, pmt2_cc = 0, sdt_cc = 0;
  const std::vector<Packet> sdt =
      Packets(SDT_PID, Sdt({{101, "One"}, {102, kLongName}, {103, kLongName}}), &sdt_cc);
  ASSERT_EQ(sdt.size(), 2u);
  stats.Feed(Packets(PAT_PID, Pat({{0, 0x10}, {101, 0x100}, {102, 0x200}}), &pat_cc));
  stats.Feed(Packets(0x100, Pmt(101, {{0x02, 0x101}, {0x04, 0x102}}), &pmt1_cc));
  stats.Feed(Packets(0x200, Pmt(102, {{0x04, 0x202}}), &pmt2_cc));
  stats.Feed(sdt);

  const std::vector<Service> services = stats.services();
  ASSERT_EQ(services.size(), 3u);  // program 0 is the network PID, not a service
  EXPECT_EQ(services[0].program, 101);
  EXPECT_EQ(services[0].pmt_pid, 0x100);
  EXPECT_EQ(services[0].name, "One");
  EXPECT_EQ(services[0].provider, "Provider");
  EXPECT_EQ(services[0].pcr_pid, 0x101);
  ASSERT_EQ(services[0].streams.size(), 2u);
  EXPECT_EQ(services[0].streams[0].pid, 0x101);
  EXPECT_EQ(services[0].streams[0].stream_type, 0x02);
  EXPECT_EQ(services[0].streams[1].stream_type, 0x04);
  EXPECT_EQ(services[1].name, kLongName);
  ASSERT_EQ(services[1].streams.size(), 1u);
  // In the SDT but not the PAT: named, without a PMT.
  EXPECT_EQ(services[2].program, 103);
  EXPECT_EQ(services[2].name, kLongName);
  EXPECT_EQ(services[2].pmt_pid, 0);
  EXPECT_EQ(stats.stats.continuity_errors(), 0u);
}

TEST(StreamTables, APmtBeforeThePatIsReadAtItsNextRepetition) {
  Capture stats;
  std::uint8_t pat_cc = 0, pmt_cc = 0;
  stats.Feed(Packets(0x100, Pmt(101, {{0x1B, 0x101}}), &pmt_cc));
  stats.Feed(Packets(PAT_PID, Pat({{101, 0x100}}), &pat_cc));
  ASSERT_EQ(stats.services().size(), 1u);
  EXPECT_TRUE(stats.services()[0].streams.empty());
  stats.Feed(Packets(0x100, Pmt(101, {{0x1B, 0x101}}), &pmt_cc));
  ASSERT_EQ(stats.services()[0].streams.size(), 1u);
  EXPECT_EQ(stats.services()[0].streams[0].stream_type, 0x1B);
}

TEST(StreamTables, DamagedOrInterruptedSectionsAreIgnored) {
  Capture stats;
  std::uint8_t pat_cc = 0, sdt_cc = 0;
  Section broken = Pat({{101, 0x100}});
  broken[9] ^= 0x01;  // the program number, so the CRC no longer holds
  stats.Feed(Packets(PAT_PID, broken, &pat_cc));
  EXPECT_TRUE(stats.services().empty());

  // The SDT's second packet lost: its first half and the next section's
  // continuation must not be joined into a service.
  std::vector<Packet> sdt =
      Packets(SDT_PID, Sdt({{101, "One"}, {102, kLongName}, {103, kLongName}}), &sdt_cc);
  stats.Feed({sdt[0]});
  stats.Feed(
      {Packets(SDT_PID, Sdt({{101, "One"}, {102, kLongName}, {103, kLongName}}), &sdt_cc)[1]});
  EXPECT_TRUE(stats.services().empty());
  EXPECT_EQ(stats.stats.continuity_errors(), 1u);
}

}  // namespace
