// Reading and writing the Transport and Session headers.
#include "satip/transport.h"

#include <algorithm>

#include "satip/text.h"

namespace satip {

namespace {

// "5000-5001", or "5000" for 5000-5001, each within [low, high].
bool ParsePair(std::string_view text, long low, long high, PortPair* pair) {
  const std::size_t dash = text.find('-');
  long first = 0;
  long second = 0;
  if (!ParseNumber(Trim(text.substr(0, dash)), low, high, &first)) {
    return false;
  }
  if (dash == std::string_view::npos) {
    second = first + 1;
  } else if (!ParseNumber(Trim(text.substr(dash + 1)), low, high, &second)) {
    return false;
  }
  if (second > high) {
    return false;
  }
  *pair = {static_cast<std::uint16_t>(first), static_cast<std::uint16_t>(second)};
  return true;
}

bool ParseOffer(std::string_view offer, Transport* transport, bool* supported, std::string* error) {
  const std::vector<std::string_view> parameters = Split(offer, ';');
  const std::string_view profile = Trim(parameters[0]);
  *supported = EqualsIgnoringCase(profile, "RTP/AVP") ||
               EqualsIgnoringCase(profile, "RTP/AVP/UDP") ||
               EqualsIgnoringCase(profile, "RTP/AVP/TCP");
  if (!*supported) {
    return true;
  }
  Transport parsed;
  parsed.tcp = EqualsIgnoringCase(profile, "RTP/AVP/TCP");
  for (std::size_t i = 1; i < parameters.size(); ++i) {
    const std::size_t equals = parameters[i].find('=');
    const std::string_view name = Trim(parameters[i].substr(0, equals));
    const std::string_view value = equals == std::string_view::npos
                                       ? std::string_view()
                                       : Trim(parameters[i].substr(equals + 1));
    bool read = true;
    PortPair pair;
    long number = 0;
    if (EqualsIgnoringCase(name, "unicast") || EqualsIgnoringCase(name, "multicast")) {
      parsed.multicast = EqualsIgnoringCase(name, "multicast");
    } else if (EqualsIgnoringCase(name, "client_port") || EqualsIgnoringCase(name, "server_port")) {
      read = ParsePair(value, 1, 65535, &pair);
      (EqualsIgnoringCase(name, "client_port") ? parsed.client_port : parsed.server_port) = pair;
    } else if (EqualsIgnoringCase(name, "interleaved")) {
      read = ParsePair(value, 0, 255, &pair);
      parsed.interleaved = pair;
    } else if (EqualsIgnoringCase(name, "destination")) {
      parsed.destination = std::string(value);
    } else if (EqualsIgnoringCase(name, "source")) {
      parsed.source = std::string(value);
    } else if (EqualsIgnoringCase(name, "ttl")) {
      read = ParseNumber(value, 0, 255, &number);
      parsed.ttl = static_cast<int>(number);
    }
    if (!read) {
      *error = "Transport: " + std::string(name) + "=" + Quoted(value) + " does not read";
      return false;
    }
  }
  *transport = parsed;
  return true;
}

std::string PairText(const PortPair& pair) {
  return std::to_string(pair.first) + "-" + std::to_string(pair.second);
}

}  // namespace

bool ParseTransports(std::string_view header, std::vector<Transport>* transports,
                     std::string* error) {
  std::vector<Transport> offers;
  for (const std::string_view offer : Split(header, ',')) {
    Transport transport;
    bool supported = false;
    if (!ParseOffer(offer, &transport, &supported, error)) {
      return false;
    }
    if (supported) {
      offers.push_back(transport);
    }
  }
  if (offers.empty()) {
    *error = "Transport: " + Quoted(header) + " offers no RTP/AVP transport";
    return false;
  }
  *transports = offers;
  return true;
}

std::string FormatTransport(const Transport& transport) {
  std::string text = transport.tcp ? "RTP/AVP/TCP" : "RTP/AVP";
  text += transport.multicast ? ";multicast" : ";unicast";
  if (transport.destination) {
    text += ";destination=" + *transport.destination;
  }
  if (transport.source) {
    text += ";source=" + *transport.source;
  }
  if (transport.client_port) {
    text += ";client_port=" + PairText(*transport.client_port);
  }
  if (transport.server_port) {
    text += ";server_port=" + PairText(*transport.server_port);
  }
  if (transport.interleaved) {
    text += ";interleaved=" + PairText(*transport.interleaved);
  }
  if (transport.ttl) {
    text += ";ttl=" + std::to_string(*transport.ttl);
  }
  return text;
}

bool ParseSessionHeader(std::string_view header, SessionHeader* session) {
  const std::vector<std::string_view> parts = Split(header, ';');
  const std::string_view id = Trim(parts[0]);
  const auto printable = [](char c) { return c > 0x20 && c < 0x7F; };
  if (id.empty() || !std::all_of(id.begin(), id.end(), printable)) {
    return false;
  }
  SessionHeader parsed;
  parsed.id = std::string(id);
  for (std::size_t i = 1; i < parts.size(); ++i) {
    const std::size_t equals = parts[i].find('=');
    long seconds = 0;
    if (equals != std::string_view::npos &&
        EqualsIgnoringCase(Trim(parts[i].substr(0, equals)), "timeout") &&
        ParseNumber(Trim(parts[i].substr(equals + 1)), 1, 86400, &seconds)) {
      parsed.timeout = static_cast<int>(seconds);
    }
  }
  *session = parsed;
  return true;
}

std::string FormatSessionHeader(const SessionHeader& session) {
  return session.timeout ? session.id + ";timeout=" + std::to_string(*session.timeout) : session.id;
}

}  // namespace satip
