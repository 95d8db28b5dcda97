// Addresses as the server's options give them: the networks whose clients it
// admits (--allow), and where it listens (--listen ADDR[:PORT]).
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <asio/ip/address.hpp>

namespace satipserver {

struct Network {
  asio::ip::address address;
  int prefix = 0;  // bits that must match

  bool Contains(const asio::ip::address& address) const;
  std::string Text() const;  // "192.168.0.0/16"
};

// Loopback, the private and the link-local ranges: 127/8, 10/8, 172.16/12,
// 192.168/16, 169.254/16, ::1, fc00::/7, fe80::/10.
std::vector<Network> LocalNetworks();

// "10.0.0.0/8,192.168.1.7,::1,fe80::/10": networks, or single addresses,
// separated by commas. False with the reason in *error.
bool ParseNetworks(const std::string& text, std::vector<Network>* networks, std::string* error);

bool Admitted(const std::vector<Network>& networks, const asio::ip::address& address);

// An IPv4 address mapped into IPv6 as the IPv4 address it is.
asio::ip::address Plain(const asio::ip::address& address);

struct ListenAddress {
  std::optional<asio::ip::address> address;  // none: every address
  std::optional<std::uint16_t> port;         // none: the default
};

// "ADDR", "ADDR:PORT", ":PORT", "[IPV6]:PORT", "IPV6". False with the reason.
bool ParseListen(const std::string& text, ListenAddress* listen, std::string* error);

}  // namespace satipserver
