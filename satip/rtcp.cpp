// Building and walking compound RTCP packets.
#include "satip/rtcp.h"

#include <algorithm>
#include <cstring>

#include "satip/bytes.h"

namespace satip {

namespace {

constexpr std::uint8_t kSenderReport = 200;
constexpr std::uint8_t kSourceDescription = 202;
constexpr std::uint8_t kApplication = 204;
constexpr std::uint8_t kCname = 1;
constexpr char kSes1[] = "SES1";
constexpr std::size_t kAppHead = 16;  // header, SSRC, name, identifier, length
constexpr std::size_t kLongestStatus = 65535;
constexpr std::uint64_t kSeconds1900To1970 = 2208988800u;

// One packet: its header with `count` (reports, chunks or subtype) and the
// length of what `body` holds, padded with zeros to 32 bits.
void Append(std::vector<std::uint8_t>* out, std::uint8_t count, std::uint8_t type,
            std::vector<std::uint8_t> body) {
  body.resize((body.size() + 3) / 4 * 4, 0);
  std::uint8_t header[4] = {static_cast<std::uint8_t>(0x80 | count), type};
  Put16(header + 2, static_cast<std::uint16_t>(body.size() / 4));  // words, less the header
  out->insert(out->end(), header, header + 4);
  out->insert(out->end(), body.begin(), body.end());
}

std::vector<std::uint8_t> Words(std::initializer_list<std::uint32_t> words) {
  std::vector<std::uint8_t> bytes(4 * words.size());
  std::size_t at = 0;
  for (const std::uint32_t word : words) {
    Put32(&bytes[at], word);
    at += 4;
  }
  return bytes;
}

}  // namespace

std::vector<std::uint8_t> BuildRtcp(const SenderReport& report, std::string_view cname,
                                    std::string_view status) {
  std::vector<std::uint8_t> packet;
  Append(&packet, 0, kSenderReport,
         Words({report.ssrc, static_cast<std::uint32_t>(report.ntp_time >> 32),
                static_cast<std::uint32_t>(report.ntp_time), report.rtp_timestamp, report.packets,
                report.octets}));

  cname = cname.substr(0, 255);
  std::vector<std::uint8_t> chunk = Words({report.ssrc});
  chunk.push_back(kCname);
  chunk.push_back(static_cast<std::uint8_t>(cname.size()));
  chunk.insert(chunk.end(), cname.begin(), cname.end());
  chunk.push_back(0);  // the end of the chunk's items
  Append(&packet, 1, kSourceDescription, chunk);

  status = status.substr(0, kLongestStatus);
  std::vector<std::uint8_t> app = Words({report.ssrc, 0, 0});
  std::memcpy(&app[4], kSes1, 4);
  Put16(&app[10], static_cast<std::uint16_t>(status.size()));
  app.insert(app.end(), status.begin(), status.end());
  Append(&packet, 0, kApplication, app);
  return packet;
}

bool FindSes1(const std::uint8_t* data, std::size_t size, std::string* status) {
  std::size_t offset = 0;
  while (offset + 4 <= size) {
    const std::uint8_t* packet = data + offset;
    const std::size_t length = (static_cast<std::size_t>(Get16(packet + 2)) + 1) * 4;
    if (packet[0] >> 6 != 2 || length > size - offset) {
      return false;
    }
    if (packet[1] == kApplication && length >= kAppHead && std::memcmp(packet + 8, kSes1, 4) == 0) {
      const auto* text = reinterpret_cast<const char*>(packet + kAppHead);
      const std::size_t most = std::min<std::size_t>(Get16(packet + 14), length - kAppHead);
      *status = std::string(text, std::find(text, text + most, '\0'));
      return true;
    }
    offset += length;
  }
  return false;
}

std::uint64_t NtpTime(std::chrono::microseconds since_1970) {
  const auto microseconds = static_cast<std::uint64_t>(since_1970.count());
  const std::uint64_t seconds = microseconds / 1000000 + kSeconds1900To1970;
  const std::uint64_t fraction = (microseconds % 1000000 << 32) / 1000000;
  return seconds << 32 | fraction;
}

}  // namespace satip
