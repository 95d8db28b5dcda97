// Reading an output's destination: see destination.h.
#include "host/destination.h"

#include "dvb/name_match.h"

namespace host {

namespace {

constexpr char kExample[] = "e.g. udp://239.1.1.1:1234, rtp://[::1]:5008";

bool ParsePort(const std::string& digits, std::uint16_t* port) {
  if (digits.empty() || digits.size() > 5 ||
      digits.find_first_not_of("0123456789") != std::string::npos) {
    return false;
  }
  const unsigned long value = std::stoul(digits);
  *port = static_cast<std::uint16_t>(value);
  return value >= 1 && value <= 0xFFFF;
}

}  // namespace

std::string Destination::Name() const {
  if (kind == Kind::kFile) {
    return path;
  }
  const bool v6 = host.find(':') != std::string::npos;
  return std::string(kind == Kind::kRtp ? "rtp://" : "udp://") + (v6 ? "[" : "") + host +
         (v6 ? "]" : "") + ":" + std::to_string(port);
}

bool ParseDestination(const std::string& text, bool network_only, Destination* destination,
                      std::string* error) {
  Destination parsed;
  std::string address = text;
  const std::string scheme = text.substr(0, 6);
  if (dvb::SameIgnoringCase(scheme, "udp://") || dvb::SameIgnoringCase(scheme, "rtp://")) {
    parsed.kind =
        dvb::SameIgnoringCase(scheme, "rtp://") ? Destination::Kind::kRtp : Destination::Kind::kUdp;
    address = text.substr(6);
  } else if (text.find("://") != std::string::npos) {
    *error = text + ": only udp:// and rtp:// are sent to (" + kExample + ")";
    return false;
  } else if (network_only) {
    parsed.kind = Destination::Kind::kUdp;
  } else {
    parsed.path = text;
    *destination = parsed;
    return true;
  }
  std::string port;
  if (!address.empty() && address[0] == '[') {
    const std::size_t end = address.find(']');
    parsed.host = address.substr(1, end == std::string::npos ? 0 : end - 1);
    if (end == std::string::npos || address.compare(end + 1, 1, ":") != 0) {
      parsed.host.clear();
    }
    port = end == std::string::npos ? "" : address.substr(std::min(end + 2, address.size()));
  } else {
    const std::size_t colon = address.rfind(':');
    parsed.host = address.substr(0, colon == std::string::npos ? 0 : colon);
    port = colon == std::string::npos ? "" : address.substr(colon + 1);
    if (parsed.host.find(':') != std::string::npos) {
      *error = text + ": an IPv6 address goes in brackets, e.g. [::1]:5008";
      return false;
    }
  }
  if (parsed.host.empty() || parsed.host.find_first_of("/ ") != std::string::npos) {
    *error = text + ": give HOST:PORT, " + kExample;
    return false;
  }
  if (!ParsePort(port, &parsed.port)) {
    *error = text + ": the port must be 1..65535, not '" + port + "'";
    return false;
  }
  *destination = parsed;
  return true;
}

}  // namespace host
