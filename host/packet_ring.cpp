// The packet callback and the ring it fills: see packet_ring.h.
#include "host/packet_ring.h"

namespace host {

using dvb::kTsPacketSize;

namespace {

std::atomic<std::uint64_t> misshaped{0};

template <typename Chunk>
inline std::int32_t Receive(const std::uint8_t* packet, std::int32_t length) {
  if (packet == nullptr || length != static_cast<std::int32_t>(kTsPacketSize)) {
    misshaped.fetch_add(1, std::memory_order_relaxed);
    return 0;
  }
  packet_ring.Push<Chunk>(packet);
  return 0;
}

std::int32_t MV_STDCALL ReceivePacket(const std::uint8_t* packet, std::int32_t length) {
  return Receive<Chunk16>(packet, length);
}

// The same with 32-byte moves for the copy, for a processor that has them.
__attribute__((target("avx2"))) std::int32_t MV_STDCALL
ReceivePacketWide(const std::uint8_t* packet, std::int32_t length) {
  return Receive<Chunk32>(packet, length);
}

}  // namespace

CaptureRing packet_ring;

StreamCallback PacketCallback() {
  return __builtin_cpu_supports("avx2") ? ReceivePacketWide : ReceivePacket;
}

std::uint64_t MisshapedPackets() { return misshaped.load(std::memory_order_relaxed); }

}  // namespace host
