// A recorded transport stream as a transponder's stream: the file is checked
// and indexed once, then played packet by packet, looped without a seam.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sim/generator.h"
#include "sim/packet_file.h"

namespace sim {

constexpr std::uint64_t kTicksPerSecond = 27000000;  // the PCR's clock

// The stream time of `bits` at `bits_per_second`, in 27 MHz ticks.
std::uint64_t TicksOf(std::uint64_t bits, std::uint32_t bits_per_second);

// When a packet of a recording is due: its number in the pass, and ticks from
// the pass's start.
struct TimeMark {
  std::uint64_t packet;
  std::uint64_t ticks;
};

// What checking a recording found: how many whole packets it holds, what
// its clock gives when they are due, and what the loop must carry on. Its size
// does not grow with the recording's: the marks its PCRs make are read from
// the file again as it plays.
struct Recording {
  // A PID's continuity counter just before its first packet and at its last.
  struct Continuity {
    bool seen = false;
    std::uint8_t before = 0;
    std::uint8_t last = 0;
  };

  std::string path;
  std::size_t packet_size = kPacketSize;  // in the file: 188, or 204 (trimmed to 188)
  std::uint64_t packets = 0;              // whole packets
  std::uint64_t left_out_bytes = 0;       // a truncated last packet
  // When packets are due, from the PCRs of `pcr_pid`, the first PID that
  // carries one: packet 0 at tick 0, a mark per PCR (the first at `lead`, its
  // packets at the rate of the first stretch), and a last mark at `packets`,
  // one packet past the end, at `end_ticks`. A `pcr_pid` of -1 when there are
  // fewer than two PCRs: the recording then plays at the card's rate.
  int pcr_pid = -1;
  std::uint64_t lead = 0;
  std::uint64_t end_ticks = 0;
  // Just past the longest span of an elementary stream's timestamps: its last
  // PTS (DTS where given) less its first, and one 90 kHz period; in ticks.
  std::uint64_t timestamp_span = 0;
  std::vector<Continuity> continuity;  // by PID

  // What one pass lasts, and so what each loop adds to PCR (and, in 90 kHz
  // units, to PTS and DTS): the last mark's tick, or the packets at
  // `bits_per_second` (the default rate when 0) without one; stretched to
  // `timestamp_span` where that is longer, so that no timestamp goes back
  // across the loop; a whole number of 90 kHz periods.
  std::uint64_t Duration(std::uint32_t bits_per_second) const;
  // The recording's own rate, bit/s, over one pass.
  std::uint64_t BitsPerSecond(std::uint32_t bits_per_second) const;
};

// Reads the file at `path` through and checks that it is a transport stream:
// 188- or 204-byte packets, each with its sync byte; a truncated last packet
// is left out. Null, and *error says why, when it cannot be played.
std::shared_ptr<const Recording> CheckRecording(const std::string& path, std::string* error);

// Plays a recording from its first packet, endlessly: whole 188-byte packets
// in the file's order; from the second pass on, every PID's continuity counter
// goes on from where the pass before left it, and PCR, PTS and DTS are moved
// on by one Duration per pass. The packets are due as the recording's PCRs
// say, read a little ahead of them from a second reading of the file.
class Replay {
 public:
  Replay(std::shared_ptr<const Recording> recording, std::uint32_t bits_per_second);
  ~Replay();
  Replay(const Replay&) = delete;
  Replay& operator=(const Replay&) = delete;

  // False when the file could not be opened again to play it.
  bool Playing() const { return file_.IsOpen(); }
  // When the next packet is due, in ticks from the start of the first pass.
  std::uint64_t NextDue() const;
  // Writes the next packet and moves on. A packet the file no longer holds
  // (it shrank while playing) comes as a null packet.
  void Next(std::uint8_t* packet);

 private:
  class Timeline;  // the recording's marks, one after another

  void StartPass();
  void CarryOn(std::uint8_t* packet) const;

  std::shared_ptr<const Recording> recording_;
  std::uint32_t bits_per_second_;
  std::uint64_t duration_;
  PacketFile file_;
  std::unique_ptr<Timeline> timeline_;  // null: no marks, the card's rate
  std::uint64_t pass_ = 0;
  std::uint64_t index_ = 0;  // the next packet of the pass
  TimeMark from_{0, 0};      // the marks on either side of index_
  TimeMark to_{0, 0};
  std::vector<std::uint8_t> continuity_offset_;  // by PID, this pass
};

// A null packet (PID 0x1FFF), as stuffing fills a transponder.
void NullPacket(std::uint8_t* packet);

}  // namespace sim
