// RTP datagrams of one stream back in the order of their sequence numbers.
// Datagrams that come after a later one (reordered on the way) are put back
// in their place; a datagram that does not come within a window of later ones,
// or before the ones after it have waited long enough (GiveUp), is given up
// and counted as missing, and one that comes after its place was given up is
// late: dropped, since handing it on would put packets out of order. Nothing
// is made up and nothing is hidden: every datagram is handed on once, in
// order, or counted. Pure: the time comes in as an argument.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace satipcard {

class Sequencer {
 public:
  // Datagrams held at most while one before them is missing: 67 ms at
  // 80 Mbit/s, longer at lower rates (the owner's Flush bounds the wait).
  static constexpr std::size_t kWindow = 512;
  // The largest payload that can be held: 7 transport-stream packets, as
  // SAT>IP servers send over UDP. A larger one (over TCP, where nothing is
  // reordered) that would have to wait gives up the missing ones before it.
  static constexpr std::size_t kSlotBytes = std::size_t{7} * 188;
  // A jump of the sequence number this far, either way, begins a new run
  // (the server numbers afresh): nothing is counted for it.
  static constexpr int kNewRunDistance = 4096;

  struct Counts {
    std::uint64_t datagrams = 0;  // taken, in or out of order
    std::uint64_t missing = 0;    // given up: never came in time
    std::uint64_t reordered = 0;  // came after a later one, put back in order
    std::uint64_t late = 0;       // came after its place was given up, or twice: dropped
  };

  using Time = std::chrono::steady_clock::time_point;
  using Deliver = void (*)(void* context, const std::uint8_t* payload, std::size_t size);
  Sequencer(Deliver deliver, void* context);

  // One datagram's sequence number and payload, as it arrived at `now`; hands
  // on every datagram that can go on now, in order.
  void Take(std::uint16_t sequence, const std::uint8_t* payload, std::size_t size, Time now);
  // Gives up the datagrams missing before held ones that arrived at `arrived`
  // or before, and hands those on.
  void GiveUp(Time arrived);
  // When the first datagram held arrived (the one the oldest gap waits before).
  Time OldestHeld() const;
  // Gives up every datagram still missing before the ones held, and hands
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
    Time arrived;
  };

  std::uint8_t* SlotBytes(std::size_t slot) { return &bytes_[slot * kSlotBytes]; }
  // Hands on or gives up everything before `sequence`, then what follows in order.
  void AdvanceTo(std::uint16_t sequence);
  void DeliverReady();
  // The first held datagram; nullptr when none is.
  const Slot* FirstHeld() const;

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
