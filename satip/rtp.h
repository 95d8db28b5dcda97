// RTP as SAT>IP 1.2.2 carries the transport stream: version 2, payload type
// 33 (MP2T), whole 188-byte packets, at most 7 a datagram so that one fits an
// Ethernet frame, a sequence number and a 90 kHz timestamp.
#pragma once
#include <chrono>
#include <cstddef>
#include <cstdint>

namespace satip {

constexpr std::size_t kRtpHeaderSize = 12;
constexpr std::uint8_t kMp2tPayloadType = 33;
constexpr std::size_t kTsPacket = 188;
constexpr std::size_t kPacketsPerDatagram = 7;
constexpr std::size_t kMaxDatagram = kRtpHeaderSize + kPacketsPerDatagram * kTsPacket;

struct RtpHeader {
  bool marker = false;
  std::uint8_t payload_type = kMp2tPayloadType;
  std::uint16_t sequence = 0;
  std::uint32_t timestamp = 0;  // 90 kHz
  std::uint32_t ssrc = 0;
};

// The fixed 12-byte header, no CSRCs, no extension, no padding.
void WriteRtpHeader(const RtpHeader& header, std::uint8_t* out);

struct RtpPacket {
  RtpHeader header;
  const std::uint8_t* payload = nullptr;  // into the datagram
  std::size_t payload_size = 0;
};

// A datagram read as RTP: its CSRCs and header extension passed over, its
// padding taken off. False for what is not RTP: too short, not version 2,
// CSRCs, extension or padding beyond its end, or a payload type in RTCP's
// range (72..76, as RTCP's 200..204 read with the marker bit).
bool ParseRtp(const std::uint8_t* data, std::size_t size, RtpPacket* packet);

// 90 kHz ticks of a time since any fixed start, as the timestamp wraps.
std::uint32_t RtpTimestamp(std::chrono::microseconds time);

// Datagrams of one stream: each of its packets numbered in turn, with counts
// for the RTCP sender report.
class RtpPacker {
 public:
  RtpPacker(std::uint32_t ssrc, std::uint16_t first_sequence)
      : ssrc_(ssrc), sequence_(first_sequence) {}

  // One datagram into `out` (kMaxDatagram bytes) of the first
  // min(count, kPacketsPerDatagram) of `packets` (whole 188-byte packets; none
  // makes the empty datagram sent while there is no data); returns its size.
  std::size_t Pack(const std::uint8_t* packets, std::size_t count, std::uint32_t timestamp,
                   std::uint8_t* out);
  // The same for a datagram whose `count` packets (at most
  // kPacketsPerDatagram) the caller has put after the header already: writes
  // the header into `out` and counts the datagram; returns its size.
  std::size_t PackHeader(std::size_t count, std::uint32_t timestamp, std::uint8_t* out);

  std::uint32_t ssrc() const { return ssrc_; }
  std::uint16_t next_sequence() const { return sequence_; }
  std::uint32_t datagrams() const { return datagrams_; }
  std::uint32_t payload_octets() const { return octets_; }

 private:
  std::uint32_t ssrc_;
  std::uint16_t sequence_;
  std::uint32_t datagrams_ = 0;
  std::uint32_t octets_ = 0;
};

}  // namespace satip
