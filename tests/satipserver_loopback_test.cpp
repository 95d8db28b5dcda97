// The server on loopback sockets with a card of the test's own, on one event
// loop that the test runs itself, so that what it waits for is an event, not
// a time: a TCP reader that stops reading loses its own frames (whole ones)
// and no other client a packet; a card that loses its lock leaves the session
// on, with lock=0 in RTCP and empty datagrams, until the data comes back, and
// one still tuning says lock=0 whatever its last figures were; and
// what the network may throw at it (silent connections, a huge request, a
// stream asked for elsewhere, a stranger) is turned away.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/ip/udp.hpp>
#include <asio/write.hpp>

#include "satip/rtcp.h"
#include "satip/rtp.h"
#include "satipserver/server.h"

namespace {

using satipserver::Server;
using std::chrono::milliseconds;

const std::string kQuery = "?src=1&freq=11778&pol=v&msys=dvbs&sr=27500&fec=34&pids=all";

class TestCard : public satipserver::Card {
 public:
  std::string Refusal(const satip::Tuning&) const override { return ""; }
  void Tune(const satip::Tuning&,
            std::function<void(const satipserver::TuneResult&)> done) override {
    satipserver::TuneResult result;
    result.locked = signal.lock;
    if (hold) {
      held = [done, result] { done(result); };  // the test ends the tune
      return;
    }
    done(result);
  }
  satip::Signal Signal() const override { return signal; }
  void Release() override {}

  satip::Signal signal{200, true, 12};
  bool hold = false;
  std::function<void()> held;
};

class TestEvents : public satipserver::Events {
 public:
  void Started(const satipserver::StreamReport&) override {}
  void Ended(const satipserver::StreamReport& stream, const char* reason) override {
    ended.push_back(stream);
    reasons.emplace_back(reason);
  }
  void Tuned(const satipserver::TuneResult&) override {}
  void Refused(const std::string&, const std::string&, int status, const std::string&) override {
    refused.push_back(status);
  }

  std::vector<satipserver::StreamReport> ended;
  std::vector<std::string> reasons;
  std::vector<int> refused;
};

// A numbered packet: PID 0x100, its number in the payload.
std::vector<std::uint8_t> Packets(std::uint32_t first, std::size_t count) {
  std::vector<std::uint8_t> packets(count * satip::kTsPacket, 0xFF);
  for (std::size_t i = 0; i < count; ++i) {
    std::uint8_t* packet = &packets[i * satip::kTsPacket];
    const std::uint32_t number = first + static_cast<std::uint32_t>(i);
    packet[0] = 0x47;
    packet[1] = 0x01;
    packet[2] = 0x00;
    packet[3] = static_cast<std::uint8_t>(0x10 | (number & 0x0F));
    std::memcpy(packet + 4, &number, sizeof number);
  }
  return packets;
}

// What one client got over RTP: the numbered packets in order, the empty
// datagrams, sequence gaps, and the lock each RTCP status said.
struct Received {
  void Rtp(const std::uint8_t* data, std::size_t size) {
    satip::RtpPacket packet;
    ASSERT_TRUE(satip::ParseRtp(data, size, &packet));
    if (datagrams > 0 && packet.header.sequence != static_cast<std::uint16_t>(sequence + 1)) {
      ++gaps;
    }
    sequence = packet.header.sequence;
    ++datagrams;
    empty += packet.payload_size == 0 ? 1 : 0;
    for (std::size_t at = 0; at + satip::kTsPacket <= packet.payload_size; at += satip::kTsPacket) {
      std::uint32_t number = 0;
      std::memcpy(&number, packet.payload + at + 4, sizeof number);
      numbers.push_back(number);
    }
  }
  void Rtcp(const std::uint8_t* data, std::size_t size) {
    std::string text;
    satip::Status status;
    std::string error;
    if (satip::FindSes1(data, size, &text) && satip::ParseStatus(text, &status, &error)) {
      locks.push_back(status.signal.lock);
    }
  }
  bool InOrder(std::uint32_t first, std::size_t count) const {
    for (std::size_t i = 0; i < count; ++i) {
      if (numbers.size() != count || numbers[i] != first + i) {
        return false;
      }
    }
    return true;
  }

  std::vector<std::uint32_t> numbers;
  std::size_t datagrams = 0;
  std::size_t empty = 0;
  std::size_t gaps = 0;
  std::uint16_t sequence = 0;
  std::vector<bool> locks;
};

// An RTSP client: requests written as they are, responses and interleaved
// frames read as they come (while it reads at all).
class RtspClient {
 public:
  // A `slow` client holds little in its socket, as one on a slow link.
  RtspClient(asio::io_context& loop, std::uint16_t port, bool slow = false) : socket_(loop) {
    socket_.open(asio::ip::tcp::v4());
    if (slow) {
      socket_.set_option(asio::socket_base::receive_buffer_size(16384));
    }
    socket_.connect({asio::ip::make_address("127.0.0.1"), port});
  }

  void Send(const std::string& text) {
    asio::write(socket_, asio::buffer(text));
    Read();
  }
  // Stops taking what the server sends; Read takes it again.
  void Stall() { stalled_ = true; }
  void Read() {
    stalled_ = false;
    if (reading_ || closed) {
      return;
    }
    reading_ = true;
    socket_.async_read_some(asio::buffer(incoming_),
                            [this](const asio::error_code& error, std::size_t size) {
                              reading_ = false;
                              if (error) {
                                closed = true;
                                return;
                              }
                              Take(size);
                              if (!stalled_) {
                                Read();
                              }
                            });
  }
  asio::ip::tcp::socket& socket() { return socket_; }

  std::vector<satip::Message> responses;
  Received got;
  bool broken = false;  // the stream did not read as messages and whole frames
  bool closed = false;

 private:
  void Take(std::size_t size) {
    reader_.Feed(incoming_.data(), size);
    for (;;) {
      satip::Message message;
      satip::Frame frame;
      const satip::StreamReader::Item item = reader_.Next(&message, &frame);
      if (item == satip::StreamReader::Item::kMessage) {
        responses.push_back(message);
      } else if (item == satip::StreamReader::Item::kFrame) {
        frame.channel == 0 ? got.Rtp(frame.data, frame.size) : got.Rtcp(frame.data, frame.size);
      } else {
        broken = broken || item == satip::StreamReader::Item::kError;
        return;
      }
    }
  }

  asio::ip::tcp::socket socket_;
  std::array<std::uint8_t, 65536> incoming_{};
  satip::StreamReader reader_;
  bool reading_ = false;
  bool stalled_ = false;
};

// A client's RTP and RTCP ports.
class UdpClient {
 public:
  explicit UdpClient(asio::io_context& loop) : rtp_(loop), rtcp_(loop) {
    for (asio::ip::udp::socket* socket : {&rtp_, &rtcp_}) {
      socket->open(asio::ip::udp::v4());
      socket->set_option(asio::socket_base::receive_buffer_size(8 << 20));
      socket->bind({asio::ip::make_address("127.0.0.1"), 0});
    }
    Receive(&rtp_, rtp_buffer_, [this](std::size_t size) { got.Rtp(rtp_buffer_.data(), size); });
    Receive(&rtcp_, rtcp_buffer_,
            [this](std::size_t size) { got.Rtcp(rtcp_buffer_.data(), size); });
  }
  std::string Transport() const {
    return "Transport: RTP/AVP;unicast;client_port=" +
           std::to_string(rtp_.local_endpoint().port()) + "-" +
           std::to_string(rtcp_.local_endpoint().port()) + "\r\n";
  }

  Received got;

 private:
  using Buffer = std::array<std::uint8_t, 2048>;
  void Receive(asio::ip::udp::socket* socket, Buffer& buffer,
               const std::function<void(std::size_t)>& take) {
    socket->async_receive(
        asio::buffer(buffer),
        [this, socket, &buffer, take](const asio::error_code& error, std::size_t size) {
          if (!error) {
            take(size);
            Receive(socket, buffer, take);
          }
        });
  }

  asio::ip::udp::socket rtp_, rtcp_;
  Buffer rtp_buffer_{}, rtcp_buffer_{};
};

class SatipServer : public ::testing::Test {
 protected:
  void SetUp() override {
    settings_.address = asio::ip::make_address("127.0.0.1");
    settings_.rtsp_port = 0;
    settings_.http_port = 0;
    settings_.discovery = false;
    settings_.request_timeout = milliseconds(300);
  }
  void TearDown() override {
    for (const auto& server : servers_) {
      server->Stop();
    }
    loop_.run_for(milliseconds(500));
  }

  Server& Start() {
    servers_.push_back(std::make_unique<Server>(loop_, &card_, settings_, &events_));
    Server::StartError error;
    EXPECT_TRUE(servers_.back()->Start(&error)) << error.text;
    return *servers_.back();
  }
  static std::uint16_t Port(const Server& server) { return server.where().rtsp.front().port(); }

  // Runs the loop until `done` holds, for 10 s at most.
  bool RunUntil(const std::function<bool()>& done) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done() && std::chrono::steady_clock::now() < end) {
      loop_.run_one_for(milliseconds(10));
    }
    return done();
  }

  // A request and its answer; the answer's status.
  int Ask(RtspClient& client, const std::string& request) {
    const std::size_t before = client.responses.size();
    client.Send(request);
    EXPECT_TRUE(RunUntil([&] { return client.responses.size() > before; })) << request;
    return client.responses.size() > before ? client.responses.back().status : 0;
  }

  // SETUP with `transport`, then PLAY: the session's header line.
  std::string Play(RtspClient& client, const Server& server, const std::string& transport) {
    const std::string base = "rtsp://127.0.0.1:" + std::to_string(Port(server)) + "/";
    EXPECT_EQ(
        Ask(client, "SETUP " + base + kQuery + " RTSP/1.0\r\nCSeq: 1\r\n" + transport + "\r\n"),
        200);
    const std::string* id = client.responses.back().Find("Session");
    std::string session = id == nullptr ? "" : "Session: " + id->substr(0, id->find(';')) + "\r\n";
    EXPECT_EQ(Ask(client, "PLAY " + base + " RTSP/1.0\r\nCSeq: 2\r\n" + session + "\r\n"), 200);
    return session;
  }

  // `count` numbered packets from `first`, a few datagrams at a time, with the
  // loop run in between so that the receivers keep up; with `received`, until
  // it says the packets delivered so far have arrived (a slow machine's UDP
  // receiver would otherwise lose them in its own socket's buffer).
  void Deliver(Server& server, std::uint32_t first, std::size_t count,
               const std::function<std::size_t()>& received = nullptr) {
    const std::vector<std::uint8_t> packets = Packets(first, count);
    for (std::size_t at = 0; at < count; at += 70) {
      const std::size_t batch = std::min<std::size_t>(70, count - at);
      server.Deliver(&packets[at * satip::kTsPacket], batch);
      loop_.poll();
      if (received) {
        RunUntil([&] { return received() >= at + batch; });
      }
    }
  }

  // Clients live as long as the loop may still run their handlers.
  RtspClient& Rtsp(std::uint16_t port, bool slow = false) {
    rtsp_clients_.push_back(std::make_unique<RtspClient>(loop_, port, slow));
    return *rtsp_clients_.back();
  }
  UdpClient& Udp() {
    udp_clients_.push_back(std::make_unique<UdpClient>(loop_));
    return *udp_clients_.back();
  }

  asio::io_context loop_;
  TestCard card_;
  TestEvents events_;
  satipserver::ServerSettings settings_;
  std::vector<std::unique_ptr<Server>> servers_;
  std::vector<std::unique_ptr<RtspClient>> rtsp_clients_;
  std::vector<std::unique_ptr<UdpClient>> udp_clients_;
};

TEST_F(SatipServer, AStalledTcpReaderLosesWholeFramesOfItsOwnAndNoOtherClientAnything) {
  settings_.stream_buffer = 64 << 10;
  Server& server = Start();
  RtspClient& stalled = Rtsp(Port(server), true);
  Play(stalled, server, "Transport: RTP/AVP/TCP;unicast;interleaved=0-1\r\n");
  UdpClient& steady = Udp();
  RtspClient& control = Rtsp(Port(server));
  const std::string session = Play(control, server, steady.Transport());
  stalled.Stall();
  ASSERT_TRUE(RunUntil([&] { return steady.got.datagrams > 0; }));

  constexpr std::size_t kPackets = 60000;  // 11 MB: more than the kernel and the server hold
  Deliver(server, 0, kPackets, [&] { return steady.got.numbers.size(); });
  ASSERT_TRUE(RunUntil([&] { return steady.got.numbers.size() >= kPackets; }));
  EXPECT_TRUE(steady.got.InOrder(0, kPackets));
  EXPECT_EQ(steady.got.gaps, 0u);

  // The stalled reader reads again: what reaches it is whole frames, numbered
  // on, with the frames it had no room for left out.
  stalled.Read();
  Deliver(server, kPackets, 700);
  ASSERT_TRUE(RunUntil([&] {
    return !stalled.got.numbers.empty() && stalled.got.numbers.back() == kPackets + 699;
  }));
  EXPECT_FALSE(stalled.broken);
  EXPECT_GT(stalled.got.gaps, 0u);
  EXPECT_LT(stalled.got.numbers.size(), kPackets);
  EXPECT_TRUE(std::is_sorted(stalled.got.numbers.begin(), stalled.got.numbers.end()));

  ASSERT_EQ(Ask(control, "TEARDOWN rtsp://127.0.0.1/ RTSP/1.0\r\nCSeq: 3\r\n" + session + "\r\n"),
            200);
  server.Stop();
  ASSERT_EQ(events_.ended.size(), 2u);
  const auto& udp =
      events_.ended[0].transport.rfind("UDP", 0) == 0 ? events_.ended[0] : events_.ended[1];
  const auto& tcp = &udp == &events_.ended[0] ? events_.ended[1] : events_.ended[0];
  EXPECT_EQ(udp.packets, kPackets + 700);
  EXPECT_EQ(udp.dropped, 0u);
  EXPECT_GT(tcp.dropped, 0u);
  EXPECT_EQ(tcp.packets + tcp.dropped, kPackets + 700);
}

TEST_F(SatipServer, ALockLostMidSessionIsReportedWhileTheSessionGoesOnUntilTheDataComesBack) {
  Server& server = Start();
  UdpClient& client = Udp();
  RtspClient& control = Rtsp(Port(server));
  Play(control, server, client.Transport());
  Deliver(server, 0, 100);
  ASSERT_TRUE(
      RunUntil([&] { return client.got.numbers.size() == 100 && !client.got.locks.empty(); }));
  EXPECT_TRUE(client.got.locks.back());

  // No lock, no data: RTCP says lock=0, empty datagrams keep the client waiting.
  card_.signal = {0, false, 0};
  const std::size_t empty = client.got.empty;
  ASSERT_TRUE(RunUntil([&] { return !client.got.locks.back() && client.got.empty >= empty + 3; }));
  EXPECT_TRUE(events_.ended.empty());

  card_.signal = {200, true, 12};
  Deliver(server, 100, 100);
  ASSERT_TRUE(
      RunUntil([&] { return client.got.numbers.size() == 200 && client.got.locks.back(); }));
  EXPECT_TRUE(client.got.InOrder(0, 200));
  EXPECT_EQ(client.got.gaps, 0u);
  EXPECT_TRUE(events_.ended.empty());
}

TEST_F(SatipServer, WhileTheCardTunesItsFiguresOfTheTransponderBeforeSayNoLock) {
  card_.hold = true;
  Server& server = Start();
  UdpClient& client = Udp();
  RtspClient& control = Rtsp(Port(server));
  Play(control, server, client.Transport());
  ASSERT_TRUE(RunUntil([&] { return client.got.locks.size() >= 2; }));
  EXPECT_EQ(std::count(client.got.locks.begin(), client.got.locks.end(), true), 0);

  card_.held();
  ASSERT_TRUE(RunUntil([&] { return client.got.locks.back(); }));
}

TEST_F(SatipServer, WhatTheNetworkThrowsAtItIsTurnedAway) {
  Server& server = Start();
  const std::uint16_t port = Port(server);

  // 100 connections that say nothing: the oldest make room for a client that
  // speaks, and the rest are closed after the request timeout.
  std::vector<RtspClient*> silent;
  for (int i = 0; i < 100; ++i) {
    silent.push_back(&Rtsp(port));
    silent.back()->Read();
  }
  RtspClient& speaking = Rtsp(port);
  EXPECT_EQ(Ask(speaking, "OPTIONS rtsp://127.0.0.1/ RTSP/1.0\r\nCSeq: 1\r\n\r\n"), 200);
  EXPECT_TRUE(RunUntil([&] {
    return std::all_of(silent.begin(), silent.end(), [](const auto& c) { return c->closed; });
  }));

  // A 1 MiB request: 413 at its 8 KiB, and the connection closed.
  RtspClient& huge = Rtsp(port);
  const std::string request = "SETUP rtsp://127.0.0.1/?" + std::string(1 << 20, 'a');
  asio::async_write(huge.socket(), asio::buffer(request),
                    [](const asio::error_code&, std::size_t) {});
  huge.Read();
  ASSERT_TRUE(RunUntil([&] { return huge.closed; }));
  ASSERT_EQ(huge.responses.size(), 1u);
  EXPECT_EQ(huge.responses[0].status, 413);

  // A stream asked for at another address: 403, and nothing sent anywhere.
  RtspClient& asking = Rtsp(port);
  EXPECT_EQ(Ask(asking, "SETUP rtsp://127.0.0.1/" + kQuery +
                            " RTSP/1.0\r\nCSeq: 1\r\nTransport: "
                            "RTP/AVP;unicast;destination=127.0.0.2;client_port=5000-5001\r\n\r\n"),
            403);
  EXPECT_TRUE(server.sessions().streams().empty());

  // A client from outside the admitted networks: 403 for whatever it asks.
  settings_.allow.clear();
  std::string error;
  ASSERT_TRUE(satipserver::ParseNetworks("10.0.0.0/8,::1", &settings_.allow, &error));
  Server& strict = Start();
  RtspClient& stranger = Rtsp(Port(strict));
  EXPECT_EQ(Ask(stranger, "OPTIONS rtsp://127.0.0.1/ RTSP/1.0\r\nCSeq: 1\r\n\r\n"), 403);
  EXPECT_TRUE(RunUntil([&] { return stranger.closed; }));
  EXPECT_EQ(events_.refused.back(), 403);
}

TEST_F(SatipServer, TheDescriptionNamesTheRtspPortWhenItIsNot554) {
  Server& server = Start();
  RtspClient& http = Rtsp(server.where().http.front().port());
  ASSERT_EQ(Ask(http, "GET /desc.xml HTTP/1.1\r\nHost: x\r\n\r\n"), 200);
  const satip::Message& response = http.responses.back();
  ASSERT_NE(response.Find("X-SATIP-RTSP-Port"), nullptr);
  EXPECT_EQ(*response.Find("X-SATIP-RTSP-Port"), std::to_string(Port(server)));
  EXPECT_NE(response.body.find(">DVBS2-1</satip:X_SATIPCAP>"), std::string::npos);
}

}  // namespace
