// The packets between the receiver thread and the module's capture thread: a
// bounded ring of whole 188-byte packets with one producer (the receiver,
// from the RTP datagrams) and one consumer (TSRecordRead, which copies what
// there is and never waits). A packet that finds the ring full is dropped
// and counted. Recording is switched on the host's thread: while it is off
// the receiver puts nothing in, and when it goes on again the consumer passes
// over whatever was there before, so that a read never hands on packets of
// the transponder before a tune. Nothing locks and nothing is allocated per
// packet.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

namespace satipcard {

constexpr std::size_t kPacketSize = 188;

template <std::size_t kCapacity>  // packets, a power of two
class PacketRing {
  static_assert((kCapacity & (kCapacity - 1)) == 0, "the ring's capacity is a power of two");

 public:
  // The memory is the system's to provide page by page as packets first reach it.
  PacketRing() : slots_(new std::uint8_t[kCapacity * kPacketSize]) {}

  // Host's thread.
  void SetRecording(bool on) {
    if (on) {
      start_.store(head_.load(std::memory_order_acquire), std::memory_order_release);
    }
    recording_.store(on, std::memory_order_release);
  }
  bool recording() const { return recording_.load(std::memory_order_acquire); }

  // Producer: the `count` packets at `packets`, as many as there is room for;
  // the rest are counted as dropped. Nothing while recording is off.
  void Put(const std::uint8_t* packets, std::size_t count) {
    if (!recording()) {
      return;
    }
    const std::uint64_t head = head_.load(std::memory_order_relaxed);
    const std::uint64_t room = kCapacity - (head - tail_.load(std::memory_order_acquire));
    const std::size_t taken = static_cast<std::size_t>(std::min<std::uint64_t>(count, room));
    for (std::size_t done = 0; done < taken;) {
      const std::size_t at = static_cast<std::size_t>((head + done) % kCapacity);
      const std::size_t run = std::min(taken - done, kCapacity - at);
      std::memcpy(&slots_[at * kPacketSize], packets + done * kPacketSize, run * kPacketSize);
      done += run;
    }
    head_.store(head + taken, std::memory_order_release);
    if (taken < count) {
      dropped_.fetch_add(count - taken, std::memory_order_relaxed);
    }
  }

  // Consumer: whole packets, up to `capacity` bytes, into `buffer`; their bytes.
  std::size_t Take(std::uint8_t* buffer, std::size_t capacity) {
    std::uint64_t tail =
        std::max(tail_.load(std::memory_order_relaxed), start_.load(std::memory_order_acquire));
    if (!recording()) {
      tail = head_.load(std::memory_order_acquire);  // nothing is handed on while off
    }
    const std::uint64_t ready = head_.load(std::memory_order_acquire) - tail;
    const std::size_t wanted =
        static_cast<std::size_t>(std::min<std::uint64_t>(ready, capacity / kPacketSize));
    for (std::size_t done = 0; done < wanted;) {
      const std::size_t at = static_cast<std::size_t>((tail + done) % kCapacity);
      const std::size_t run = std::min(wanted - done, kCapacity - at);
      std::memcpy(buffer + done * kPacketSize, &slots_[at * kPacketSize], run * kPacketSize);
      done += run;
    }
    tail_.store(tail + wanted, std::memory_order_release);
    return wanted * kPacketSize;
  }

  std::uint64_t dropped() const { return dropped_.load(std::memory_order_relaxed); }

 private:
  alignas(64) std::atomic<std::uint64_t> head_{0};  // written by the producer only
  std::atomic<std::uint64_t> dropped_{0};
  alignas(64) std::atomic<std::uint64_t> tail_{0};   // written by the consumer only
  alignas(64) std::atomic<std::uint64_t> start_{0};  // where recording last went on
  std::atomic<bool> recording_{false};
  std::unique_ptr<std::uint8_t[]> slots_;
};

}  // namespace satipcard
