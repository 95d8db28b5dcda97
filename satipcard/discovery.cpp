// SSDP discovery of a SAT>IP server: see discovery.h.
#include "satipcard/discovery.h"

#include <asio/connect.hpp>
#include <asio/io_context.hpp>
#include <asio/ip/multicast.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/ip/udp.hpp>
#include <asio/steady_timer.hpp>
#include <asio/write.hpp>
#include <functional>
#include <optional>
#include <vector>

#include "satip/message.h"
#include "satip/ssdp.h"
#include "satip/text.h"
#include "satipcard/sockets.h"

namespace satipcard {

namespace {

constexpr std::chrono::milliseconds kSearchAgain{1000};
constexpr int kSearchTtl = 2;
constexpr std::size_t kMaxDescription = 65536;
constexpr std::chrono::milliseconds kDescriptionLimit{2000};

std::string SearchText() {
  satip::Message search;
  search.method = "M-SEARCH";
  search.uri = "*";
  search.version = "HTTP/1.1";
  search.Add("HOST", std::string(satip::kSsdpAddress) + ":" + std::to_string(satip::kSsdpPort));
  search.Add("MAN", "\"ssdp:discover\"");
  search.Add("MX", "2");
  search.Add("ST", satip::kSatIpDeviceType);
  return satip::WriteMessage(search);
}

// "http://HOST[:PORT]/PATH" into its parts.
bool SplitLocation(const std::string& location, Server* where, std::string* path) {
  const std::string scheme = "http://";
  if (!satip::StartsWithIgnoringCase(location, scheme)) {
    return false;
  }
  const std::size_t slash = location.find('/', scheme.size());
  const std::string authority = location.substr(scheme.size(), slash - scheme.size());
  *path = slash == std::string::npos ? "/" : location.substr(slash);
  std::string ignored;
  if (!ParseServer(authority, where, &ignored)) {
    return false;
  }
  if (authority.find(':') == std::string::npos || authority.back() == ']') {
    where->port = 80;  // HTTP's own, not RTSP's
  }
  return true;
}

// The description's answer, within `limit`: its X-SATIP-RTSP-Port and friendlyName.
void ReadDescription(asio::io_context& io, const Server& where, const std::string& path,
                     std::chrono::milliseconds limit, Server* server, std::string* name) {
  asio::ip::tcp::socket socket(io);
  asio::ip::tcp::resolver resolver(io);
  const std::string request =
      "GET " + path + " HTTP/1.1\r\nHost: " + ServerText(where) + "\r\nConnection: close\r\n\r\n";
  std::string answer;
  std::vector<char> buffer(4096);
  std::function<void()> read = [&] {
    socket.async_read_some(asio::buffer(buffer), [&](const asio::error_code& e, std::size_t size) {
      answer.append(buffer.data(), size);
      if (!e && answer.size() < kMaxDescription) {
        read();
      }
    });
  };
  resolver.async_resolve(
      where.host, std::to_string(where.port),
      [&](const asio::error_code& e, const asio::ip::tcp::resolver::results_type& found) {
        if (e) {
          return;
        }
        asio::async_connect(socket, found,
                            [&](const asio::error_code& failure, const asio::ip::tcp::endpoint&) {
                              if (failure) {
                                return;
                              }
                              asio::async_write(socket, asio::buffer(request),
                                                [](const asio::error_code&, std::size_t) {});
                              read();
                            });
      });
  io.restart();
  io.run_for(limit);
  satip::Message message;
  if (satip::ParseMessage(answer, &message, kMaxDescription) != satip::ReadError::kNone ||
      message.status != 200) {
    return;
  }
  long port = 0;
  const std::string* rtsp_port = message.Find("X-SATIP-RTSP-Port");
  if (rtsp_port != nullptr && satip::ParseNumber(satip::Trim(*rtsp_port), 1, 65535, &port)) {
    server->port = static_cast<std::uint16_t>(port);
  }
  const std::string open = "<friendlyName>";
  const std::size_t begin = message.body.find(open);
  const std::size_t close = message.body.find("</friendlyName>");
  if (begin != std::string::npos && close != std::string::npos && close > begin) {
    *name = message.body.substr(begin + open.size(), close - begin - open.size());
  }
}

}  // namespace

bool DiscoverServer(std::chrono::milliseconds limit, Server* server, std::string* name,
                    std::string* error) {
  asio::io_context io;
  asio::ip::udp::socket socket(io);
  asio::error_code failure;
  socket.open(asio::ip::udp::v4(), failure);
  socket.set_option(asio::ip::multicast::hops(kSearchTtl), failure);
  socket.bind({asio::ip::address_v4::any(), 0}, failure);
  if (failure) {
    *error = "no socket for the SSDP search: " + Reason(failure);
    return false;
  }
  const asio::ip::udp::endpoint group(asio::ip::make_address_v4(satip::kSsdpAddress),
                                      satip::kSsdpPort);
  const std::string search = SearchText();
  std::optional<std::string> location;
  std::vector<char> datagram(8192);
  asio::ip::udp::endpoint from;
  asio::steady_timer again(io);
  asio::steady_timer end(io);
  std::function<void()> send = [&] {
    asio::error_code ignored;
    socket.send_to(asio::buffer(search), group, 0, ignored);
    again.expires_after(kSearchAgain);
    again.async_wait([&](const asio::error_code& e) {
      if (!e) {
        send();
      }
    });
  };
  std::function<void()> receive = [&] {
    socket.async_receive_from(
        asio::buffer(datagram), from, [&](const asio::error_code& e, std::size_t size) {
          if (e == asio::error::operation_aborted) {
            return;
          }
          satip::Message message;
          satip::Announcement announcement;
          std::string ignored;
          if (!e &&
              satip::ParseMessage(std::string_view(datagram.data(), size), &message) ==
                  satip::ReadError::kNone &&
              satip::ParseAnnouncement(message, &announcement, &ignored) &&
              announcement.kind != satip::Announcement::Kind::kByebye &&
              announcement.target == satip::kSatIpDeviceType) {
            location = announcement.location;
            io.stop();
            return;
          }
          receive();
        });
  };
  end.expires_after(limit);
  end.async_wait([&](const asio::error_code& e) {
    if (!e) {
      io.stop();
    }
  });
  send();
  receive();
  io.run();
  if (!location) {
    *error = "no SAT>IP server answered an SSDP search within " +
             std::to_string(limit.count() / 1000) + " s";
    return false;
  }
  Server where;
  std::string path;
  if (!SplitLocation(*location, &where, &path)) {
    *error = "a server answered with a description at " + satip::Quoted(*location) +
             ", which is no http:// URL";
    return false;
  }
  *server = Server{where.host, kRtspPort};
  ReadDescription(io, where, path, kDescriptionLimit, server, name);
  return true;
}

}  // namespace satipcard
