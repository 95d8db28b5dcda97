// Packets from the module's capture thread to the host's writer: a ring of
// whole 188-byte packets with one producer (the packet callback) and one
// consumer (the capture loop). The producer copies a packet in and publishes
// it with one release store; the consumer reads runs of packets in place and
// hands their slots back. Nothing locks and nothing is allocated per packet; a
// packet that finds the ring full is counted as dropped.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "abi/records.h"
#include "dvb/ts_packet.h"

// One packet in six 32-byte moves, the last overlapping the one before: six
// instructions each way where the processor has 32-byte registers, twelve
// where it has 16-byte ones.
inline void CopyPacket(std::uint8_t* to, const std::uint8_t* from) {
  using Chunk = std::uint8_t __attribute__((vector_size(32)));
  Chunk chunks[6];
#pragma GCC unroll 6
  for (std::size_t i = 0; i < 6; ++i) {
    std::memcpy(&chunks[i], from + (i < 5 ? 32 * i : kTsPacketSize - 32), 32);
  }
#pragma GCC unroll 6
  for (std::size_t i = 0; i < 6; ++i) {
    std::memcpy(to + (i < 5 ? 32 * i : kTsPacketSize - 32), &chunks[i], 32);
  }
}

template <std::size_t kCapacity>  // packets, a power of two
class PacketRing {
  static_assert((kCapacity & (kCapacity - 1)) == 0, "the ring's capacity is a power of two");

 public:
  // Producer: copies the packet in, or counts it as dropped when the ring is full.
  bool Push(const std::uint8_t* packet) {
    const std::uint64_t head = head_.load(std::memory_order_relaxed);
    if (head == limit_) {
      limit_ = tail_.load(std::memory_order_acquire) + kCapacity;
      if (head == limit_) {
        dropped_.store(dropped_.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
        return false;
      }
    }
    CopyPacket(&slots_[(head % kCapacity) * kTsPacketSize], packet);
    head_.store(head + 1, std::memory_order_release);
    return true;
  }

  // Consumer: the packets ready in one contiguous run (when the run stops at
  // the ring's end, the rest comes next), theirs until Release.
  struct Run {
    const std::uint8_t* data;
    std::size_t packets;
  };
  Run Readable() const {
    const std::uint64_t tail = tail_.load(std::memory_order_relaxed);
    const std::uint64_t ready = head_.load(std::memory_order_acquire) - tail;
    const std::size_t at = static_cast<std::size_t>(tail % kCapacity);
    return {&slots_[at * kTsPacketSize],
            static_cast<std::size_t>(ready < kCapacity - at ? ready : kCapacity - at)};
  }
  void Release(std::size_t packets) {
    tail_.store(tail_.load(std::memory_order_relaxed) + packets, std::memory_order_release);
  }
  // Consumer: gives back every packet ready now, unread.
  void Discard() { tail_.store(head_.load(std::memory_order_acquire), std::memory_order_release); }

  std::uint64_t pushed() const { return head_.load(std::memory_order_acquire); }
  // Consumer: packets taken so far, in the count pushed() uses.
  std::uint64_t taken() const { return tail_.load(std::memory_order_relaxed); }
  std::uint64_t dropped() const { return dropped_.load(std::memory_order_relaxed); }

 private:
  alignas(64) std::atomic<std::uint64_t> head_{0};  // written by the producer only
  std::uint64_t limit_ = kCapacity;                 // head_ as far as the producer last saw room
  std::atomic<std::uint64_t> dropped_{0};
  alignas(64) std::atomic<std::uint64_t> tail_{0};  // written by the consumer only
  alignas(64) std::uint8_t slots_[kCapacity * kTsPacketSize];
};

// The ring the packet callback fills: about 2.6 s of a 38 Mbit/s transponder.
using CaptureRing = PacketRing<65536>;
extern CaptureRing packet_ring;

// The packet callback to hand to the module: it puts each packet in
// packet_ring, with the widest moves the processor has. Packets that are not
// 188 bytes are counted, not taken.
StreamCallback PacketCallback();
std::uint64_t MisshapedPackets();
