// The service filter on the stand-in's streams: one service's packets, a
// PAT and an SDT of its own and its EIT present/following out of a
// four-service transponder, chosen by name or by number; a service the stream
// lacks; a PMT that moves; a raw PID list.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include <bitstream/dvb/si/eit.h>
#include <bitstream/dvb/si/sdt.h>
#include <bitstream/mpeg/psi.h>
#include <bitstream/mpeg/ts.h>

#include "dvb/psi_reader.h"
#include "dvb/service_filter.h"
#include "tests/support/lineup_stream.h"

using namespace dvb;

namespace {

constexpr int kPellam = 2;  // four services: 3001..3004 on PMT PIDs 0x1200..0x1203

std::vector<std::uint8_t> Filtered(PsiReader* tables, ServiceFilter* filter,
                                   const std::vector<std::uint8_t>& in) {
  std::vector<std::uint8_t> out;
  FilterPackets(in.data(), in.size() / TS_SIZE, tables, filter, &out);
  EXPECT_EQ(out.size() % TS_SIZE, 0u);
  return out;
}

std::map<std::uint16_t, int> PacketsByPid(const std::vector<std::uint8_t>& packets) {
  std::map<std::uint16_t, int> counts;
  for (std::size_t at = 0; at < packets.size(); at += TS_SIZE) {
    ++counts[ts_get_pid(&packets[at])];
  }
  return counts;
}

// Whether every PID's continuity counter steps by one from packet to packet.
bool Continuous(const std::vector<std::uint8_t>& packets) {
  std::map<std::uint16_t, std::uint8_t> last;
  for (std::size_t at = 0; at < packets.size(); at += TS_SIZE) {
    const std::uint8_t* packet = &packets[at];
    const auto found = last.find(ts_get_pid(packet));
    if (found != last.end() && ts_get_cc(packet) != ((found->second + 1) & 0xF)) {
      return false;
    }
    last[ts_get_pid(packet)] = ts_get_cc(packet);
  }
  return true;
}

// The sections of one PID of the output, as whole sections (the filter
// writes each of these in one packet with the section at the start).
std::vector<std::vector<std::uint8_t>> Sections(const std::vector<std::uint8_t>& packets,
                                                std::uint16_t pid = PAT_PID) {
  std::vector<std::vector<std::uint8_t>> sections;
  for (std::size_t at = 0; at < packets.size(); at += TS_SIZE) {
    const std::uint8_t* packet = &packets[at];
    if (ts_get_pid(packet) == pid && ts_get_unitstart(packet)) {
      const std::uint8_t* section = packet + TS_HEADER_SIZE + 1 + packet[TS_HEADER_SIZE];
      sections.emplace_back(section, section + psi_get_length(section) + PSI_HEADER_SIZE);
    }
  }
  return sections;
}

TEST(ServiceFilter, KeepsOneServiceWithAPatOfItsOwn) {
  sim::TransportStreamGenerator generator = LineupGenerator(kPellam);
  PsiReader tables;
  ServiceFilter filter(ChooseService("Pellam Sport Extra"), &tables);
  std::vector<std::uint8_t> out = Filtered(&tables, &filter, NextPackets(&generator, 6000));
  const std::vector<std::uint8_t> more = Filtered(&tables, &filter, NextPackets(&generator, 6000));
  out.insert(out.end(), more.begin(), more.end());

  ASSERT_EQ(filter.state(), ServiceFilter::State::kKeeping);
  Service kept;
  ASSERT_TRUE(filter.service(&kept));
  EXPECT_EQ(kept.program, 3002);
  EXPECT_EQ(kept.name, "Pellam Sport Extra");

  const std::map<std::uint16_t, int> pids = PacketsByPid(out);
  std::set<std::uint16_t> seen;
  for (const auto& entry : pids) {
    seen.insert(entry.first);
  }
  EXPECT_EQ(seen, (std::set<std::uint16_t>{PAT_PID, SDT_PID, 0x1201, 0x1221, 0x1222}));
  // One at once when the SDT, which follows the PAT, names the service, and
  // one for each later repetition of the tables (every 2,500 packets).
  EXPECT_EQ(pids.at(PAT_PID), 5);
  EXPECT_EQ(ts_get_pid(out.data()), PAT_PID);  // the recording starts with its PAT
  EXPECT_TRUE(Continuous(out));

  for (std::vector<std::uint8_t> pat : Sections(out)) {
    std::uint8_t* section = pat.data();
    EXPECT_TRUE(pat_validate(section));
    EXPECT_TRUE(psi_check_crc(section));
    EXPECT_EQ(psi_get_version(section), 0);
    EXPECT_EQ(psi_get_tableidext(section), 2003);  // the transport stream id stays
    ASSERT_NE(pat_get_program(section, 0), nullptr);
    EXPECT_EQ(pat_get_program(section, 1), nullptr);
    EXPECT_EQ(patn_get_program(pat_get_program(section, 0)), 3002);
    EXPECT_EQ(patn_get_pid(pat_get_program(section, 0)), 0x1201);
  }
  // Its SDT names it alone, as the stream's names it.
  ASSERT_FALSE(Sections(out, SDT_PID).empty());
  for (std::vector<std::uint8_t> sdt : Sections(out, SDT_PID)) {
    std::uint8_t* section = sdt.data();
    EXPECT_TRUE(sdt_validate(section) && psi_check_crc(section));
    ASSERT_NE(sdt_get_service(section, 0), nullptr);
    EXPECT_EQ(sdt_get_service(section, 1), nullptr);
    EXPECT_EQ(sdtn_get_sid(sdt_get_service(section, 0)), 3002);
  }
  PsiReader read_back;
  read_back.Add(out.data(), out.size() / TS_SIZE);
  ASSERT_EQ(read_back.services().size(), 1u);
  EXPECT_EQ(read_back.services()[0].name, "Pellam Sport Extra");
}

// EIT present/following sections of `program`, in packets on the EIT's PID.
std::vector<std::uint8_t> EventPackets(std::uint16_t program, std::uint8_t* continuity) {
  std::vector<std::uint8_t> packets;
  for (std::uint8_t number = 0; number < 2; ++number) {
    std::uint8_t section[PSI_MAX_SIZE + PSI_HEADER_SIZE];
    eit_init(section, true);
    eit_set_sid(section, program);
    psi_set_section(section, number);
    psi_set_lastsection(section, 1);
    eit_set_length(section, 0);
    psi_set_crc(section);
    std::uint16_t written = 0;
    std::uint8_t packet[TS_SIZE];
    std::uint8_t filled = 0;
    psi_split_section(packet, &filled, section, &written);
    psi_split_end(packet, &filled);
    ts_set_pid(packet, EIT_PID);
    ts_set_cc(packet, (*continuity)++ & 0xF);
    packets.insert(packets.end(), packet, packet + TS_SIZE);
  }
  return packets;
}

TEST(ServiceFilter, PassesTheEventsOfItsServiceAlone) {
  sim::TransportStreamGenerator generator = LineupGenerator(kPellam);
  PsiReader tables;
  ServiceFilter filter(ChooseService("3001"), &tables);
  std::vector<std::uint8_t> in = NextPackets(&generator, 6000);
  std::uint8_t continuity = 0;
  for (const int program : {3001, 3002, 3001}) {
    const std::vector<std::uint8_t> events =
        EventPackets(static_cast<std::uint16_t>(program), &continuity);
    in.insert(in.end(), events.begin(), events.end());
  }
  const std::vector<std::uint8_t> out = Filtered(&tables, &filter, in);
  const std::vector<std::vector<std::uint8_t>> events = Sections(out, EIT_PID);
  ASSERT_EQ(events.size(), 4u);
  for (const std::vector<std::uint8_t>& event : events) {
    EXPECT_EQ(psi_get_tableidext(event.data()), 3001);
  }
  EXPECT_TRUE(Continuous(out));
}

TEST(ServiceFilter, ChoosesByNumberOrByANameInAnyCase) {
  for (const char* choice : {"3003", "pellam talk"}) {
    sim::TransportStreamGenerator generator = LineupGenerator(kPellam);
    PsiReader tables;
    ServiceFilter filter(ChooseService(choice), &tables);
    const std::map<std::uint16_t, int> pids =
        PacketsByPid(Filtered(&tables, &filter, NextPackets(&generator, 3000)));
    EXPECT_EQ(filter.state(), ServiceFilter::State::kKeeping) << choice;
    // A radio service: its audio carries the PCR.
    EXPECT_EQ(pids.size(), 4u) << choice;  // PAT, SDT, PMT, audio
    EXPECT_EQ(pids.count(0x1232), 1u) << choice;
  }
}

TEST(ServiceFilter, AServiceTheStreamLacksPassesNothing) {
  for (const char* choice : {"9999", "Nobody"}) {
    sim::TransportStreamGenerator generator = LineupGenerator(kPellam);
    PsiReader tables;
    ServiceFilter filter(ChooseService(choice), &tables);
    EXPECT_EQ(filter.state(), ServiceFilter::State::kLearning);
    EXPECT_TRUE(Filtered(&tables, &filter, NextPackets(&generator, 3000)).empty()) << choice;
    EXPECT_EQ(filter.state(), ServiceFilter::State::kNotFound) << choice;
    EXPECT_EQ(filter.tables().services().size(), 4u);  // what it may be chosen from
  }
}

TEST(ServiceFilter, FollowsAPmtThatMovesWithANewPatVersion) {
  sim::MultiplexDescription moved = sim::Lineup()[kPellam].multiplex;
  moved.services[1].pmt_pid = 0x1700;
  moved.services[1].video_pid = 0x1701;
  moved.services[1].audio_pid = 0x1702;
  sim::TransportStreamGenerator before = LineupGenerator(kPellam);
  sim::TransportStreamGenerator after(moved, sim::kDefaultBitsPerSecond);
  PsiReader tables;
  ServiceFilter filter(ChooseService("3002"), &tables);
  Filtered(&tables, &filter, NextPackets(&before, 3000));
  const std::vector<std::uint8_t> out = Filtered(&tables, &filter, NextPackets(&after, 3000));

  const std::map<std::uint16_t, int> pids = PacketsByPid(out);
  EXPECT_EQ(pids.count(0x1221), 0u);
  EXPECT_EQ(pids.count(0x1700), 1u);
  EXPECT_EQ(pids.count(0x1701), 1u);
  const std::vector<std::vector<std::uint8_t>> pats = Sections(out);
  ASSERT_FALSE(pats.empty());
  EXPECT_EQ(psi_get_version(pats.front().data()), 1);
  EXPECT_TRUE(psi_check_crc(pats.front().data()));
  EXPECT_TRUE(Continuous(out));
}

TEST(ServiceFilter, APidListPassesExactlyThosePacketsUnchanged) {
  sim::TransportStreamGenerator generator = LineupGenerator(kPellam);
  const std::vector<std::uint8_t> in = NextPackets(&generator, 3000);
  FilterChoice choice;
  choice.pids = {0x1211, 0x1242};
  PsiReader tables;
  ServiceFilter filter(choice, &tables);
  const std::vector<std::uint8_t> out = Filtered(&tables, &filter, in);

  std::vector<std::uint8_t> expected;
  for (std::size_t at = 0; at < in.size(); at += TS_SIZE) {
    const std::uint16_t pid = ts_get_pid(&in[at]);
    if (pid == 0x1211 || pid == 0x1242) {
      expected.insert(expected.end(), &in[at], &in[at] + TS_SIZE);
    }
  }
  EXPECT_FALSE(expected.empty());
  EXPECT_EQ(out, expected);
}

}  // namespace
