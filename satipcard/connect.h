// A TCP connection to the SAT>IP server, as RTSP and HTTP both make it: the
// name resolved, each address tried in turn, and a failure in the words the
// log and the host show.
#pragma once

#include <string>
#include <utility>

#include <asio/connect.hpp>
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

}  // namespace satipcard
