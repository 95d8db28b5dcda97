// Whole packets: see packets.h.
#include "linuxdvb/packets.h"

#include <cstring>

namespace linuxdvb {
namespace {

// A sync byte starts a packet when the next packet starts after it too, or
// when the buffer ends before that could be seen.
std::size_t FirstPacketStart(const std::uint8_t* buffer, std::size_t length) {
  for (std::size_t at = 0; at < length; ++at) {
    if (buffer[at] == kSyncByte &&
        (at + kPacketSize >= length || buffer[at + kPacketSize] == kSyncByte)) {
      return at;
    }
  }
  return length;
}

}  // namespace

std::size_t WholePackets(std::uint8_t* buffer, std::size_t length, PacketTail* tail,
                         std::uint64_t* skipped) {
  const std::size_t start = FirstPacketStart(buffer, length);
  if (start != 0) {
    *skipped += start;
    length -= start;
    std::memmove(buffer, buffer + start, length);
  }
  const std::size_t whole = length - length % kPacketSize;
  tail->size = length - whole;
  std::memcpy(tail->bytes, buffer + whole, tail->size);
  return whole;
}

}  // namespace linuxdvb
