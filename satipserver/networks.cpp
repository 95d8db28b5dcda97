// Networks and listening addresses: see networks.h.
#include "satipserver/networks.h"

#include <array>

namespace satipserver {

namespace {

constexpr const char* kLocalNetworks[] = {
    "127.0.0.0/8",    "10.0.0.0/8", "172.16.0.0/12", "192.168.0.0/16",
    "169.254.0.0/16", "::1/128",    "fc00::/7",      "fe80::/10",
};

// The address's bytes, 4 or 16 of them.
std::array<unsigned char, 16> Bytes(const asio::ip::address& address, std::size_t* size) {
  std::array<unsigned char, 16> bytes{};
  if (address.is_v4()) {
    const asio::ip::address_v4::bytes_type v4 = address.to_v4().to_bytes();
    std::copy(v4.begin(), v4.end(), bytes.begin());
    *size = 4;
  } else {
    bytes = address.to_v6().to_bytes();
    *size = 16;
  }
  return bytes;
}

bool ReadAddress(const std::string& text, asio::ip::address* address) {
  asio::error_code error;
  *address = asio::ip::make_address(text, error);
  return !error;
}

bool ReadPort(const std::string& text, std::uint16_t* port) {
  if (text.empty() || text.size() > 5 ||
      text.find_first_not_of("0123456789") != std::string::npos) {
    return false;
  }
  const unsigned long value = std::stoul(text);
  *port = static_cast<std::uint16_t>(value);
  return value <= 65535;
}

}  // namespace

asio::ip::address Plain(const asio::ip::address& address) {
  if (address.is_v6() && address.to_v6().is_v4_mapped()) {
    return asio::ip::make_address_v4(asio::ip::v4_mapped, address.to_v6());
  }
  return address;
}

bool Network::Contains(const asio::ip::address& candidate) const {
  const asio::ip::address plain = Plain(candidate);
  if (plain.is_v4() != address.is_v4()) {
    return false;
  }
  std::size_t size = 0;
  const auto want = Bytes(address, &size);
  const auto got = Bytes(plain, &size);
  for (int bit = 0; bit < prefix; ++bit) {
    const auto byte = static_cast<std::size_t>(bit / 8);
    const auto mask = static_cast<unsigned char>(0x80 >> (bit % 8));
    if ((want[byte] & mask) != (got[byte] & mask)) {
      return false;
    }
  }
  return true;
}

std::string Network::Text() const { return address.to_string() + "/" + std::to_string(prefix); }

std::vector<Network> LocalNetworks() {
  std::vector<Network> networks;
  std::string ignored;
  for (const char* text : kLocalNetworks) {
    ParseNetworks(text, &networks, &ignored);
  }
  return networks;
}

bool ParseNetworks(const std::string& text, std::vector<Network>* networks, std::string* error) {
  std::vector<Network> parsed;
  std::size_t start = 0;
  while (start <= text.size()) {
    const std::size_t comma = std::min(text.find(',', start), text.size());
    const std::string item = text.substr(start, comma - start);
    start = comma + 1;
    const std::size_t slash = item.find('/');
    Network network;
    if (!ReadAddress(item.substr(0, slash), &network.address)) {
      *error = "'" + item + "' is not an address or a network (e.g. 192.168.0.0/16, ::1)";
      return false;
    }
    network.address = Plain(network.address);
    const int most = network.address.is_v4() ? 32 : 128;
    network.prefix = most;
    if (slash != std::string::npos) {
      const std::string bits = item.substr(slash + 1);
      std::uint16_t prefix = 0;
      if (!ReadPort(bits, &prefix) || prefix > most) {
        *error = "'" + item + "': the prefix is not 0.." + std::to_string(most);
        return false;
      }
      network.prefix = prefix;
    }
    parsed.push_back(network);
  }
  networks->insert(networks->end(), parsed.begin(), parsed.end());
  return true;
}

bool Admitted(const std::vector<Network>& networks, const asio::ip::address& address) {
  for (const Network& network : networks) {
    if (network.Contains(address)) {
      return true;
    }
  }
  return false;
}

bool ParseListen(const std::string& text, ListenAddress* listen, std::string* error) {
  ListenAddress parsed;
  std::string host = text;
  std::string port;
  if (!text.empty() && text.front() == '[') {
    const std::size_t close = text.find(']');
    if (close == std::string::npos || (close + 1 < text.size() && text[close + 1] != ':')) {
      *error = "'" + text + "' is not [IPV6] or [IPV6]:PORT";
      return false;
    }
    host = text.substr(1, close - 1);
    port = close + 1 < text.size() ? text.substr(close + 2) : "";
    if (close + 1 < text.size() && port.empty()) {
      *error = "'" + text + "' has no port after the colon";
      return false;
    }
  } else if (text.find(':') == text.rfind(':') && text.find(':') != std::string::npos) {
    host = text.substr(0, text.find(':'));
    port = text.substr(text.find(':') + 1);
    if (port.empty()) {
      *error = "'" + text + "' has no port after the colon";
      return false;
    }
  }
  if (!port.empty()) {
    std::uint16_t number = 0;
    if (!ReadPort(port, &number)) {
      *error = "'" + port + "' is not a port 0..65535";
      return false;
    }
    parsed.port = number;
  }
  if (!host.empty()) {
    asio::ip::address address;
    if (!ReadAddress(host, &address)) {
      *error = "'" + host + "' is not an IP address (a name is not taken: give its address)";
      return false;
    }
    parsed.address = Plain(address);
  }
  *listen = parsed;
  return true;
}

}  // namespace satipserver
