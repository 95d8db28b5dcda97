// A TCP connection to the SAT>IP server, as RTSP and HTTP both make it (the
// name resolved, each address tried in turn, a failure in the words the log
// and the host show) and read it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include <asio/buffer.hpp>
#include <asio/connect.hpp>
#include <asio/error.hpp>
#include <asio/ip/tcp.hpp>

#include "satipcard/settings.h"
#include "satipcard/sockets.h"

namespace satipcard {

// Connects `socket` to `server`: `connected()` once it is, else `failed` with
// the reason. Neither comes once `current()` says the attempt was given up
// (the connection closed or begun again meanwhile).
template <typename Current, typename Failed, typename Connected>
void ConnectTo(asio::ip::tcp::resolver& resolver, asio::ip::tcp::socket& socket,
               const Server& server, Current current, Failed failed, Connected connected) {
  resolver.async_resolve(
      server.host, std::to_string(server.port),
      [&socket, server, current, failed, connected](
          const asio::error_code& error, const asio::ip::tcp::resolver::results_type& found) {
        if (!current()) {
          return;
        }
        if (error) {
          failed(server.host + " cannot be found: " + Reason(error));
          return;
        }
        asio::async_connect(
            socket, found,
            [server, current, failed, connected](const asio::error_code& failure,
                                                 const asio::ip::tcp::endpoint&) {
              if (!current()) {
                return;
              }
              if (failure) {
                failed("cannot reach " + ServerText(server) + ": " + Reason(failure));
                return;
              }
              connected();
            });
      });
}

// A read's failure in words: `closed` when the server closed the connection,
// else `failed` followed by the system's reason.
inline std::string ReadFailure(const asio::error_code& error, const char* closed,
                               const char* failed) {
  return error == asio::error::eof ? std::string(closed) : failed + Reason(error);
}

// Reads what has come on `socket` into `buffer`: `read(size)` with how much
// came, else `failed(error)` (asio::error::eof when the server closed it).
// Neither comes once `current()` says the connection was given up meanwhile.
template <typename Current, typename Failed, typename Read>
void ReadSome(asio::ip::tcp::socket& socket, std::vector<std::uint8_t>& buffer, Current current,
              Failed failed, Read read) {
  socket.async_read_some(asio::buffer(buffer),
                         [current, failed, read](const asio::error_code& error, std::size_t size) {
                           if (!current()) {
                             return;
                           }
                           if (error) {
                             failed(error);
                             return;
                           }
                           read(size);
                         });
}

}  // namespace satipcard
