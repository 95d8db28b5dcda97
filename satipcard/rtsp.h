// The RTSP connection to the server, on the receiver thread's event loop:
// requests one at a time in the order given (each with its CSeq), the
// responses handed back, and the frames of RTP and RTCP that travel in the
// connection ('$', channel, length) handed on as they come. Connects when a
// request needs it; a server that closes the connection between requests is
// reached again with the next one. Every call, and every handler, runs on the
// event loop's thread.
#pragma once

#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/steady_timer.hpp>
#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "satip/message.h"
#include "satipcard/settings.h"

namespace satipcard {

class RtspConnection {
 public:
  // The response, or nullptr with why there is none (unreachable, closed, no answer in time).
  using Done = std::function<void(const satip::Message* response, const std::string& error)>;
  using FrameHandler = std::function<void(const satip::Frame& frame)>;
  using ClosedHandler = std::function<void(const std::string& reason)>;

  static constexpr std::chrono::seconds kConnectLimit{3};
  static constexpr std::chrono::seconds kAnswerLimit{5};

  RtspConnection(asio::io_context& io, Server server, FrameHandler on_frame,
                 ClosedHandler on_closed);
  RtspConnection(const RtspConnection&) = delete;
  RtspConnection& operator=(const RtspConnection&) = delete;

  // A request for `uri` (its CSeq is added, and User-Agent).
  void Send(const std::string& method, const std::string& uri, std::vector<satip::Header> headers,
            Done done);
  // Closes the connection; what waits fails with `reason`.
  void Close(const std::string& reason);

  bool open() const { return socket_.is_open() && connected_; }
  // Where the connection runs, once open.
  asio::ip::tcp::endpoint local_endpoint() const { return local_; }
  asio::ip::tcp::endpoint remote_endpoint() const { return remote_; }
  // "rtsp://HOST:PORT/".
  std::string BaseUri() const;

 private:
  struct Pending {
    satip::Message request;
    Done done;
  };

  void Pump();
  void Connect();
  void Read();
  void Answer(const satip::Message& response);
  // The connection is gone: `reason` to every request that waits.
  void Lost(const std::string& reason);

  Server server_;
  FrameHandler on_frame_;
  ClosedHandler on_closed_;
  asio::ip::tcp::resolver resolver_;
  asio::ip::tcp::socket socket_;
  asio::steady_timer timer_;  // the connect or the answer in flight
  asio::ip::tcp::endpoint local_, remote_;
  bool connected_ = false;
  bool connecting_ = false;
  bool in_flight_ = false;
  std::deque<Pending> queue_;  // the first is in flight once sent
  std::unique_ptr<satip::StreamReader> reader_;
  std::vector<std::uint8_t> buffer_;
  std::string written_;
  int cseq_ = 0;
  // Handlers still to come hold it; a closed connection's are told apart by it.
  std::shared_ptr<int> generation_ = std::make_shared<int>(0);
};

}  // namespace satipcard
