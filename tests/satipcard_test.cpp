// The SAT>IP card library's parts that touch no network: the settings, the
// channel words and DiSEqC as a query, the signal scales, the datagrams put
// back in order, whole packets, and the ring.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "satip/query.h"
#include "satipcard/channel.h"
#include "satipcard/diseqc.h"
#include "satipcard/packets.h"
#include "satipcard/ring.h"
#include "satipcard/sequence.h"
#include "satipcard/settings.h"
#include "satipcard/signal.h"

namespace {

using satipcard::Sequencer;
using satipcard::Settings;

TEST(SatipCardSettings, ServerAddressesAndTheFile) {
  satipcard::Server server;
  std::string error;
  ASSERT_TRUE(satipcard::ParseServer("192.168.1.5", &server, &error));
  EXPECT_EQ(satipcard::ServerText(server), "192.168.1.5:554");
  ASSERT_TRUE(satipcard::ParseServer("[::1]:8554", &server, &error));
  EXPECT_EQ(server.host, "::1");
  EXPECT_EQ(satipcard::ServerText(server), "[::1]:8554");
  ASSERT_TRUE(satipcard::ParseServer("fe80::1", &server, &error));
  EXPECT_EQ(server.port, 554);
  for (const char* bad : {"", "host:", "host:0", "host:65536", "[::1", "[::1]x", "a b"}) {
    EXPECT_FALSE(satipcard::ParseServer(bad, &server, &error)) << bad;
  }

  Settings settings;
  ASSERT_TRUE(
      satipcard::ParseSettings("[satip]\r\n# comment\nServer = tuner.lan:8554 ; the box\n"
                               "transport=TCP\nmsys = dvbs2\ncircular = yes\n\n",
                               &settings, &error))
      << error;
  ASSERT_TRUE(settings.server.has_value());
  EXPECT_EQ(satipcard::ServerText(*settings.server), "tuner.lan:8554");
  EXPECT_EQ(settings.transport, satipcard::Transport::kTcp);
  EXPECT_EQ(settings.system, satipcard::SystemPolicy::kDvbS2);
  EXPECT_TRUE(settings.circular);
  ASSERT_TRUE(satipcard::ParseSettings("server =\n", &settings, &error));
  EXPECT_FALSE(settings.server.has_value()) << "empty: SSDP finds one";
  EXPECT_FALSE(satipcard::ParseSettings("transport = udp\ntransprot = tcp\n", &settings, &error));
  EXPECT_EQ(error.rfind("line 2: ", 0), 0U) << error;
  EXPECT_FALSE(satipcard::ParseSettings("msys = dvbt\n", &settings, &error));
}

std::string QueryOf(const std::uint32_t (&word)[8], int src, const Settings& settings) {
  satip::Tuning tuning;
  std::string error;
  if (!satipcard::TuningFromChannel(word, src, settings, &tuning, &error)) {
    return "refused: " + error;
  }
  return satip::FormatQuery(satip::TuningQuery(tuning));
}

TEST(SatipCardChannel, TheWordsAsAQuery) {
  Settings settings;
  // 11778.125 MHz on the dish, 27500 kSym/s, universal LNB high band, 13 V, FEC 3/4.
  const std::uint32_t v34[8] = {11778125, 1, 27499999, 10600000, 1, 13, 3, 0};
  EXPECT_EQ(QueryOf(v34, 2, settings), "src=2&freq=11778.125&pol=v&msys=dvbs&sr=27500&fec=34");
  const std::uint32_t h67[8] = {10773000, 2, 22000000, 9750000, 0, 18, 6, 1};
  EXPECT_EQ(QueryOf(h67, 1, settings), "src=1&freq=10773&pol=h&msys=dvbs&sr=22000")
      << "6/7 has no SAT>IP name: the server finds the FEC";
  settings.circular = true;
  settings.system = satipcard::SystemPolicy::kDvbS2;
  EXPECT_EQ(QueryOf(h67, 1, settings), "src=1&freq=10773&pol=l&msys=dvbs2&sr=22000");
  EXPECT_EQ(QueryOf(v34, 1, settings).substr(0, 30), "src=1&freq=11778.125&pol=r&msy");
  for (const auto& bad : {std::vector<std::uint32_t>{0, 1, 27500000, 0, 0, 13, 3, 0},
                          {11778000, 1, 400, 0, 0, 13, 3, 0},
                          {11778000, 3, 27500000, 0, 0, 13, 3, 0},
                          {11778000, 1, 27500000, 0, 0, 13, 9, 0},
                          {11778000, 1, 27500000, 0, 0, 0, 3, 0}}) {
    std::uint32_t word[8];
    std::copy(bad.begin(), bad.end(), word);
    EXPECT_EQ(QueryOf(word, 1, settings).rfind("refused: ", 0), 0U) << bad[0] << " " << bad[6];
  }
}

TEST(SatipCardDiseqc, SwitchesAndBurstsBecomeSrcEverythingElseFails) {
  using Kind = satipcard::SwitchChoice::Kind;
  const auto choose = [](std::vector<std::uint8_t> message, std::uint8_t burst = 0xFF) {
    return satipcard::SwitchFromDiseqc(message.data(), static_cast<std::uint8_t>(message.size()),
                                       burst);
  };
  // Position (bit 2) and option (bit 3); the band and polarisation bits are the tune's.
  EXPECT_EQ(choose({0xE0, 0x10, 0x38, 0xF3}).src, 1);
  EXPECT_EQ(choose({0xE0, 0x10, 0x38, 0xF4}).src, 2);
  EXPECT_EQ(choose({0xE1, 0x10, 0x38, 0xF8}).src, 3);
  EXPECT_EQ(choose({0xE0, 0x14, 0x38, 0xFE}).src, 4);
  EXPECT_EQ(choose({0xE0, 0x10, 0x38, 0xFC}).kind, Kind::kSource);
  EXPECT_EQ(choose({}, 0).src, 1);
  EXPECT_EQ(choose({}, 1).src, 2);
  EXPECT_EQ(choose({}).kind, Kind::kNothing);
  for (const auto& cannot : {std::vector<std::uint8_t>{0xE0, 0x31, 0x6B, 0x01},  // positioner
                             {0xE0, 0x10, 0x39, 0xF0},  // uncommitted switch
                             {0xE0, 0x10, 0x38, 0x04},  // a partial write
                             {0xE0, 0x10, 0x38, 0xF0, 0x00}}) {
    EXPECT_EQ(choose(cannot).kind, Kind::kCannot);
  }
  EXPECT_EQ(choose({0xE0, 0x10, 0x38, 0xF0}, 1).kind, Kind::kCannot) << "a switch behind a switch";
  EXPECT_EQ(choose({}, 2).kind, Kind::kCannot);
}

// The module's vendor-mode grade of the bit-error rate, plus 20.
int ModuleQuality(double ber) {
  return ber < 1e-4 ? 100 : ber < 1e-3 ? 80 : ber < 1e-2 ? 60 : ber < 0.1 ? 40 : 20;
}

TEST(SatipCardSignal, LevelAndQualityScales) {
  EXPECT_EQ(satipcard::LevelByte(0), 0);
  EXPECT_EQ(satipcard::LevelByte(128), 50);
  EXPECT_EQ(satipcard::LevelByte(224), 88);
  EXPECT_EQ(satipcard::LevelByte(255), 100);
  EXPECT_EQ(satipcard::LevelByte(999), 100);
  for (int q = 0; q <= 15; ++q) {
    EXPECT_EQ(ModuleQuality(satipcard::BitErrorRate(q)), std::min(100, 20 + 20 * (q / 3))) << q;
  }
}

// Sequence numbers in, the sequence numbers handed on out (each payload is its number).
struct Order {
  std::vector<std::uint16_t> out;
  Sequencer sequencer{[](void* self, const std::uint8_t* payload, std::size_t) {
                        std::uint16_t n = 0;
                        std::memcpy(&n, payload, sizeof n);
                        static_cast<Order*>(self)->out.push_back(n);
                      },
                      this};
  Sequencer::Time now;
  void Take(std::initializer_list<int> numbers) {
    for (const int number : numbers) {
      const auto n = static_cast<std::uint16_t>(number);
      now += std::chrono::milliseconds(1);
      sequencer.Take(n, reinterpret_cast<const std::uint8_t*>(&n), sizeof n, now);
    }
  }
};

TEST(SatipCardSequence, ReorderedPutBackLostCountedLateDropped) {
  Order order;
  order.Take({65534, 65535, 1, 0, 2});  // across the wrap, 0 after 1
  EXPECT_EQ(order.out, (std::vector<std::uint16_t>{65534, 65535, 0, 1, 2}));
  EXPECT_EQ(order.sequencer.counts().reordered, 1U);
  order.Take({4, 5});  // 3 missing: 4 and 5 wait for it
  EXPECT_TRUE(order.sequencer.holding());
  const Sequencer::Time four = order.sequencer.OldestHeld();
  order.sequencer.GiveUp(four - std::chrono::milliseconds(1));  // 4 has not waited long enough
  EXPECT_EQ(order.out.back(), 2);
  order.sequencer.GiveUp(four);  // now it has: 3 given up
  EXPECT_EQ(order.out.back(), 5);
  order.Take({3, 5, 6});  // 3 too late, 5 a second time
  const Sequencer::Counts& counts = order.sequencer.counts();
  EXPECT_EQ(counts.missing, 1U);
  EXPECT_EQ(counts.late, 2U);
  EXPECT_EQ(order.out, (std::vector<std::uint16_t>{65534, 65535, 0, 1, 2, 4, 5, 6}));
  // A loss that the window overtakes is given up without Flush.
  order.Take({8});
  for (int n = 9; n < 9 + static_cast<int>(Sequencer::kWindow); ++n) {
    order.Take({n});
  }
  EXPECT_EQ(counts.missing, 2U);
  EXPECT_EQ(order.out.size(), 8 + 1 + Sequencer::kWindow);
  // A server that numbers afresh: a new run, nothing counted for the jump.
  order.Take({30000, 30001});
  EXPECT_EQ(counts.missing, 2U);
  EXPECT_EQ(order.out.back(), 30001);
  EXPECT_EQ(counts.datagrams, 5 + 2 + 3 + 1 + Sequencer::kWindow + 2);
}

std::vector<std::uint8_t> Packets(std::size_t count, std::uint8_t first) {
  std::vector<std::uint8_t> bytes(count * 188, 0);
  for (std::size_t i = 0; i < count; ++i) {
    bytes[i * 188] = 0x47;
    bytes[i * 188 + 1] = static_cast<std::uint8_t>(first + i);
  }
  return bytes;
}

TEST(SatipCardPackets, WholePacketsFromPayloadsAndStreams) {
  std::vector<std::uint8_t> seen;  // the second byte of each packet handed on
  const satipcard::PacketRun gather = [](void* self, const std::uint8_t* packets,
                                         std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
      static_cast<std::vector<std::uint8_t>*>(self)->push_back(packets[i * 188 + 1]);
    }
  };
  std::vector<std::uint8_t> payload = Packets(4, 1);
  payload[std::size_t{2} * 188] = 0x00;      // the third has lost its sync byte
  payload.resize(std::size_t{4} * 188 + 5);  // and 5 bytes trail
  std::uint64_t skipped = 0;
  satipcard::PayloadPackets(payload.data(), payload.size(), gather, &seen, &skipped);
  EXPECT_EQ(seen, (std::vector<std::uint8_t>{1, 2, 4}));
  EXPECT_EQ(skipped, 188U + 5);

  seen.clear();
  std::vector<std::uint8_t> stream = {1, 2, 3};  // out of step at the start
  const std::vector<std::uint8_t> packets = Packets(3, 10);
  stream.insert(stream.end(), packets.begin(), packets.end());
  satipcard::PacketCutter cutter;
  cutter.Feed(stream.data(), 100, gather, &seen);  // a packet split between reads
  cutter.Feed(stream.data() + 100, stream.size() - 100, gather, &seen);
  EXPECT_EQ(seen, (std::vector<std::uint8_t>{10, 11, 12}));
  EXPECT_EQ(cutter.skipped(), 3U);
}

TEST(SatipCardRing, NothingWhileOffNothingFromBeforeFullCounted) {
  auto ring = std::make_unique<satipcard::PacketRing<4>>();
  std::vector<std::uint8_t> out(std::size_t{10} * 188);
  ring->Put(Packets(2, 1).data(), 2);  // recording off: not taken
  ring->SetRecording(true);
  EXPECT_EQ(ring->Take(out.data(), out.size()), 0U);
  ring->Put(Packets(6, 1).data(), 6);  // room for 4
  EXPECT_EQ(ring->dropped(), 2U);
  EXPECT_EQ(ring->Take(out.data(), 3 * 188 + 100), 3 * 188U) << "whole packets only";
  EXPECT_EQ(out[1], 1);
  ring->Put(Packets(2, 7).data(), 2);
  ring->SetRecording(false);
  ring->SetRecording(true);  // a tune: what came before is passed over
  ring->Put(Packets(1, 9).data(), 1);
  EXPECT_EQ(ring->Take(out.data(), out.size()), 188U);
  EXPECT_EQ(out[1], 9);
}

}  // namespace
