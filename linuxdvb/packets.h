// Whole 188-byte packets out of the stream reads. A read may end inside a
// packet (the part is kept for the next read, never handed on), and a stream
// that does not start on a packet is taken up at the next packet start: a
// sync byte with another one a packet further on.
// Nothing is made up: bytes are only held back or skipped.
#pragma once

#include <cstddef>
#include <cstdint>

namespace linuxdvb {

constexpr std::size_t kPacketSize = 188;
constexpr std::uint8_t kSyncByte = 0x47;

// The start of a packet that the previous read ended in.
struct PacketTail {
  std::uint8_t bytes[kPacketSize] = {};
  std::size_t size = 0;
};

// `buffer` holds `length` bytes: the tail left by the previous read, then
// this read's bytes. Moves the whole packets to the buffer's start and
// returns their byte count; keeps what follows them in `tail`; adds skipped
// bytes (no packet start) to `skipped`.
std::size_t WholePackets(std::uint8_t* buffer, std::size_t length, PacketTail* tail,
                         std::uint64_t* skipped);

}  // namespace linuxdvb
