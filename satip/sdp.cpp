// Writing the DESCRIBE answer's SDP and reading its streams back.
#include "satip/sdp.h"

#include "satip/text.h"

namespace satip {

namespace {

constexpr std::string_view kControl = "a=control:";
constexpr std::string_view kFmtp = "a=fmtp:33 ";
constexpr std::string_view kStreamKey = "stream=";

}  // namespace

std::string DescribeSdp(std::string_view address, std::uint64_t version, int tuners,
                        const std::vector<SdpStream>& streams) {
  const char* family = address.find(':') == std::string_view::npos ? "IP4" : "IP6";
  std::string text = "v=0\r\no=- 1 " + std::to_string(version) + " IN " + family + " " +
                     std::string(address) + "\r\ns=SatIPServer:1 " + std::to_string(tuners) +
                     "\r\nt=0 0\r\n";
  for (const SdpStream& stream : streams) {
    text += "m=video 0 RTP/AVP 33\r\nc=IN IP4 0.0.0.0\r\na=control:stream=" +
            std::to_string(stream.id) + "\r\na=fmtp:33 " + stream.status + "\r\n" +
            (stream.playing ? "a=sendonly\r\n" : "a=inactive\r\n");
  }
  return text;
}

bool ParseSdp(std::string_view text, std::vector<SdpMedia>* media, std::string* error) {
  std::vector<SdpMedia> parsed;
  bool first = true;
  for (std::string_view line : Split(text, '\n')) {
    if (!line.empty() && line.back() == '\r') {
      line.remove_suffix(1);
    }
    if (first) {
      if (Trim(line) != "v=0") {
        *error = "SDP: " + Quoted(line) + " is not v=0";
        return false;
      }
      first = false;
    } else if (line.substr(0, 2) == "m=") {
      parsed.emplace_back();
    } else if (parsed.empty()) {
      continue;  // the session's own lines
    } else if (line.substr(0, kControl.size()) == kControl) {
      const std::size_t at = line.rfind(kStreamKey);
      long stream = 0;
      if (at != std::string_view::npos &&
          ParseNumber(Trim(line.substr(at + kStreamKey.size())), 1, 65535, &stream)) {
        parsed.back().stream = static_cast<int>(stream);
      }
    } else if (line.substr(0, kFmtp.size()) == kFmtp) {
      Status status;
      std::string ignored;  // a status that does not read stays absent
      if (ParseStatus(Trim(line.substr(kFmtp.size())), &status, &ignored)) {
        parsed.back().status = status;
      }
    } else if (line == "a=inactive" || line == "a=recvonly") {
      parsed.back().playing = false;
    }
  }
  *media = parsed;
  return true;
}

}  // namespace satip
