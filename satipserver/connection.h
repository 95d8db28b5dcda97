// One TCP connection of a client, RTSP or HTTP: its requests read through the
// protocol's reader (8 KiB at most each), its responses sent in order, and
// where it carries a stream (RTP frames inside RTSP, or the transport stream
// over HTTP), the stream's bytes through a bounded buffer after them. A
// connection that does not finish a request in time, or falls silent for
// longer than a session lives while it carries none, is closed; so is one
// whose request is malformed or too large, after the answer (400, 413).
#pragma once
#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>

#include <asio/ip/tcp.hpp>
#include <asio/steady_timer.hpp>

#include "satip/message.h"
#include "satipserver/output_buffer.h"

namespace satipserver {

class Connection : public std::enable_shared_from_this<Connection> {
 public:
  enum class Kind : std::uint8_t { kRtsp, kHttp };

  struct Limits {
    std::chrono::milliseconds request{10000};  // to finish a request, the first one included
    std::chrono::milliseconds idle{60000};     // silent, with no stream in it
  };

  // What the server does with what a connection reads, and with its end.
  class Owner {
   public:
    virtual void Received(Connection& connection, const satip::Message& request) = 0;
    virtual void Closed(Connection& connection) = 0;

   protected:
    ~Owner() = default;
  };

  Connection(asio::ip::tcp::socket socket, Kind kind, std::uint64_t id, const Limits& limits,
             Owner* owner);

  void Start();
  // A whole response (or the head of an HTTP stream); responses go out in
  // order, each before any stream bytes committed after it.
  void Send(std::string text);
  // Closes once everything queued is sent; nothing more is read.
  void Finish();
  // Closes at once.
  void Close();

  // The stream in the connection: bytes are taken up to `capacity`; reads go
  // on only to see the client leave (HTTP) or for its keep-alive requests (RTSP).
  void OpenStream(std::size_t capacity);
  void CloseStream();
  // Room for a whole piece of the stream, or nullptr (the piece is dropped).
  std::uint8_t* Reserve(std::size_t size);
  void Commit(std::size_t size);
  // Starts sending what was committed.
  void Flush() { Pump(); }

  Kind kind() const { return kind_; }
  std::uint64_t id() const { return id_; }
  bool closed() const { return closed_; }
  // True once a whole request came: the client speaks the protocol.
  bool spoke() const { return spoke_; }
  const asio::ip::address& peer() const { return peer_; }
  const asio::ip::address& local() const { return local_; }
  std::chrono::steady_clock::time_point opened() const { return opened_; }

 private:
  void Read();
  void Take(std::size_t size);
  void Pump();
  void Arm();
  void Reject(satip::ReadError error);

  asio::ip::tcp::socket socket_;
  asio::steady_timer timer_;
  Kind kind_;
  std::uint64_t id_;
  Limits limits_;
  Owner* owner_;
  asio::ip::address peer_;
  asio::ip::address local_;
  std::chrono::steady_clock::time_point opened_;

  satip::StreamReader reader_;
  std::array<std::uint8_t, 4096> incoming_{};
  bool reading_ = false;
  bool spoke_ = false;
  std::optional<std::chrono::steady_clock::time_point> request_began_;
  std::chrono::steady_clock::time_point last_request_;

  std::deque<std::string> responses_;
  std::optional<OutputBuffer> stream_;
  bool stream_open_ = false;
  bool writing_ = false;
  bool writing_stream_ = false;  // what is being written is a run of the stream's
  bool finishing_ = false;       // close once everything is sent
  bool draining_ = false;        // sent all and shut down: reading until the client closes
  bool closed_ = false;
  std::chrono::steady_clock::time_point deadline_;
};

}  // namespace satipserver
