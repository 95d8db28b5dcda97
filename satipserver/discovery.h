// SSDP for the server: NOTIFY ssdp:alive on 239.255.255.250:1900 at start and
// again every third of the announcement's lifetime, answers to M-SEARCH for
// the SAT>IP device type, the root device, its UUID or ssdp:all (to admitted
// addresses only, a few a second at most), and ssdp:byebye at a clean stop.
// LOCATION names the server's HTTP port on the address the datagram leaves
// from (the listening address, when one was given).
#pragma once
#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <asio/io_context.hpp>
#include <asio/ip/udp.hpp>
#include <asio/steady_timer.hpp>

#include "satip/ssdp.h"
#include "satipserver/networks.h"

namespace satipserver {

struct DiscoverySettings {
  satip::Device device;  // its location is filled in per datagram
  std::optional<asio::ip::address> address;
  std::uint16_t http_port = 0;
  std::vector<Network> allow;
};

class Discovery {
 public:
  Discovery(asio::io_context& loop, DiscoverySettings settings);

  // Joins the group and announces; false with the reason (the port taken).
  bool Start(std::string* error);
  void Stop();

 private:
  void Receive();
  void Announce();
  std::string Location(const asio::ip::udp::endpoint& toward);
  void SendAll(const std::vector<std::string>& texts, const asio::ip::udp::endpoint& to);

  asio::io_context& loop_;
  DiscoverySettings settings_;
  asio::ip::udp::socket socket_;
  asio::steady_timer timer_;
  std::array<char, 2048> incoming_{};
  asio::ip::udp::endpoint from_;
  std::chrono::steady_clock::time_point window_;  // of the answers counted
  int answers_ = 0;
  bool running_ = false;
};

}  // namespace satipserver
