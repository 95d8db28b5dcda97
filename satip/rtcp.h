// RTCP as a SAT>IP 1.2.2 server sends it about every 200 ms, one compound
// packet: a sender report, an SDES with the CNAME, and an APP packet (PT 204,
// subtype 0, name "SES1") whose data is the stream's status string
// (status.h): a 16-bit identifier (0), the string's 16-bit length, the
// string, zeros to a 32-bit boundary.
#pragma once
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace satip {

struct SenderReport {
  std::uint32_t ssrc = 0;
  std::uint64_t ntp_time = 0;  // NtpTime
  std::uint32_t rtp_timestamp = 0;
  std::uint32_t packets = 0;  // RTP datagrams sent
  std::uint32_t octets = 0;   // their payload
};

// The compound packet; `cname` is cut to 255 bytes.
std::vector<std::uint8_t> BuildRtcp(const SenderReport& report, std::string_view cname,
                                    std::string_view status);

// The status string of the first SES1 packet in a compound packet, up to its
// length or a NUL, whichever comes first. False when the datagram is not RTCP
// (a packet not version 2, or its length beyond the datagram's end) or holds
// no SES1 packet.
bool FindSes1(const std::uint8_t* data, std::size_t size, std::string* status);

// The sender report's 64-bit NTP time (seconds since 1900 and a 32-bit
// fraction) of a wall-clock time since 1970.
std::uint64_t NtpTime(std::chrono::microseconds since_1970);

}  // namespace satip
