// Whole packets out of payloads and streams: see packets.h.
#include "satipcard/packets.h"

#include <algorithm>
#include <cstring>

namespace satipcard {

namespace {

constexpr std::size_t kPacket = 188;
constexpr std::uint8_t kSync = 0x47;

}  // namespace

void PayloadPackets(const std::uint8_t* payload, std::size_t size, PacketRun run, void* context,
                    std::uint64_t* skipped) {
  const std::size_t whole = size / kPacket;
  *skipped += size % kPacket;
  std::size_t first = 0;  // of the run being gathered
  for (std::size_t i = 0; i < whole; ++i) {
    if (payload[i * kPacket] == kSync) {
      continue;
    }
    if (i > first) {
      run(context, payload + first * kPacket, i - first);
    }
    *skipped += kPacket;
    first = i + 1;
  }
  if (whole > first) {
    run(context, payload + first * kPacket, whole - first);
  }
}

void PacketCutter::Feed(const std::uint8_t* data, std::size_t size, PacketRun run, void* context) {
  while (size > 0) {
    if (held_ == 0) {
      // Out of step: on to the next sync byte.
      const void* sync = std::memchr(data, kSync, size);
      const std::size_t passed =
          sync == nullptr ? size
                          : static_cast<std::size_t>(static_cast<const std::uint8_t*>(sync) - data);
      skipped_ += passed;
      data += passed;
      size -= passed;
      const std::size_t whole = size / kPacket;
      std::size_t good = 0;
      while (good < whole && data[good * kPacket] == kSync) {
        ++good;
      }
      if (good > 0) {
        run(context, data, good);
        data += good * kPacket;
        size -= good * kPacket;
        continue;
      }
    }
    if (size == 0) {
      return;
    }
    const std::size_t part = std::min(size, kPacket - held_);
    std::memcpy(part_ + held_, data, part);
    held_ += part;
    data += part;
    size -= part;
    if (held_ == kPacket) {
      run(context, part_, 1);
      held_ = 0;
    }
  }
}

}  // namespace satipcard
