// What differs between the systems in the server's sockets, with a file for
// each system (sockets_posix.cpp, sockets_win32.cpp): UDP datagrams sent in
// batches without waiting (one sendmmsg call for many where Linux has it, a
// send each under Windows), and whether a listening socket asks to reuse its
// address (on POSIX systems so that a restart finds its port free while old
// connections linger; under Windows that option would let another program
// take the same port, and is not needed).
#pragma once
#include <cstddef>
#include <cstdint>

#include <asio/ip/udp.hpp>

namespace satipserver {

struct Datagram {
  const std::uint8_t* data = nullptr;
  std::size_t size = 0;
  const asio::ip::udp::endpoint* to = nullptr;
  bool sent = false;  // set by SendDatagrams
};

extern const bool kListenReusesAddress;

// Sends each datagram once, in order, on a socket in non-blocking mode. A
// datagram that finds the socket's buffer full is not sent, nor are those
// after it, and so marked, for the caller to count.
void SendDatagrams(asio::ip::udp::socket& socket, Datagram* datagrams, std::size_t count);

}  // namespace satipserver
