// Whole 188-byte packets out of what the server sends: an RTP datagram's
// payload, or the byte stream of an HTTP answer, in which a packet may be
// split between reads. Bytes that are no packet (a payload that is not whole
// packets, a packet without its sync byte, a stream out of step until the
// next sync byte) are passed over and counted, never handed on. Pure.
#pragma once

#include <cstddef>
#include <cstdint>

namespace satipcard {

// Runs of whole packets, each run at most `count` packets long.
using PacketRun = void (*)(void* context, const std::uint8_t* packets, std::size_t count);

// The packets of one payload, in runs; what is no packet adds to *skipped.
void PayloadPackets(const std::uint8_t* payload, std::size_t size, PacketRun run, void* context,
                    std::uint64_t* skipped);

// Packets out of a byte stream, over as many reads as it takes.
class PacketCutter {
 public:
  void Feed(const std::uint8_t* data, std::size_t size, PacketRun run, void* context);
  // Begins again (a new stream).
  void Reset() { held_ = 0; }
  std::uint64_t skipped() const { return skipped_; }

 private:
  std::uint8_t part_[188] = {};  // the start of a packet the last read ended in
  std::size_t held_ = 0;
  std::uint64_t skipped_ = 0;
};

}  // namespace satipcard
