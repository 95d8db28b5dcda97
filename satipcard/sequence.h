// RTP datagrams of one stream back in the order of their sequence numbers.
// Datagrams that come after a later one (reordered on the way) are put back
// in their place; a datagram that does not come within a window of later ones
// (or by Flush) is given up and counted as missing, and one that comes after
// its place was given up is late: dropped, since handing it on would put
// packets out of order. Nothing is made up and nothing is hidden: every
// datagram is handed on once, in order, or counted. Pure: no clock (the
// owner calls Flush when held datagrams have waited long enough).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace satipcard {

class Sequencer {
 public:
  // Datagrams held at most while one before them is missing.
  static constexpr std::size_t kWindow = 64;
  // The largest payload that can be held: 16 transport-stream packets (SAT>IP
  // servers send 7). A larger one that would have to wait gives up the
  // missing ones before it.
  static constexpr std::size_t kSlotBytes = 16 * 188;
  // A jump of the sequence number this far, either way, begins a new run
  // (the server numbers afresh): nothing is counted for it.
  static constexpr int kNewRunDistance = 4096;

  struct Counts {
    std::uint64_t datagrams = 0;  // taken, in or out of order
    std::uint64_t missing = 0;    // given up: never came in time
    std::uint64_t reordered = 0;  // came after a later one, put back in order
    std::uint64_t late = 0;       // came after its place was given up, or twice: dropped
  };

  using Deliver = void (*)(void* context, const std::uint8_t* payload, std::size_t size);
  Sequencer(Deliver deliver, void* context);

  // One datagram's sequence number and payload; hands on every datagram that
  // can go on now, in order.
  void Take(std::uint16_t sequence, const std::uint8_t* payload, std::size_t size);
  // Gives up the datagrams still missing before the ones held, and hands
  // those on.
  void Flush();
  // Flushes; the next datagram begins a new run (a new session or source).
  void Restart();

  bool holding() const { return held_ > 0; }
  const Counts& counts() const { return counts_; }

 private:
  struct Slot {
    bool full = false;
    std::uint16_t sequence = 0;
    std::size_t size = 0;
  };

  std::uint8_t* SlotBytes(std::size_t slot) { return &bytes_[slot * kSlotBytes]; }
  // Hands on or gives up everything before `sequence`, then what follows in order.
  void AdvanceTo(std::uint16_t sequence);
  void DeliverReady();

  Deliver deliver_;
  void* context_;
  bool started_ = false;
  std::uint16_t expected_ = 0;  // the next to hand on
  std::uint16_t highest_ = 0;   // the latest taken
  std::size_t held_ = 0;
  std::vector<Slot> slots_;
  std::vector<std::uint8_t> bytes_;
  Counts counts_;
};

}  // namespace satipcard
