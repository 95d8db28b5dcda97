// The server: listening, requests, the streams' packet path and their timers.
// See server.h.
#include "satipserver/server.h"

#include <algorithm>
#include <cstring>

#include <asio/ip/v6_only.hpp>
#include <asio/post.hpp>

#include "satip/rtcp.h"
#include "satip/text.h"
#include "satip/url.h"

namespace satipserver {

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kTick = std::chrono::milliseconds(20);
// A stream that sent nothing for this long sends an empty datagram, so that
// one goes at least every 100 ms with the tick's lateness.
constexpr auto kKeepAlive = std::chrono::milliseconds(75);
constexpr auto kRtcpEvery = std::chrono::milliseconds(200);
// A datagram not yet full waits this long for more of its stream's packets
// (a stream of a few PIDs fills one slowly), then goes as it is.
constexpr auto kHold = std::chrono::milliseconds(10);
constexpr auto kAcceptPause = std::chrono::milliseconds(100);
// Datagrams a stream holds before they go out, within one delivery.
constexpr std::size_t kSlots = 64;
constexpr std::size_t kFrameHead = 4;  // '$', channel, length: before each slot's datagram
constexpr std::size_t kSlotSize = kFrameHead + satip::kMaxDatagram;
constexpr int kSendBuffer = 4 << 20;
constexpr int kSources = 4;  // src 1..4: the committed switch's ports

const char* const kEndReasons[] = {"teardown", "timeout", "closed"};

std::size_t PacketsIn(std::size_t datagram) {
  return (datagram - satip::kRtpHeaderSize) / satip::kTsPacket;
}

// A playing stream's tuning and PIDs, as a query.
std::string QueryText(const satip::Stream& stream) {
  satip::Query query = satip::TuningQuery(*stream.tuning);
  query.pids = stream.pids;
  return satip::FormatQuery(query);
}

std::string HostText(const asio::ip::address& address) {
  return address.is_v6() ? "[" + address.to_string() + "]" : address.to_string();
}

}  // namespace

// One stream's way out: its PIDs, its RTP numbering, where its datagrams go,
// and the datagrams of the delivery in progress.
struct Server::Outlet {
  Outlet(std::uint32_t ssrc, std::uint16_t first_sequence) : packer(ssrc, first_sequence) {}

  std::uint8_t* Slot(std::size_t index) { return slots.data() + index * kSlotSize; }

  satip::Destination destination;
  satip::PidSet pids;
  satip::RtpPacker packer;
  asio::ip::udp::socket* rtp = nullptr;  // UDP
  asio::ip::udp::socket* rtcp = nullptr;
  asio::ip::udp::endpoint rtp_to;
  asio::ip::udp::endpoint rtcp_to;
  std::shared_ptr<Connection> connection;  // inside RTSP, or HTTP
  std::vector<std::uint8_t> slots = std::vector<std::uint8_t>(kSlots * kSlotSize);
  std::size_t sizes[kSlots] = {};  // of the sealed datagrams
  std::size_t sealed = 0;
  std::size_t filling = 0;  // packets in the slot after the sealed ones
  Clock::time_point filling_since;
  StreamReport report;
  Clock::time_point started;
  Clock::time_point last_sent;
  Clock::time_point next_rtcp;
};

Server::Server(asio::io_context& loop, Card* card, ServerSettings settings, Events* events)
    : loop_(loop),
      card_(card),
      settings_(std::move(settings)),
      events_(events),
      sessions_(satip::Settings()),
      self_(std::make_shared<Server*>(this)),
      rtp4_(loop),
      rtcp4_(loop),
      rtp6_(loop),
      rtcp6_(loop),
      tick_(loop),
      epoch_(Clock::now()),
      random_(
          std::random_device()() ^
          static_cast<std::uint64_t>(std::chrono::system_clock::now().time_since_epoch().count())) {
  const std::size_t batch = (kSlots + 1) * static_cast<std::size_t>(settings_.max_sessions);
  batch4_.reserve(batch);
  batch6_.reserve(batch);
  owners4_.reserve(batch);
  owners6_.reserve(batch);
}

Server::~Server() = default;

bool Server::Start(StartError* error) {
  if (!Listen(&rtsp_acceptors_, settings_.rtsp_port, "RTSP", &where_.rtsp, error) ||
      !Listen(&http_acceptors_, settings_.http_port, "HTTP", &where_.http, error) ||
      !OpenRtp(error)) {
    return false;
  }
  satip::Settings protocol;
  protocol.max_sessions = settings_.max_sessions;
  protocol.timeout = settings_.session_timeout;
  protocol.sources = kSources;
  protocol.rtp_port = where_.rtp_port;
  protocol.refusal = [this](const satip::Tuning& tuning) { return card_->Refusal(tuning); };
  sessions_ = satip::Sessions(protocol);

  if (settings_.discovery) {
    DiscoverySettings discovery;
    discovery.device.uuid = settings_.description.uuid;
    discovery.device.server = settings_.server;
    discovery.device.boot_id = settings_.boot_id;
    discovery.device.config_id = settings_.description.config_id;
    discovery.address = settings_.address;
    discovery.http_port = where_.http.front().port();
    discovery.allow = settings_.allow;
    discovery_.emplace(loop_, discovery);
    where_.discovery = discovery_->Start(&where_.discovery_problem);
    if (!where_.discovery) {
      discovery_.reset();
    }
  }
  for (asio::ip::tcp::acceptor& acceptor : rtsp_acceptors_) {
    Accept(&acceptor, Connection::Kind::kRtsp);
  }
  for (asio::ip::tcp::acceptor& acceptor : http_acceptors_) {
    Accept(&acceptor, Connection::Kind::kHttp);
  }
  Tick();
  return true;
}

bool Server::Listen(std::vector<asio::ip::tcp::acceptor>* acceptors, std::uint16_t port,
                    const char* what, std::vector<asio::ip::tcp::endpoint>* bound,
                    StartError* error) {
  std::vector<asio::ip::address> addresses;
  if (settings_.address) {
    addresses.push_back(*settings_.address);
  } else {
    addresses = {asio::ip::address_v4::any(), asio::ip::address_v6::any()};
  }
  for (const asio::ip::address& address : addresses) {
    // Every address: IPv6 on the port IPv4 got, where the system has IPv6.
    const asio::ip::tcp::endpoint endpoint(address, bound->empty() ? port : bound->back().port());
    asio::ip::tcp::acceptor acceptor(loop_);
    asio::error_code code;
    acceptor.open(endpoint.protocol(), code);
    if (!code && kListenReusesAddress) {
      acceptor.set_option(asio::ip::tcp::acceptor::reuse_address(true), code);
    }
    if (!code && address.is_v6()) {
      acceptor.set_option(asio::ip::v6_only(true), code);
    }
    if (!code) {
      acceptor.bind(endpoint, code);
    }
    if (!code) {
      acceptor.listen(asio::socket_base::max_listen_connections, code);
    }
    if (code && !settings_.address && address.is_v6()) {
      continue;  // no IPv6 here: IPv4 alone
    }
    if (code) {
      error->permission = code == asio::error::access_denied;
      error->text = std::string(what) + " on " + HostText(address) + ":" + std::to_string(port) +
                    ": " + code.message() +
                    (error->permission && port < 1024 ? " (ports below 1024 need privileges)" : "");
      return false;
    }
    bound->push_back(acceptor.local_endpoint(code));
    acceptors->push_back(std::move(acceptor));
  }
  return true;
}

bool Server::OpenRtp(StartError* error) {
  const bool v4 = !settings_.address || settings_.address->is_v4();
  const bool v6 = !settings_.address || settings_.address->is_v6();
  const auto open_pair = [](asio::ip::udp::socket* rtp, asio::ip::udp::socket* rtcp,
                            const asio::ip::address& address, std::uint16_t port) {
    asio::error_code code;
    rtp->close(code);
    rtcp->close(code);
    const asio::ip::udp protocol = address.is_v4() ? asio::ip::udp::v4() : asio::ip::udp::v6();
    rtp->open(protocol, code);
    if (!code && address.is_v6()) {
      rtp->set_option(asio::ip::v6_only(true), code);
    }
    if (!code) {
      rtp->bind({address, port}, code);
    }
    const std::uint16_t bound = code ? 0 : rtp->local_endpoint(code).port();
    if (bound == 0 || bound % 2 != 0 || bound == 65535) {
      return std::uint16_t{0};  // RTP takes an even port, RTCP the next
    }
    rtcp->open(protocol, code);
    if (!code && address.is_v6()) {
      rtcp->set_option(asio::ip::v6_only(true), code);
    }
    if (!code) {
      rtcp->bind({address, static_cast<std::uint16_t>(bound + 1)}, code);
    }
    if (code) {
      return std::uint16_t{0};
    }
    rtp->non_blocking(true, code);
    rtcp->non_blocking(true, code);
    rtp->set_option(asio::socket_base::send_buffer_size(kSendBuffer), code);
    return bound;
  };
  for (int attempt = 0; attempt < 64; ++attempt) {
    std::uint16_t port = 0;
    if (v4) {
      port = open_pair(&rtp4_, &rtcp4_,
                       settings_.address ? *settings_.address : asio::ip::address_v4::any(), 0);
      if (port == 0) {
        continue;
      }
    }
    if (v6) {
      const asio::ip::address address =
          settings_.address ? *settings_.address : asio::ip::address_v6::any();
      const std::uint16_t got = open_pair(&rtp6_, &rtcp6_, address, port);
      if (got == 0 && !v4) {
        continue;
      }
      if (got == 0) {
        asio::error_code ignored;  // no IPv6 here, or not on that port: IPv4 alone
        rtp6_.close(ignored);
        rtcp6_.close(ignored);
      }
      port = v4 ? port : got;
    }
    where_.rtp_port = port;
    return true;
  }
  error->text = "no pair of UDP ports free for RTP and RTCP";
  return false;
}

void Server::Accept(asio::ip::tcp::acceptor* acceptor, Connection::Kind kind) {
  acceptor->async_accept(
      [this, acceptor, kind](const asio::error_code& error, asio::ip::tcp::socket socket) {
        if (stopping_ || error == asio::error::operation_aborted) {
          return;
        }
        if (!error) {
          Admit(std::move(socket), kind);
          Accept(acceptor, kind);
          return;
        }
        // Out of descriptors or the like: again in a while, rather than at once.
        auto pause = std::make_shared<asio::steady_timer>(loop_, kAcceptPause);
        pause->async_wait([this, pause, acceptor, kind](const asio::error_code& waited) {
          if (!waited && !stopping_) {
            Accept(acceptor, kind);
          }
        });
      });
}

void Server::Admit(asio::ip::tcp::socket socket, Connection::Kind kind) {
  if (connections_.size() >= settings_.max_connections) {
    // The oldest connection that has not yet said a whole request makes room;
    // without one, the newcomer is turned away.
    std::shared_ptr<Connection> oldest;
    for (const auto& entry : connections_) {
      if (!entry.second->spoke() && (!oldest || entry.second->opened() < oldest->opened())) {
        oldest = entry.second;
      }
    }
    if (!oldest) {
      asio::error_code ignored;
      socket.close(ignored);
      return;
    }
    oldest->Close();
  }
  Connection::Limits limits;
  limits.request = settings_.request_timeout;
  limits.idle = settings_.session_timeout;
  const std::uint64_t id = next_connection_++;
  Connection::Owner* owner = this;
  auto connection = std::make_shared<Connection>(std::move(socket), kind, id, limits, owner);
  connections_[id] = connection;
  connection->Start();
}

satip::Context Server::ContextOf(const Connection& connection) {
  satip::Context context;
  context.peer_address = connection.peer().to_string();
  context.local_address = connection.local().to_string();
  context.connection = connection.id();
  context.now = Clock::now();
  context.random = random_();
  context.signal = Signal();
  return context;
}

satip::Signal Server::Signal() const {
  // While the card tunes, its last figures are of the transponder before (or
  // of a tune no one waits for any more): no lock until this tune has ended.
  return tuning_ ? satip::Signal() : card_->Signal();
}

void Server::Received(Connection& connection, const satip::Message& request) {
  const std::string line = request.method + " " + satip::Quoted(request.uri);
  if (!Admitted(settings_.allow, connection.peer())) {
    events_->Refused(connection.peer().to_string(), line, 403, "not an admitted address");
    satip::Message response = satip::Respond(request, 403);
    response.Add("Content-Type", "text/plain");
    response.body = "this server does not serve your address\r\n";
    connection.Send(satip::WriteMessage(response));
    connection.Finish();
    return;
  }
  if (connection.kind() == Connection::Kind::kHttp) {
    Http(connection, request);
    return;
  }
  satip::Outcome outcome = sessions_.Handle(request, ContextOf(connection));
  if (!outcome.note.empty()) {
    events_->Refused(connection.peer().to_string(), line, outcome.response.status, outcome.note);
  }
  connection.Send(satip::WriteMessage(outcome.response));
  Apply(outcome.actions);
}

void Server::Http(Connection& connection, const satip::Message& request) {
  satip::Url url;
  std::string problem;
  if (request.method == "GET" && satip::ParseUrl(request.uri, &url, &problem) &&
      url.path == "/desc.xml") {
    satip::Message response = satip::Respond(request, 200);
    response.Add("Content-Type", "text/xml; charset=\"utf-8\"");
    response.Add("Connection", "close");
    if (const std::uint16_t port = where_.rtsp.front().port(); port != kRtspPort) {
      response.Add("X-SATIP-RTSP-Port", std::to_string(port));
    }
    response.body = satip::DescriptionXml(settings_.description);
    connection.Send(satip::WriteMessage(response));
    connection.Finish();
    return;
  }
  satip::Outcome outcome = sessions_.HandleHttp(request, ContextOf(connection));
  if (!outcome.note.empty()) {
    events_->Refused(connection.peer().to_string(),
                     request.method + " " + satip::Quoted(request.uri), outcome.response.status,
                     outcome.note);
  }
  connection.Send(satip::WriteMessage(outcome.response));
  if (outcome.response.status != 200) {
    connection.Finish();
  }
  Apply(outcome.actions);
}

void Server::Closed(Connection& connection) {
  const std::uint64_t id = connection.id();
  const std::shared_ptr<Connection> held = connections_[id];  // until this is done
  connections_.erase(id);
  Apply(sessions_.ConnectionClosed(id));
}

void Server::Apply(const std::vector<satip::Action>& actions) {
  for (const satip::Action& action : actions) {
    if (const auto* tune = std::get_if<satip::TuneCard>(&action)) {
      const std::uint64_t generation = ++tune_generation_;
      tuning_ = true;
      const std::weak_ptr<Server*> self = self_;
      asio::io_context& loop = loop_;
      card_->Tune(tune->tuning, [self, &loop, generation](const TuneResult& result) {
        asio::post(loop, [self, generation, result] {
          if (const std::shared_ptr<Server*> server = self.lock()) {
            (*server)->Tuned(generation, result);
          }
        });
      });
    } else if (const auto* pids = std::get_if<satip::SetPids>(&action)) {
      if (Outlet* outlet = Find(pids->stream)) {
        outlet->pids = pids->pids;
        outlet->report.query = QueryText(*sessions_.Find(pids->stream));
      }
    } else if (const auto* start = std::get_if<satip::StartStreaming>(&action)) {
      Start(*start);
    } else if (const auto* end = std::get_if<satip::EndStream>(&action)) {
      End(end->stream, stopping_ ? "stop" : kEndReasons[static_cast<int>(end->reason)]);
    } else if (std::holds_alternative<satip::ReleaseTuner>(action)) {
      ++tune_generation_;  // a tune still under way no longer holds the packets back
      tuning_ = false;
      card_->Release();
    }
  }
}

void Server::Tuned(std::uint64_t generation, const TuneResult& result) {
  events_->Tuned(result);
  if (generation == tune_generation_) {
    tuning_ = false;
  }
}

Server::Outlet* Server::Find(int stream) {
  for (const std::unique_ptr<Outlet>& outlet : outlets_) {
    if (outlet->report.stream == stream) {
      return outlet.get();
    }
  }
  return nullptr;
}

void Server::Start(const satip::StartStreaming& start) {
  const satip::Stream* stream = sessions_.Find(start.stream);
  if (stream == nullptr || !stream->tuning) {
    return;
  }
  Outlet* outlet = Find(start.stream);
  if (outlet == nullptr) {
    outlets_.push_back(std::make_unique<Outlet>(start.ssrc, static_cast<std::uint16_t>(random_())));
    outlet = outlets_.back().get();
    outlet->report.stream = start.stream;
    outlet->started = Clock::now();
  }
  if (outlet->connection) {
    outlet->connection->CloseStream();  // set up again, elsewhere
    outlet->connection.reset();
  }
  const satip::Destination& destination = start.destination;
  outlet->destination = destination;
  outlet->pids = stream->pids;
  const std::string ports =
      std::to_string(destination.ports.first) + "-" + std::to_string(destination.ports.second);
  if (destination.kind == satip::Destination::Kind::kUdp) {
    asio::error_code code;
    const asio::ip::address address = Plain(asio::ip::make_address(destination.address, code));
    outlet->rtp = address.is_v4() ? &rtp4_ : &rtp6_;
    outlet->rtcp = address.is_v4() ? &rtcp4_ : &rtcp6_;
    outlet->rtp_to = {address, destination.ports.first};
    outlet->rtcp_to = {address, destination.ports.second};
    outlet->report.transport = "UDP to " + HostText(address) + ":" + ports;
  } else {
    const auto connection = connections_.find(destination.connection);
    if (connection == connections_.end()) {
      return;  // gone already: its streams end with it
    }
    outlet->connection = connection->second;
    outlet->connection->OpenStream(settings_.stream_buffer);
    outlet->report.transport =
        destination.kind == satip::Destination::Kind::kHttp ? "HTTP" : "TCP interleaved " + ports;
  }
  outlet->report.query = QueryText(*stream);
  outlet->report.peer = stream->owner;
  outlet->last_sent = Clock::now();
  outlet->next_rtcp = outlet->last_sent;  // the status at once
  events_->Started(ReportOf(*outlet));
}

void Server::End(int stream, const char* reason) {
  const auto found = std::find_if(
      outlets_.begin(), outlets_.end(),
      [stream](const std::unique_ptr<Outlet>& o) { return o->report.stream == stream; });
  if (found == outlets_.end()) {
    return;
  }
  const Outlet& outlet = **found;
  events_->Ended(ReportOf(outlet), reason);
  if (outlet.connection) {
    outlet.connection->CloseStream();
    if (outlet.destination.kind == satip::Destination::Kind::kHttp) {
      outlet.connection->Finish();
    }
  }
  outlets_.erase(found);
}

StreamReport Server::ReportOf(const Outlet& outlet) const {
  StreamReport report = outlet.report;
  report.seconds = std::chrono::duration<double>(Clock::now() - outlet.started).count();
  return report;
}

std::uint32_t Server::Timestamp() const {
  return satip::RtpTimestamp(
      std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - epoch_));
}

void Server::Deliver(const std::uint8_t* packets, std::size_t count) {
  if (tuning_ || outlets_.empty()) {
    return;  // from before the tune, or for no one
  }
  now_ = Clock::now();
  timestamp_ = Timestamp();
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint8_t* packet = packets + i * satip::kTsPacket;
    const auto pid = static_cast<std::uint16_t>((packet[1] & 0x1F) << 8 | packet[2]);
    for (const std::unique_ptr<Outlet>& outlet : outlets_) {
      if (outlet->pids.Contains(pid)) {
        Put(*outlet, packet);
      }
    }
  }
  Flush(nullptr);
}

void Server::Put(Outlet& outlet, const std::uint8_t* packet) {
  if (outlet.filling == 0) {
    outlet.filling_since = now_;
  }
  std::memcpy(outlet.Slot(outlet.sealed) + kFrameHead + satip::kRtpHeaderSize +
                  outlet.filling * satip::kTsPacket,
              packet, satip::kTsPacket);
  if (++outlet.filling == satip::kPacketsPerDatagram) {
    Seal(outlet, outlet.filling);
    if (outlet.sealed == kSlots) {
      Flush(&outlet);
    }
  }
}

void Server::Seal(Outlet& outlet, std::size_t packets) {
  outlet.sizes[outlet.sealed] =
      outlet.packer.PackHeader(packets, timestamp_, outlet.Slot(outlet.sealed) + kFrameHead);
  ++outlet.sealed;
  outlet.filling = 0;
}

void Server::Flush(Outlet* only) {
  for (const std::unique_ptr<Outlet>& held : outlets_) {
    Outlet& outlet = *held;
    if (only != nullptr && only != &outlet) {
      continue;
    }
    if (only == nullptr && outlet.filling > 0 && now_ - outlet.filling_since >= kHold) {
      Seal(outlet, outlet.filling);
    }
    if (outlet.sealed == 0) {
      continue;
    }
    const satip::Destination::Kind kind = outlet.destination.kind;
    for (std::size_t i = 0; i < outlet.sealed; ++i) {
      std::uint8_t* slot = outlet.Slot(i);
      const std::size_t size = outlet.sizes[i];
      if (kind == satip::Destination::Kind::kUdp) {
        const bool v4 = outlet.rtp == &rtp4_;
        (v4 ? batch4_ : batch6_).push_back({slot + kFrameHead, size, &outlet.rtp_to, false});
        (v4 ? owners4_ : owners6_).push_back(&outlet);
        continue;
      }
      // TCP: the frame (or, over HTTP, the packets alone) if the reader has room for it.
      const bool http = kind == satip::Destination::Kind::kHttp;
      const std::uint8_t* piece = http ? slot + kFrameHead + satip::kRtpHeaderSize : slot;
      const std::size_t length = http ? size - satip::kRtpHeaderSize : kFrameHead + size;
      std::uint8_t* room = outlet.connection->Reserve(length);
      if (room == nullptr) {
        outlet.report.dropped += PacketsIn(size);
        continue;
      }
      if (!http) {
        satip::WriteFrameHead(static_cast<std::uint8_t>(outlet.destination.ports.first), size,
                              slot);
      }
      std::memcpy(room, piece, length);
      outlet.connection->Commit(length);
      outlet.report.packets += PacketsIn(size);
      ++outlet.report.datagrams;
    }
    if (outlet.connection) {
      outlet.connection->Flush();
    }
    outlet.last_sent = now_;
  }
  SendUdp(&batch4_, &owners4_, &rtp4_);
  SendUdp(&batch6_, &owners6_, &rtp6_);
  // The packets of a datagram still filling move to the first slot, now free.
  for (const std::unique_ptr<Outlet>& held : outlets_) {
    Outlet& outlet = *held;
    if ((only == nullptr || only == &outlet) && outlet.sealed > 0) {
      if (outlet.filling > 0) {
        const std::size_t payload = kFrameHead + satip::kRtpHeaderSize;
        std::memmove(outlet.Slot(0) + payload, outlet.Slot(outlet.sealed) + payload,
                     outlet.filling * satip::kTsPacket);
      }
      outlet.sealed = 0;
    }
  }
}

void Server::SendUdp(std::vector<Datagram>* batch, std::vector<Outlet*>* owners,
                     asio::ip::udp::socket* socket) {
  if (batch->empty()) {
    return;
  }
  if (socket->is_open()) {
    SendDatagrams(*socket, batch->data(), batch->size());
  }
  for (std::size_t i = 0; i < batch->size(); ++i) {
    StreamReport& report = (*owners)[i]->report;
    const std::size_t packets = PacketsIn((*batch)[i].size);
    if ((*batch)[i].sent) {
      report.packets += packets;
      ++report.datagrams;
    } else {
      report.dropped += packets;
    }
  }
  batch->clear();
  owners->clear();
}

void Server::Rtcp(Outlet& outlet) {
  const satip::Stream* stream = sessions_.Find(outlet.report.stream);
  if (stream == nullptr) {
    return;
  }
  satip::SenderReport report;
  report.ssrc = outlet.packer.ssrc();
  report.ntp_time = satip::NtpTime(std::chrono::duration_cast<std::chrono::microseconds>(
      std::chrono::system_clock::now().time_since_epoch()));
  report.rtp_timestamp = Timestamp();
  report.packets = outlet.packer.datagrams();
  report.octets = outlet.packer.payload_octets();
  const std::vector<std::uint8_t> packet = satip::BuildRtcp(
      report, settings_.description.uuid, satip::Sessions::StatusOf(*stream, Signal()));
  if (outlet.destination.kind == satip::Destination::Kind::kUdp) {
    asio::error_code ignored;  // a full buffer loses it; the next comes soon
    outlet.rtcp->send_to(asio::buffer(packet), outlet.rtcp_to, 0, ignored);
    return;
  }
  std::uint8_t* room = outlet.connection->Reserve(kFrameHead + packet.size());
  if (room != nullptr) {
    satip::WriteFrameHead(static_cast<std::uint8_t>(outlet.destination.ports.second), packet.size(),
                          room);
    std::memcpy(room + kFrameHead, packet.data(), packet.size());
    outlet.connection->Commit(kFrameHead + packet.size());
    outlet.connection->Flush();
  }
}

void Server::Tick() {
  now_ = Clock::now();
  if (const std::optional<satip::Time> next = sessions_.NextExpiry(); next && *next <= now_) {
    Apply(sessions_.Expire(now_));
  }
  timestamp_ = Timestamp();
  Flush(nullptr);  // datagrams that waited long enough for more
  for (const std::unique_ptr<Outlet>& held : outlets_) {
    Outlet& outlet = *held;
    if (outlet.destination.kind == satip::Destination::Kind::kHttp) {
      continue;  // the transport stream alone: no RTP, no RTCP
    }
    if (outlet.filling == 0 && now_ - outlet.last_sent >= kKeepAlive) {
      Seal(outlet, 0);  // no data, or none of its PIDs: an empty datagram
      Flush(&outlet);
    }
    if (now_ >= outlet.next_rtcp) {
      Rtcp(outlet);
      outlet.next_rtcp = now_ + kRtcpEvery;
    }
  }
  tick_.expires_after(kTick);
  tick_.async_wait([this](const asio::error_code& error) {
    if (!error && !stopping_) {
      Tick();
    }
  });
}

void Server::Stop() {
  if (stopping_) {
    return;
  }
  stopping_ = true;
  if (discovery_) {
    discovery_->Stop();
  }
  asio::error_code ignored;
  for (asio::ip::tcp::acceptor& acceptor : rtsp_acceptors_) {
    acceptor.close(ignored);
  }
  for (asio::ip::tcp::acceptor& acceptor : http_acceptors_) {
    acceptor.close(ignored);
  }
  Apply(sessions_.Expire(satip::Time::max()));
  std::vector<std::shared_ptr<Connection>> open;
  for (const auto& entry : connections_) {
    open.push_back(entry.second);
  }
  for (const std::shared_ptr<Connection>& connection : open) {
    connection->Close();
  }
  tick_.cancel();
  for (asio::ip::udp::socket* socket : {&rtp4_, &rtcp4_, &rtp6_, &rtcp6_}) {
    socket->close(ignored);
  }
}

}  // namespace satipserver
