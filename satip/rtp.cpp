// Writing and reading RTP datagrams.
#include "satip/rtp.h"

#include <algorithm>
#include <cstring>

#include "satip/bytes.h"

namespace satip {

namespace {

constexpr std::uint8_t kVersion = 2;

}  // namespace

void WriteRtpHeader(const RtpHeader& header, std::uint8_t* out) {
  out[0] = kVersion << 6;
  out[1] = static_cast<std::uint8_t>((header.marker ? 0x80 : 0) | (header.payload_type & 0x7F));
  Put16(out + 2, header.sequence);
  Put32(out + 4, header.timestamp);
  Put32(out + 8, header.ssrc);
}

bool ParseRtp(const std::uint8_t* data, std::size_t size, RtpPacket* packet) {
  if (size < kRtpHeaderSize || data[0] >> 6 != kVersion) {
    return false;
  }
  const bool padded = (data[0] & 0x20) != 0;
  const bool extended = (data[0] & 0x10) != 0;
  const std::size_t csrcs = data[0] & 0x0F;
  RtpPacket parsed;
  parsed.header.marker = (data[1] & 0x80) != 0;
  parsed.header.payload_type = data[1] & 0x7F;
  parsed.header.sequence = Get16(data + 2);
  parsed.header.timestamp = Get32(data + 4);
  parsed.header.ssrc = Get32(data + 8);
  if (parsed.header.payload_type >= 72 && parsed.header.payload_type <= 76) {
    return false;
  }
  std::size_t offset = kRtpHeaderSize + 4 * csrcs;
  if (extended) {
    if (offset + 4 > size) {
      return false;
    }
    offset += 4 + 4 * static_cast<std::size_t>(Get16(data + offset + 2));
  }
  if (offset > size) {
    return false;
  }
  std::size_t end = size;
  if (padded) {
    const std::size_t padding = data[size - 1];
    if (padding == 0 || padding > size - offset) {
      return false;
    }
    end -= padding;
  }
  parsed.payload = data + offset;
  parsed.payload_size = end - offset;
  *packet = parsed;
  return true;
}

std::uint32_t RtpTimestamp(std::chrono::microseconds time) {
  // 90 ticks a millisecond; the product wraps as the timestamp does.
  const auto microseconds = static_cast<std::uint64_t>(time.count());
  return static_cast<std::uint32_t>(microseconds / 1000 * 90 + microseconds % 1000 * 90 / 1000);
}

std::size_t RtpPacker::Pack(const std::uint8_t* packets, std::size_t count, std::uint32_t timestamp,
                            std::uint8_t* out) {
  const std::size_t taken = std::min(count, kPacketsPerDatagram);
  if (taken > 0) {
    std::memcpy(out + kRtpHeaderSize, packets, taken * kTsPacket);
  }
  return PackHeader(taken, timestamp, out);
}

std::size_t RtpPacker::PackHeader(std::size_t count, std::uint32_t timestamp, std::uint8_t* out) {
  const std::size_t taken = std::min(count, kPacketsPerDatagram);
  RtpHeader header;
  header.sequence = sequence_++;
  header.timestamp = timestamp;
  header.ssrc = ssrc_;
  WriteRtpHeader(header, out);
  ++datagrams_;
  octets_ += static_cast<std::uint32_t>(taken * kTsPacket);
  return kRtpHeaderSize + taken * kTsPacket;
}

}  // namespace satip
