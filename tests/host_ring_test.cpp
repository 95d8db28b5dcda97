// The packet ring between the capture thread and the writer: every packet
// comes out whole, once and in order, also across the ring's end, and a full
// ring drops (and counts) what it cannot take instead of waiting.
#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <thread>

#include "host/packet_ring.h"

using namespace host;

namespace {

using Packet = std::array<std::uint8_t, dvb::kTsPacketSize>;

Packet Numbered(std::uint32_t number) {
  Packet packet{};
  packet[0] = 0x47;
  for (std::size_t i = 1; i < dvb::kTsPacketSize; ++i) {
    packet[i] = static_cast<std::uint8_t>(std::size_t{number} * 31 + i);
  }
  return packet;
}

// Takes every packet ready, checking each is the next number due.
template <std::size_t kCapacity>
void TakeAll(PacketRing<kCapacity>* ring, std::uint32_t* next) {
  for (auto run = ring->Readable(); run.packets > 0; run = ring->Readable()) {
    for (std::size_t i = 0; i < run.packets; ++i) {
      const Packet expected = Numbered((*next)++);
      ASSERT_EQ(std::memcmp(run.data + i * dvb::kTsPacketSize, expected.data(), dvb::kTsPacketSize),
                0)
          << "packet " << *next - 1;
    }
    ring->Release(run.packets);
  }
}

TEST(PacketRing, HandsOutPacketsInOrderAcrossItsEndAndDropsWhenFull) {
  PacketRing<8> ring;
  std::uint32_t pushed = 0;
  std::uint32_t next = 0;
  for (int round = 0; round < 5; ++round) {  // 5 x 5 packets wrap the 8 slots three times
    for (int i = 0; i < 5; ++i) {
      ASSERT_TRUE(ring.Push(Numbered(pushed++).data()));
    }
    TakeAll(&ring, &next);
  }
  EXPECT_EQ(next, 25u);
  for (int i = 0; i < 8; ++i) {
    ASSERT_TRUE(ring.Push(Numbered(pushed++).data()));
  }
  EXPECT_FALSE(ring.Push(Numbered(999).data()));
  EXPECT_EQ(ring.dropped(), 1u);
  TakeAll(&ring, &next);
  EXPECT_EQ(next, 33u);
  EXPECT_EQ(ring.pushed(), 33u);

  ASSERT_TRUE(ring.Push(Numbered(0).data()));
  ring.Discard();
  EXPECT_EQ(ring.Readable().packets, 0u);
}

// The two threads of a capture, the producer never waiting on the consumer:
// what it could not put in the ring is dropped, everything else arrives.
TEST(PacketRing, OneProducerAndOneConsumerOnTheirOwnThreads) {
  constexpr std::uint32_t kPackets = 200000;
  const auto ring = std::make_unique<PacketRing<1024>>();
  std::thread producer([&ring] {
    for (std::uint32_t number = 0; number < kPackets;) {
      if (ring->Push(Numbered(number).data())) {
        ++number;
      } else {
        std::this_thread::yield();  // a real card's packet would be dropped; this one is retried
      }
    }
  });
  std::uint32_t next = 0;
  while (next < kPackets && !testing::Test::HasFatalFailure()) {
    TakeAll(ring.get(), &next);
  }
  producer.join();
  EXPECT_EQ(next, kPackets);
  EXPECT_EQ(ring->pushed(), kPackets);
}

}  // namespace
