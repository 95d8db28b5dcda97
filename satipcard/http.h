// A stream over HTTP, as SAT>IP 1.2.2 serves one: GET /?QUERY on the server's
// HTTP port, answered with a head (200 and video/MP2T) and then the transport
// stream, for as long as the connection lasts. On the receiver thread's event
// loop; every call and handler runs on its thread.
#pragma once

#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/steady_timer.hpp>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "satipcard/settings.h"

namespace satipcard {

class HttpStream {
 public:
  // Once: whether the server answered 200, or why not.
  using Started = std::function<void(bool accepted, const std::string& reason)>;
  using Bytes = std::function<void(const std::uint8_t* data, std::size_t size)>;
  // After a start: the stream is gone, and why.
  using Ended = std::function<void(const std::string& reason)>;

  HttpStream(asio::io_context& io, Server server, Bytes on_bytes, Ended on_ended);
  HttpStream(const HttpStream&) = delete;
  HttpStream& operator=(const HttpStream&) = delete;

  // GET `target` ("/?src=1&freq=..."), on a connection of its own.
  void Get(const std::string& target, Started started);
  void Close();

 private:
  void Fail(const std::string& reason);
  void ReadHead();
  void ReadBody();

  Server server_;
  Bytes on_bytes_;
  Ended on_ended_;
  asio::ip::tcp::resolver resolver_;
  asio::ip::tcp::socket socket_;
  asio::steady_timer timer_;
  Started started_;
  bool streaming_ = false;
  std::string request_;
  std::string head_;
  std::vector<std::uint8_t> buffer_;
  std::shared_ptr<int> generation_ = std::make_shared<int>(0);
};

}  // namespace satipcard
