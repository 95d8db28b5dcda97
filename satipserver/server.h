// The SAT>IP 1.2.2 server over one card: RTSP (with RTP and RTCP over UDP or
// inside the RTSP connection), HTTP streaming and the device description,
// and SSDP discovery, on one Asio event loop. The requests are handled by
// satip::Sessions; this adds the sockets, the clock and the packet path.
//
// Everything runs on the loop's thread but the card's tuning (card.h). The
// host hands it the card's packets with Deliver, on the loop's thread: each
// packet is tested against each stream's PIDs and packed into its datagrams,
// which go out together at the end of the call (UDP sends without waiting, in
// batches; TCP through each connection's bounded buffer), so that a slow
// client loses its own data, counted, and no one else's.
#pragma once
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/ip/udp.hpp>
#include <asio/steady_timer.hpp>

#include "satip/description.h"
#include "satip/rtp.h"
#include "satip/sessions.h"
#include "satipserver/card.h"
#include "satipserver/connection.h"
#include "satipserver/discovery.h"
#include "satipserver/networks.h"
#include "satipserver/sockets.h"

namespace satipserver {

constexpr std::uint16_t kRtspPort = 554;

struct ServerSettings {
  std::optional<asio::ip::address> address;  // none: every address, IPv4 and IPv6
  std::uint16_t rtsp_port = kRtspPort;       // 0: any free port (tests)
  std::uint16_t http_port = 8080;
  std::vector<Network> allow = LocalNetworks();
  int max_sessions = 8;
  std::chrono::seconds session_timeout{60};
  std::size_t max_connections = 64;
  std::chrono::milliseconds request_timeout{10000};
  std::size_t stream_buffer = 1 << 20;  // bytes of a stream held for a TCP reader
  bool discovery = true;
  satip::DeviceDescription description;
  std::string server;  // SSDP's SERVER: "Linux/6.1 UPnP/1.1 Morvalind/1.1"
  int boot_id = 1;
};

// Where the server listens, once started.
struct Where {
  std::vector<asio::ip::tcp::endpoint> rtsp;
  std::vector<asio::ip::tcp::endpoint> http;
  std::uint16_t rtp_port = 0;  // RTCP on the next
  bool discovery = false;
  std::string discovery_problem;  // why there is none, though it was asked for
};

// A stream as the log shows it.
struct StreamReport {
  int stream = 0;
  std::string peer;
  std::string transport;        // "UDP to 10.0.0.5:40000-40001", "TCP interleaved 0-1", "HTTP"
  std::string query;            // the tuning and PIDs: "src=1&freq=11778&...&pids=0,17"
  std::uint64_t packets = 0;    // TS packets sent
  std::uint64_t datagrams = 0;  // RTP datagrams (or HTTP pieces) sent
  std::uint64_t dropped = 0;    // TS packets not sent: the client's socket or reader was full
  double seconds = 0;
};

// What the server tells its host, for the log; every call on the loop's thread.
class Events {
 public:
  virtual ~Events() = default;
  virtual void Started(const StreamReport& stream) = 0;
  // reason: "teardown", "timeout", "closed" (the connection it travelled in), "stop".
  virtual void Ended(const StreamReport& stream, const char* reason) = 0;
  virtual void Tuned(const TuneResult& result) = 0;
  // A request refused: 403 for an address not admitted, or the protocol's refusals.
  virtual void Refused(const std::string& peer, const std::string& request, int status,
                       const std::string& why) = 0;
};

class Server final : private Connection::Owner {
 public:
  Server(asio::io_context& loop, Card* card, ServerSettings settings, Events* events);
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Binds and starts listening; false with the reason, and whether the system
  // refused the port for want of privileges (ports below 1024).
  struct StartError {
    std::string text;
    bool permission = false;
  };
  bool Start(StartError* error);
  const Where& where() const { return where_; }

  // The card's packets (whole 188-byte ones), on the loop's thread.
  void Deliver(const std::uint8_t* packets, std::size_t count);

  // Ends every stream, says byebye, closes every socket; the loop then runs out.
  void Stop();

  std::size_t connections() const { return connections_.size(); }
  const satip::Sessions& sessions() const { return sessions_; }

 private:
  struct Outlet;

  void Received(Connection& connection, const satip::Message& request) override;
  void Closed(Connection& connection) override;

  bool Listen(std::vector<asio::ip::tcp::acceptor>* acceptors, std::uint16_t port, const char* what,
              std::vector<asio::ip::tcp::endpoint>* bound, StartError* error);
  bool OpenRtp(StartError* error);
  void Accept(asio::ip::tcp::acceptor* acceptor, Connection::Kind kind);
  void Admit(asio::ip::tcp::socket socket, Connection::Kind kind);
  void Rtsp(Connection& connection, const satip::Message& request);
  void Http(Connection& connection, const satip::Message& request);
  satip::Context ContextOf(const Connection& connection);
  satip::Signal Signal() const;  // the card's, none while it tunes
  void Apply(const std::vector<satip::Action>& actions);
  void Start(const satip::StartStreaming& start);
  void End(int stream, const char* reason);
  void Tuned(std::uint64_t generation, const TuneResult& result);
  void Tick();

  Outlet* Find(int stream);
  void Put(Outlet& outlet, const std::uint8_t* packet);
  void Seal(Outlet& outlet, std::size_t packets);
  void Flush(Outlet* only);
  void SendUdp(std::vector<Datagram>* batch, std::vector<Outlet*>* owners,
               asio::ip::udp::socket* socket);
  void Rtcp(Outlet& outlet);
  StreamReport ReportOf(const Outlet& outlet) const;
  std::uint32_t Timestamp() const;

  asio::io_context& loop_;
  Card* card_;
  ServerSettings settings_;
  Events* events_;
  satip::Sessions sessions_;
  Where where_;
  std::shared_ptr<Server*> self_;  // for what the card posts back after the server is gone

  std::vector<asio::ip::tcp::acceptor> rtsp_acceptors_;
  std::vector<asio::ip::tcp::acceptor> http_acceptors_;
  asio::ip::udp::socket rtp4_, rtcp4_, rtp6_, rtcp6_;
  std::optional<Discovery> discovery_;
  asio::steady_timer tick_;
  std::map<std::uint64_t, std::shared_ptr<Connection>> connections_;
  std::uint64_t next_connection_ = 1;

  std::vector<std::unique_ptr<Outlet>> outlets_;
  std::vector<Datagram> batch4_, batch6_;
  std::vector<Outlet*> owners4_, owners6_;  // the outlet of each datagram in the batches
  std::uint64_t tune_generation_ = 0;
  bool tuning_ = false;
  bool stopping_ = false;
  std::chrono::steady_clock::time_point epoch_;
  std::chrono::steady_clock::time_point now_;  // of this delivery or tick
  std::uint32_t timestamp_ = 0;                // of this delivery's datagrams
  std::mt19937_64 random_;
};

}  // namespace satipserver
