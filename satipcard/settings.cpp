// The settings file and the server's address: see settings.h.
#include "satipcard/settings.h"

#include <vector>

#include "satip/text.h"

namespace satipcard {

namespace {

using satip::EqualsIgnoringCase;
using satip::ParseNumber;
using satip::Quoted;
using satip::Trim;

bool ParsePort(std::string_view text, std::uint16_t* port) {
  long number = 0;
  if (!ParseNumber(text, 1, 65535, &number)) {
    return false;
  }
  *port = static_cast<std::uint16_t>(number);
  return true;
}

constexpr char kNameCharacters[] =
    "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ.-_";
constexpr char kIpv6Characters[] = "0123456789abcdefABCDEF:.";

// A name, an IPv4 address, or an IPv6 one (a zone may follow '%': fe80::1%eth0).
bool PlainHost(const std::string& host) {
  const std::size_t zone = host.find('%');
  if (host.find(':') == std::string::npos) {
    return !host.empty() && host.find_first_not_of(kNameCharacters) == std::string::npos;
  }
  return host.substr(0, zone).find_first_not_of(kIpv6Characters) == std::string::npos &&
         (zone == std::string::npos ||
          (zone + 1 < host.size() &&
           host.find_first_not_of(kNameCharacters, zone + 1) == std::string::npos));
}

bool ParseYesNo(std::string_view text, bool* value) {
  for (const char* yes : {"yes", "on", "true", "1"}) {
    if (EqualsIgnoringCase(text, yes)) {
      *value = true;
      return true;
    }
  }
  for (const char* no : {"no", "off", "false", "0"}) {
    if (EqualsIgnoringCase(text, no)) {
      *value = false;
      return true;
    }
  }
  return false;
}

template <typename T>
struct Word {
  const char* text;
  T value;
};
constexpr Word<Transport> kTransports[] = {
    {"udp", Transport::kUdp}, {"tcp", Transport::kTcp}, {"http", Transport::kHttp}};
constexpr Word<SystemPolicy> kPolicies[] = {
    {"dvbs", SystemPolicy::kDvbS}, {"dvbs2", SystemPolicy::kDvbS2}, {"auto", SystemPolicy::kAuto}};

template <typename T, std::size_t N>
bool ParseWord(const Word<T> (&words)[N], std::string_view text, T* value) {
  for (const Word<T>& word : words) {
    if (EqualsIgnoringCase(text, word.text)) {
      *value = word.value;
      return true;
    }
  }
  return false;
}

// One key's value into *settings; false with the reason in *error.
bool ApplyKey(std::string_view key, std::string_view value, Settings* settings,
              std::string* error) {
  if (EqualsIgnoringCase(key, "server")) {
    if (value.empty()) {
      settings->server.reset();
      return true;
    }
    Server server;
    if (!ParseServer(value, &server, error)) {
      return false;
    }
    settings->server = server;
    return true;
  }
  if (EqualsIgnoringCase(key, "transport")) {
    if (!ParseWord(kTransports, value, &settings->transport)) {
      *error = "transport " + Quoted(value) + " is not udp, tcp or http";
      return false;
    }
    return true;
  }
  if (EqualsIgnoringCase(key, "msys")) {
    if (!ParseWord(kPolicies, value, &settings->system)) {
      *error = "msys " + Quoted(value) + " is not dvbs, dvbs2 or auto";
      return false;
    }
    return true;
  }
  if (EqualsIgnoringCase(key, "circular")) {
    if (!ParseYesNo(value, &settings->circular)) {
      *error = "circular " + Quoted(value) + " is not yes or no";
      return false;
    }
    return true;
  }
  if (EqualsIgnoringCase(key, "http_port")) {
    if (!ParsePort(value, &settings->http_port)) {
      *error = "http_port " + Quoted(value) + " is not a port 1..65535";
      return false;
    }
    return true;
  }
  if (EqualsIgnoringCase(key, "log")) {
    settings->log = std::string(value);
    return true;
  }
  *error = Quoted(key) + " is not a setting (server, transport, msys, circular, http_port, log)";
  return false;
}

}  // namespace

bool ParseServer(std::string_view text, Server* server, std::string* error) {
  text = Trim(text);
  Server read;
  std::optional<std::string_view> port;  // what follows the host's ':'
  if (!text.empty() && text.front() == '[') {
    const std::size_t close = text.find(']');
    const std::string_view rest =
        close == std::string_view::npos ? std::string_view() : text.substr(close + 1);
    if (close == std::string_view::npos || (!rest.empty() && rest.front() != ':')) {
      *error = Quoted(text) + " is not [IPV6] or [IPV6]:PORT";
      return false;
    }
    read.host = std::string(text.substr(1, close - 1));
    port = rest.empty() ? std::optional<std::string_view>() : rest.substr(1);
  } else if (text.find(':') != text.rfind(':')) {
    read.host = std::string(text);  // an IPv6 address without brackets: no port
  } else {
    const std::size_t colon = text.find(':');
    read.host = std::string(text.substr(0, colon));
    port = colon == std::string_view::npos ? std::optional<std::string_view>()
                                           : text.substr(colon + 1);
  }
  if (!PlainHost(read.host)) {
    *error = Quoted(text) + " is not HOST[:PORT]";
    return false;
  }
  if (port && !ParsePort(*port, &read.port)) {
    *error = Quoted(text) + ": the port is not 1..65535";
    return false;
  }
  *server = read;
  return true;
}

std::string ServerText(const Server& server) {
  const bool ipv6 = server.host.find(':') != std::string::npos;
  return (ipv6 ? "[" + server.host + "]" : server.host) + ":" + std::to_string(server.port);
}

bool ParseSettings(std::string_view text, Settings* settings, std::string* error) {
  Settings read = *settings;
  int number = 0;
  for (std::string_view line : satip::Split(text, '\n')) {
    ++number;
    line = line.substr(0, line.find_first_of("#;"));
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) {
      line.remove_suffix(1);
    }
    line = Trim(line);
    if (line.empty() || line.front() == '[') {
      continue;
    }
    const std::size_t equals = line.find('=');
    std::string reason = Quoted(line) + " is not key = value";
    if (equals != std::string_view::npos &&
        ApplyKey(Trim(line.substr(0, equals)), Trim(line.substr(equals + 1)), &read, &reason)) {
      continue;
    }
    *error = "line " + std::to_string(number) + ": " + reason;
    return false;
  }
  *settings = read;
  return true;
}

const char* TransportName(Transport transport) {
  switch (transport) {
    case Transport::kTcp:
      return "TCP";
    case Transport::kHttp:
      return "HTTP";
    case Transport::kUdp:
      break;
  }
  return "UDP";
}

const char* PolicyName(SystemPolicy policy) {
  for (const Word<SystemPolicy>& word : kPolicies) {
    if (word.value == policy) {
      return word.text;
    }
  }
  return "auto";
}

}  // namespace satipcard
