// Packets from the module's capture thread to the host's writer: a ring of
// whole 188-byte packets with one producer (the packet callback) and one
// consumer (the capture loop). The producer copies a packet in and publishes
// it with one release store; the consumer reads runs of packets in place and
// hands their slots back. Nothing locks and nothing is allocated per packet; a
// packet that finds the ring full is counted as dropped. The consumer may wait
// for packets: the producer wakes it at the packet it asked for, and costs
// nothing else meanwhile (a comparison a packet).
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "abi/records.h"
#include "dvb/ts_packet.h"
#include "host/system.h"

namespace host {

// The registers a packet is copied through.
using Chunk16 = std::uint8_t __attribute__((vector_size(16)));
using Chunk32 = std::uint8_t __attribute__((vector_size(32)));  // in code built for them

// One packet in moves of a Chunk through a register, the last overlapping the
// one before: twelve each way with 16-byte registers, six with 32-byte ones.
template <typename Chunk = Chunk16>
inline void CopyPacket(std::uint8_t* to, const std::uint8_t* from) {
  constexpr std::size_t kChunk = sizeof(Chunk);
  constexpr std::size_t kChunks = (dvb::kTsPacketSize + kChunk - 1) / kChunk;
#pragma GCC unroll 12
  for (std::size_t i = 0; i < kChunks; ++i) {
    const std::size_t at = i + 1 < kChunks ? kChunk * i : dvb::kTsPacketSize - kChunk;
    Chunk chunk;
    std::memcpy(&chunk, from + at, kChunk);
    std::memcpy(to + at, &chunk, kChunk);
  }
}

template <std::size_t kCapacity>  // packets, a power of two
class PacketRing {
  static_assert((kCapacity & (kCapacity - 1)) == 0, "the ring's capacity is a power of two");

 public:
  // Producer: copies the packet in (through Chunk registers), or counts it as
  // dropped when the ring is full.
  template <typename Chunk = Chunk16>
  bool Push(const std::uint8_t* packet) {
    const std::uint64_t head = head_.load(std::memory_order_relaxed);
    if (head == limit_) {
      limit_ = tail_.load(std::memory_order_acquire) + kCapacity;
      if (head == limit_) {
        dropped_.store(dropped_.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
        return false;
      }
    }
    CopyPacket<Chunk>(&slots_[(head % kCapacity) * dvb::kTsPacketSize], packet);
    head_.store(head + 1, std::memory_order_release);
    if (head + 1 == wake_at_.load(std::memory_order_relaxed)) {
      wake_.Wake();
    }
    return true;
  }

  // Consumer: waits until `packets` are ready (at most the ring's capacity),
  // a Wake, or `milliseconds`. A wake-up the two sides cross on is at worst
  // that late.
  void WaitFor(std::size_t packets, unsigned milliseconds) {
    const std::uint64_t due =
        tail_.load(std::memory_order_relaxed) + (packets < kCapacity ? packets : kCapacity);
    wake_at_.store(due, std::memory_order_seq_cst);
    if (head_.load(std::memory_order_seq_cst) < due) {
      wake_.Wait(milliseconds);
    }
    wake_at_.store(0, std::memory_order_relaxed);
  }
  // Any thread: ends the consumer's wait.
  void Wake() { wake_.Wake(); }

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
    return {&slots_[at * dvb::kTsPacketSize],
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
  std::atomic<std::uint64_t> wake_at_{0};           // the head that wakes the consumer; 0 none
  alignas(64) std::atomic<std::uint64_t> tail_{0};  // written by the consumer only
  WakeUp wake_;
  alignas(64) std::uint8_t slots_[kCapacity * dvb::kTsPacketSize];
};

// The ring the packet callback fills: 1.3 s of a 38 Mbit/s transponder, for
// a writer that takes what is there at least every 100 ms, and that a file's
// write may keep a second longer. No larger: its 6.2 MB are touched afresh,
// page by page, in the first lap of every capture.
using CaptureRing = PacketRing<32768>;
extern CaptureRing packet_ring;

// The packet callback to hand to the module: it puts each packet in
// packet_ring, with the widest moves the processor has. Packets that are not
// 188 bytes are counted, not taken.
StreamCallback PacketCallback();
std::uint64_t MisshapedPackets();

}  // namespace host
