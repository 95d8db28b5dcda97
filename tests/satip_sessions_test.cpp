// The server's request handling, driven by the sequences real clients send
// (VLC 3.0.24, ffmpeg 5.1 over UDP and TCP, HTTP), several clients on one
// transponder and one on another, keep-alive and timeout, and the requests a
// server must refuse. Time is virtual; actions are read as short texts.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "satip/sessions.h"

namespace {

using satip::Outcome;
using std::chrono::seconds;

const std::string kTransponderA = "src=1&freq=11778&pol=v&msys=dvbs&sr=27500&fec=34";
const std::string kTransponderB = "src=1&freq=12012&pol=h&msys=dvbs2&mtype=8psk&sr=30000&fec=23";
const std::string kVlcTransport = "Transport: RTP/AVP;unicast;client_port=40000-40001\r\n";

std::string Text(const satip::Action& action) {
  struct {
    std::string operator()(const satip::TuneCard& a) {
      return "tune " + satip::FormatKey("freq", satip::TuningQuery(a.tuning)) +
             satip::FormatKey("pol", satip::TuningQuery(a.tuning));
    }
    std::string operator()(const satip::SetPids& a) {
      return "pids " + std::to_string(a.stream) + " " + a.pids.Text();
    }
    std::string operator()(const satip::StartStreaming& a) {
      const satip::Destination& d = a.destination;
      const std::string ports =
          std::to_string(d.ports.first) + "-" + std::to_string(d.ports.second);
      switch (d.kind) {
        case satip::Destination::Kind::kUdp:
          return "start " + std::to_string(a.stream) + " udp " + d.address + ":" + ports;
        case satip::Destination::Kind::kInterleaved:
          return "start " + std::to_string(a.stream) + " tcp " + std::to_string(d.connection) +
                 " " + ports;
        default:
          return "start " + std::to_string(a.stream) + " http " + std::to_string(d.connection);
      }
    }
    std::string operator()(const satip::EndStream& a) {
      const char* reasons[] = {"teardown", "timeout", "closed"};
      return "end " + std::to_string(a.stream) + " " + reasons[static_cast<int>(a.reason)];
    }
    std::string operator()(const satip::ReleaseTuner&) { return "release"; }
  } text;
  return std::visit(text, action);
}

std::vector<std::string> Texts(const std::vector<satip::Action>& actions) {
  std::vector<std::string> texts;
  texts.reserve(actions.size());
  for (const satip::Action& action : actions) {
    texts.push_back(Text(action));
  }
  return texts;
}

using Texts_ = std::vector<std::string>;

class SatipSessions : public ::testing::Test {
 protected:
  static satip::Settings WithRtpPort() {
    satip::Settings settings;
    settings.rtp_port = 6970;
    settings.refusal = [](const satip::Tuning& tuning) {
      return tuning.frequency_khz < 10700000 ? "the card's LNB does not reach it" : "";
    };
    return settings;
  }

  // A request as `peer` sends it on `connection`: CSeq, then `headers`.
  Outcome Send(const std::string& method, const std::string& uri, int cseq,
               const std::string& headers = "", const std::string& peer = "10.0.0.2",
               std::uint64_t connection = 1) {
    satip::Message request;
    const std::string text = method + " " + uri + " RTSP/1.0\r\nCSeq: " + std::to_string(cseq) +
                             "\r\n" + headers + "\r\n";
    EXPECT_EQ(satip::ParseMessage(text, &request), satip::ReadError::kNone) << text;
    return sessions_.Handle(request, Context(peer, connection));
  }

  satip::Context Context(const std::string& peer, std::uint64_t connection) {
    satip::Context context;
    context.peer_address = peer;
    context.local_address = "10.0.0.5";
    context.connection = connection;
    context.now = now_;
    context.random = 0x9E3779B97F4A7C15u * ++requests_;
    context.signal = {200, true, 12};
    return context;
  }

  // The Session header a SETUP's answer gives, as the client sends it back.
  static std::string SessionOf(const Outcome& setup) {
    const std::string* session = setup.response.Find("Session");
    return session == nullptr ? "" : "Session: " + session->substr(0, session->find(';')) + "\r\n";
  }

  satip::Sessions sessions_{WithRtpPort()};
  satip::Time now_;
  std::uint64_t requests_ = 0;
};

TEST_F(SatipSessions, VlcSetsUpWithTheWholeQueryPlaysTheStreamAndKeepsItAlive) {
  const std::string base = "rtsp://10.0.0.5:554/";
  const Outcome setup = Send("SETUP", base + "?" + kTransponderA + "&pids=0,17", 0, kVlcTransport);
  ASSERT_EQ(setup.response.status, 200) << setup.note;
  EXPECT_EQ(*setup.response.Find("CSeq"), "0");
  const std::string& session = *setup.response.Find("Session");
  EXPECT_EQ(session.size(), 16u + std::string(";timeout=60").size());
  EXPECT_EQ(session.substr(16), ";timeout=60");
  EXPECT_EQ(*setup.response.Find("Transport"),
            "RTP/AVP;unicast;destination=10.0.0.2;client_port=40000-40001;server_port=6970-6971");
  EXPECT_EQ(*setup.response.Find("com.ses.streamID"), "1");
  EXPECT_EQ(Texts(setup.actions), (Texts_{"tune 11778v", "pids 1 0,17"}));

  const Outcome play = Send("PLAY", base + "stream=1", 1, SessionOf(setup));
  ASSERT_EQ(play.response.status, 200) << play.note;
  EXPECT_EQ(Texts(play.actions), (Texts_{"start 1 udp 10.0.0.2:40000-40001"}));

  // Kept alive by OPTIONS past its first timeout; the connection's end does not end it.
  now_ += seconds(50);
  const Outcome options = Send("OPTIONS", base, 2, SessionOf(setup));
  EXPECT_EQ(*options.response.Find("Public"), "OPTIONS, DESCRIBE, SETUP, PLAY, TEARDOWN");
  EXPECT_TRUE(sessions_.ConnectionClosed(1).empty());
  now_ += seconds(50);
  EXPECT_TRUE(sessions_.Expire(now_).empty());

  EXPECT_EQ(Texts(Send("PLAY", base + "stream=1?addpids=18", 3, SessionOf(setup)).actions),
            (Texts_{"pids 1 0,17,18"}));
  const Outcome teardown = Send("TEARDOWN", base + "stream=1", 4, SessionOf(setup));
  EXPECT_EQ(teardown.response.status, 200);
  EXPECT_EQ(Texts(teardown.actions), (Texts_{"end 1 teardown", "release"}));
  EXPECT_EQ(Send("OPTIONS", base, 5, SessionOf(setup)).response.status, 454);
}

TEST_F(SatipSessions, FfmpegOverUdpDescribesFirstThenPlaysOnTheBaseUrl) {
  const std::string url = "rtsp://127.0.0.1:8554/?" + kTransponderA + "&pids=0,17,18";
  EXPECT_TRUE(Send("OPTIONS", url, 1).actions.empty());
  const Outcome describe = Send("DESCRIBE", url, 2, "Accept: application/sdp\r\n");
  ASSERT_EQ(describe.response.status, 200) << describe.note;
  EXPECT_EQ(*describe.response.Find("Content-Type"), "application/sdp");
  EXPECT_EQ(*describe.response.Find("Content-Base"), "rtsp://127.0.0.1:8554/");
  EXPECT_NE(
      describe.response.body.find("a=control:stream=1\r\na=fmtp:33 ver=1.0;src=1;tuner=1,200,1,12,"
                                  "11778.00,v,dvbs,qpsk,off,0.35,27500,34;pids=0,17,18\r\n"
                                  "a=inactive\r\n"),
      std::string::npos)
      << describe.response.body;
  EXPECT_EQ(Texts(describe.actions), (Texts_{"tune 11778v", "pids 1 0,17,18"}));

  const Outcome setup = Send("SETUP", "rtsp://127.0.0.1:8554/stream=1", 3,
                             "Transport: RTP/AVP/UDP;unicast;client_port=16416-16417\r\n");
  ASSERT_EQ(setup.response.status, 200) << setup.note;
  EXPECT_EQ(*setup.response.Find("com.ses.streamID"), "1");
  EXPECT_TRUE(setup.actions.empty());
  const Outcome play =
      Send("PLAY", "rtsp://127.0.0.1:8554/", 4, "Range: npt=0.000-\r\n" + SessionOf(setup));
  EXPECT_EQ(Texts(play.actions), (Texts_{"start 1 udp 10.0.0.2:16416-16417"}));
  EXPECT_NE(Send("DESCRIBE", "rtsp://127.0.0.1:8554/", 5, SessionOf(setup))
                .response.body.find("a=sendonly"),
            std::string::npos);
  EXPECT_EQ(Texts(Send("TEARDOWN", "rtsp://127.0.0.1:8554/", 6, SessionOf(setup)).actions),
            (Texts_{"end 1 teardown", "release"}));
  EXPECT_EQ(Send("DESCRIBE", "rtsp://127.0.0.1:8554/", 7).response.status, 404);
}

TEST_F(SatipSessions, FfmpegOverTcpStreamsInTheConnectionAndEndsWithIt) {
  const std::string url = "rtsp://127.0.0.1:8554/?" + kTransponderA + "&pids=all";
  ASSERT_EQ(Send("DESCRIBE", url, 2, "", "127.0.0.1", 7).response.status, 200);
  const Outcome setup = Send("SETUP", "rtsp://127.0.0.1:8554/stream=1", 3,
                             "Transport: RTP/AVP/TCP;unicast;interleaved=0-1\r\n", "127.0.0.1", 7);
  ASSERT_EQ(setup.response.status, 200) << setup.note;
  EXPECT_EQ(*setup.response.Find("Transport"), "RTP/AVP/TCP;unicast;interleaved=0-1");
  EXPECT_EQ(
      Texts(Send("PLAY", "rtsp://127.0.0.1:8554/", 4, SessionOf(setup), "127.0.0.1", 7).actions),
      (Texts_{"start 1 tcp 7 0-1"}));
  EXPECT_TRUE(sessions_.ConnectionClosed(8).empty());
  EXPECT_EQ(Texts(sessions_.ConnectionClosed(7)), (Texts_{"end 1 closed", "release"}));
}

TEST_F(SatipSessions, ClientsOnOneTransponderShareTheTunerEachWithItsPids) {
  std::vector<Outcome> setups;
  for (int client = 1; client <= 4; ++client) {
    const std::string peer = "10.0.0." + std::to_string(10 + client);
    setups.push_back(Send(
        "SETUP", "rtsp://10.0.0.5/?" + kTransponderA + "&pids=0," + std::to_string(100 * client), 0,
        kVlcTransport, peer, client));
    ASSERT_EQ(setups.back().response.status, 200) << setups.back().note;
    EXPECT_EQ(Send("PLAY", "rtsp://10.0.0.5/stream=" + std::to_string(client), 1,
                   SessionOf(setups.back()), peer, client)
                  .response.status,
              200);
  }
  EXPECT_EQ(Texts(setups[0].actions), (Texts_{"tune 11778v", "pids 1 0,100"}));
  EXPECT_EQ(Texts(setups[3].actions), (Texts_{"pids 4 0,400"}));
  // One changes its PIDs; the others' stay as they were.
  EXPECT_EQ(Texts(Send("PLAY", "rtsp://10.0.0.5/stream=2?pids=0,17", 2, SessionOf(setups[1]),
                       "10.0.0.12", 2)
                      .actions),
            (Texts_{"pids 2 0,17"}));
  EXPECT_EQ(sessions_.Find(1)->pids.Text(), "0,100");

  // A fifth wants another transponder, one of the four wants to move there: 503.
  const Outcome fifth =
      Send("SETUP", "rtsp://10.0.0.5/?" + kTransponderB, 0, kVlcTransport, "10.0.0.20", 5);
  EXPECT_EQ(fifth.response.status, 503);
  EXPECT_TRUE(fifth.actions.empty());
  EXPECT_EQ(
      Send("PLAY", "rtsp://10.0.0.5/?" + kTransponderB, 3, SessionOf(setups[0]), "10.0.0.11", 1)
          .response.status,
      503);
  EXPECT_EQ(sessions_.streams().size(), 4u);
  EXPECT_EQ(satip::FormatKey("freq", satip::TuningQuery(*sessions_.card())), "11778");

  // The tuner is free when the last has gone, whether by TEARDOWN or timeout.
  for (int client = 1; client <= 3; ++client) {
    EXPECT_EQ(Texts(Send("TEARDOWN", "rtsp://10.0.0.5/", 9, SessionOf(setups[client - 1])).actions),
              (Texts_{"end " + std::to_string(client) + " teardown"}));
  }
  now_ += seconds(60);
  EXPECT_EQ(Texts(sessions_.Expire(now_)), (Texts_{"end 4 timeout", "release"}));
  const Outcome again =
      Send("SETUP", "rtsp://10.0.0.5/?" + kTransponderB, 0, kVlcTransport, "10.0.0.20", 5);
  EXPECT_EQ(Texts(again.actions), (Texts_{"tune 12012h", "pids 1 "}));

  // Alone on the tuner, a stream may move it.
  EXPECT_EQ(
      Texts(Send("PLAY", "rtsp://10.0.0.5/?" + kTransponderA, 1, SessionOf(again), "10.0.0.20", 5)
                .actions),
      (Texts_{"tune 11778v", "start 1 udp 10.0.0.20:40000-40001"}));
}

TEST_F(SatipSessions, SessionsNotKeptAliveEndAfterTheirTimeout) {
  const Outcome setup = Send("SETUP", "rtsp://10.0.0.5/?" + kTransponderA, 0, kVlcTransport);
  EXPECT_EQ(sessions_.NextExpiry(), now_ + seconds(60));
  // A stream DESCRIBE made waits 10 s for its SETUP.
  ASSERT_EQ(Send("DESCRIBE", "rtsp://10.0.0.5/?" + kTransponderA + "&pids=0", 1).response.status,
            200);
  EXPECT_EQ(sessions_.NextExpiry(), now_ + seconds(10));
  EXPECT_EQ(Texts(sessions_.Expire(now_ + seconds(10))), (Texts_{"end 2 timeout"}));
  now_ += seconds(59);
  EXPECT_TRUE(sessions_.Expire(now_).empty());
  now_ += seconds(1);
  EXPECT_EQ(Texts(sessions_.Expire(now_)), (Texts_{"end 1 timeout", "release"}));
  EXPECT_FALSE(sessions_.NextExpiry().has_value());
  EXPECT_EQ(Send("PLAY", "rtsp://10.0.0.5/stream=1", 1, SessionOf(setup)).response.status, 454);
}

TEST_F(SatipSessions, RequestsThatCannotBeServedAreRefusedAndChangeNothing) {
  const std::string setup_a = "rtsp://10.0.0.5/?" + kTransponderA;
  const struct {
    std::string method;
    std::string uri;
    std::string headers;
    int status;
    std::string note;  // how the reason begins
  } cases[] = {
      {"SETUP", setup_a,
       "Transport: RTP/AVP;unicast;destination=192.0.2.7;client_port=5000-5001\r\n", 403,
       "Transport: destination \"192.0.2.7\""},
      {"SETUP", setup_a, "Transport: RTP/AVP;multicast;destination=239.1.1.1\r\n", 461,
       "Transport:"},
      {"SETUP", setup_a, "Transport: RTP/AVP;unicast\r\n", 461, "Transport:"},
      {"SETUP", setup_a, "", 461, "Transport: missing"},
      {"SETUP", setup_a + "&pol=x", kVlcTransport, 400, "pol:"},
      {"SETUP", "rtsp://10.0.0.5/?freq=11778&sr=27500", kVlcTransport, 400, "pol: missing"},
      {"SETUP", "rtsp://10.0.0.5/?freq=11778&pol=v&sr=27500&src=5", kVlcTransport, 400,
       "src: 5 is not served"},
      {"SETUP", setup_a + "&fe=2", kVlcTransport, 503, "fe: 2"},
      {"SETUP", "rtsp://10.0.0.5/?freq=3880&pol=r&sr=27500", kVlcTransport, 403, "the card's LNB"},
      {"SETUP", "rtsp://10.0.0.5/stream=1", kVlcTransport, 404, "no stream 1"},
      {"SETUP", "rtsp://10.0.0.5/desc.xml", kVlcTransport, 404, "no such path"},
      {"PLAY", "rtsp://10.0.0.5/stream=1", "", 454, "no Session header"},
      {"PLAY", "rtsp://10.0.0.5/stream=1", "Session: 1234567890123456\r\n", 454, "Session:"},
      {"TEARDOWN", "rtsp://10.0.0.5/", "Session: 1234567890123456\r\n", 454, "Session:"},
      {"DESCRIBE", "rtsp://10.0.0.5/stream=1", "", 404, "no stream 1"},
      {"GET_PARAMETER", "rtsp://10.0.0.5/", "", 501, "\"GET_PARAMETER\" is not served"},
  };
  for (const auto& c : cases) {
    const Outcome outcome = Send(c.method, c.uri, 3, c.headers);
    EXPECT_EQ(outcome.response.status, c.status)
        << c.method << " " << c.uri << ": " << outcome.note;
    EXPECT_EQ(outcome.note.rfind(c.note, 0), 0u) << outcome.note;
    EXPECT_EQ(*outcome.response.Find("CSeq"), "3");
    EXPECT_TRUE(outcome.actions.empty()) << c.method << " " << c.uri;
  }
  EXPECT_TRUE(sessions_.streams().empty());
  EXPECT_FALSE(sessions_.card().has_value());

  // The client's own address, as IPv4 mapped into IPv6, is its own.
  EXPECT_EQ(Send("SETUP", setup_a, 4,
                 "Transport: RTP/AVP;unicast;destination=10.0.0.2;client_port=5000-5001\r\n",
                 "::ffff:10.0.0.2")
                .response.status,
            200);
  // A stream DESCRIBE made is set up only by the client it was made for.
  ASSERT_EQ(Send("DESCRIBE", setup_a, 5).response.status, 200);
  EXPECT_EQ(
      Send("SETUP", "rtsp://10.0.0.5/stream=2", 6, kVlcTransport, "10.0.0.66").response.status,
      404);
  // A session set up without a tuning plays only once it has one.
  const Outcome bare = Send("SETUP", "rtsp://10.0.0.5/", 7, kVlcTransport);
  ASSERT_EQ(bare.response.status, 200);
  EXPECT_EQ(Send("PLAY", "rtsp://10.0.0.5/", 8, SessionOf(bare)).response.status, 400);
  EXPECT_EQ(Send("PLAY", "rtsp://10.0.0.5/stream=1", 9, SessionOf(bare)).response.status, 400);
  // --max-sessions: 8 by default.
  while (sessions_.streams().size() < 8) {
    ASSERT_EQ(Send("SETUP", setup_a, 10, kVlcTransport).response.status, 200);
  }
  EXPECT_EQ(Send("SETUP", setup_a, 11, kVlcTransport).note, "at most 8 sessions");
}

TEST_F(SatipSessions, SessionIdsAndSsrcsComeFromTheCallersRandomBits) {
  const Outcome first = Send("SETUP", "rtsp://10.0.0.5/?" + kTransponderA, 0, kVlcTransport);
  const Outcome second = Send("SETUP", "rtsp://10.0.0.5/?" + kTransponderA, 0, kVlcTransport);
  EXPECT_NE(SessionOf(first), SessionOf(second));
  EXPECT_NE(sessions_.Find(1)->ssrc, sessions_.Find(2)->ssrc);
}

TEST_F(SatipSessions, HttpStreamsPlayAtOnceAndEndWithTheirConnection) {
  const auto get = [&](const std::string& method, const std::string& uri) {
    satip::Message request;
    EXPECT_EQ(satip::ParseMessage(method + " " + uri + " HTTP/1.1\r\nHost: 10.0.0.5:8080\r\n\r\n",
                                  &request),
              satip::ReadError::kNone);
    return sessions_.HandleHttp(request, Context("10.0.0.2", 9));
  };
  const Outcome stream = get("GET", "/?" + kTransponderA + "&pids=0,17");
  ASSERT_EQ(stream.response.status, 200) << stream.note;
  EXPECT_EQ(stream.response.version, "HTTP/1.1");
  EXPECT_EQ(*stream.response.Find("Content-Type"), "video/MP2T");
  EXPECT_EQ(Texts(stream.actions), (Texts_{"tune 11778v", "pids 1 0,17", "start 1 http 9"}));
  EXPECT_TRUE(sessions_.Expire(now_ + seconds(3600)).empty());
  EXPECT_EQ(Texts(sessions_.ConnectionClosed(9)), (Texts_{"end 1 closed", "release"}));

  EXPECT_EQ(get("GET", "/?pids=0").response.status, 400);
  EXPECT_EQ(get("GET", "/stream=1").response.status, 404);
  EXPECT_EQ(get("POST", "/?" + kTransponderA).response.status, 405);
  EXPECT_TRUE(sessions_.streams().empty());
}

}  // namespace
