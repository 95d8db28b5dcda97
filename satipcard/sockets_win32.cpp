// Winsock, started at the first open: see sockets.h.
#include <asio/detail/winsock_init.hpp>

#include "satipcard/sockets.h"

namespace {

// Made before Asio's own global objects (the lowest priority a program may
// give), it tells them that the library starts and ends Winsock itself.
__attribute__((init_priority(101))) asio::detail::winsock_init<>::manual manual_winsock;

}  // namespace

namespace satipcard {

bool StartSockets(std::string* error) {
  static const int result = [] {
    WSADATA data{};
    return WSAStartup(MAKEWORD(2, 2), &data);  // for the life of the process
  }();
  if (result != 0) {
    *error = "Winsock does not start (error " + std::to_string(result) + ")";
  }
  return result == 0;
}

}  // namespace satipcard
