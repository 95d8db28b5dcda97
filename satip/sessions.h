// The server's handling of RTSP and HTTP requests as plain logic: given a
// parsed request, who sent it and the time, the response and what the server
// must do (tune the card, set a stream's PIDs, start or end a stream, free the
// tuner). No I/O: the server owns the sockets, the card and the clock, and
// calls Expire from a timer.
//
// One card with one tuner (fe=1). Streams on the same transponder share it,
// each with its own PIDs; a stream that asks for another transponder while
// others hold the tuner gets 503. Requests as real clients send them:
//   VLC     SETUP rtsp://h/?src=1&freq=...  (CSeq: 0), PLAY rtsp://h/stream=N,
//           OPTIONS with the session to keep it alive
//   ffmpeg  DESCRIBE rtsp://h/?src=1&freq=... (which makes the stream),
//           SETUP rtsp://h/stream=1, then PLAY and TEARDOWN on rtsp://h/
// A session is found by its Session header whatever the URL, and outlives its
// TCP connection (but for one whose RTP travels in it); one not kept alive by
// OPTIONS, DESCRIBE, SETUP or PLAY ends after its timeout. RTP goes only to
// the address of the peer that made the session.
#pragma once
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "satip/message.h"
#include "satip/pids.h"
#include "satip/query.h"
#include "satip/status.h"
#include "satip/transport.h"
#include "satip/url.h"

namespace satip {

using Time = std::chrono::steady_clock::time_point;

// The one frontend, the number fe= and the status string give it.
constexpr int kFrontend = 1;

struct Settings {
  int max_sessions = 8;  // streams at once, the ones DESCRIBE made included
  std::chrono::seconds timeout{60};
  int sources = 4;             // src 1..sources
  std::uint16_t rtp_port = 0;  // the server's RTP port (RTCP the next), as server_port; 0: none
  // Why the card cannot take a tuning at all (the LNB's range, a code rate it
  // does not know), answered 403 with the reason; "" or none: it can.
  std::function<std::string(const Tuning&)> refusal;
};

struct Context {
  std::string peer_address;      // the client's address, as its connection gives it
  std::string local_address;     // the server's address the client reached (for SDP)
  std::uint64_t connection = 0;  // the connection the request came on
  Time now;
  std::uint64_t random = 0;  // fresh random bits: a new session's ID and SSRC come from them
  Signal signal;             // the card's latest figures, for DESCRIBE's status
};

// Where a stream's RTP goes.
struct Destination {
  enum class Kind : std::uint8_t { kUdp, kInterleaved, kHttp };
  Kind kind = Kind::kUdp;
  std::string address;           // kUdp: the peer's
  PortPair ports;                // kUdp: RTP and RTCP ports; kInterleaved: channels
  std::uint64_t connection = 0;  // kInterleaved, kHttp
};

struct Stream {
  int id = 0;           // stream=N, com.ses.streamID
  std::string session;  // empty for HTTP, and for a DESCRIBE's stream until its SETUP
  std::string owner;    // the address of the peer that made it
  std::optional<Tuning> tuning;
  PidSet pids;
  std::optional<Destination> destination;
  bool playing = false;
  std::uint32_t ssrc = 0;
  Time expires;  // not for HTTP, which ends with its connection
};

// What the server must do, in this order.
struct TuneCard {  // tune off the event loop; no lock is reported as lock=0 later
  Tuning tuning;
};
struct SetPids {  // the stream's PIDs from now on (also when a stream is made)
  int stream;
  PidSet pids;
};
struct StartStreaming {  // send the stream's packets there, from now on
  int stream;
  Destination destination;
  std::uint32_t ssrc;
};
enum class EndReason : std::uint8_t { kTeardown, kTimeout, kConnectionClosed };
struct EndStream {  // stop sending and forget the stream
  int stream;
  EndReason reason;
};
struct ReleaseTuner {};  // no stream holds the tuner: stop recording
using Action = std::variant<TuneCard, SetPids, StartStreaming, EndStream, ReleaseTuner>;

struct Outcome {
  Message response;
  std::vector<Action> actions;
  std::string note;  // why the request was refused (also the response's body); "" if it was not
};

class Sessions {
 public:
  explicit Sessions(const Settings& settings) : settings_(settings) {}

  // An RTSP request: OPTIONS, DESCRIBE, SETUP, PLAY, TEARDOWN; 501 for others.
  Outcome Handle(const Message& request, const Context& context);
  // An HTTP request for a stream, GET /?query: a stream that plays at once in
  // the connection, until it closes (the server answers other paths itself).
  Outcome HandleHttp(const Message& request, const Context& context);

  // Ends the streams not kept alive; the server calls it at NextExpiry.
  std::vector<Action> Expire(Time now);
  std::optional<Time> NextExpiry() const;
  // Ends the streams that travel in that connection (HTTP, interleaved RTP).
  std::vector<Action> ConnectionClosed(std::uint64_t connection);

  const std::vector<Stream>& streams() const { return streams_; }
  const Stream* Find(int stream) const;
  // The tuning the card was last given while a stream holds it.
  const std::optional<Tuning>& card() const { return card_; }
  // A stream's status string for its RTCP and DESCRIBE.
  static std::string StatusOf(const Stream& stream, const Signal& signal);

 private:
  struct Refusal {
    int status = 0;
    std::string note;
  };

  Outcome Options(const Message& request, const Context& context);
  // The methods on a URL, once it is read.
  Outcome Describe(const Message& request, const Url& url, const Query& query,
                   const Context& context);
  Outcome SetUp(const Message& request, const Url& url, const Query& query, const Context& context);
  Outcome Play(const Message& request, const Url& url, const Query& query, const Context& context);
  Outcome Teardown(const Message& request, const Url& url, const Query& query,
                   const Context& context);

  // The session the request's Session header names, or why there is none.
  Stream* SessionOf(const Message& request, Refusal* refusal);
  // The same, when the URL names its stream or none; else the refusal.
  Stream* SessionFor(const Message& request, const Url& url, Outcome* refusal);
  // A new stream, or why there can be none.
  std::optional<Stream> NewStream(const Context& context, Refusal* refusal) const;
  // The stream's tuning and PIDs after the query, checked against the tuner.
  bool Change(const Query& query, const Stream& stream, std::optional<Tuning>* tuning, PidSet* pids,
              Refusal* refusal) const;
  void Commit(Stream* stream, const std::optional<Tuning>& tuning, const PidSet& pids, bool made,
              std::vector<Action>* actions);
  // The query applied to `stream`, or to a new stream when it is null, and
  // the card told: the stream, or nullptr and why not (no room for a new
  // stream, the query refused, or, when `untuned` is not empty, the 400 note
  // for a stream the query leaves with no tuning).
  Stream* Apply(const Query& query, Stream* stream, std::string_view untuned,
                const Context& context, Refusal* refusal, std::vector<Action>* actions);
  void End(std::size_t index, EndReason reason, std::vector<Action>* actions);
  Stream* ById(int id);
  std::string SessionIdFrom(std::uint64_t random) const;

  Settings settings_;
  std::vector<Stream> streams_;
  std::optional<Tuning> card_;
  std::uint64_t version_ = 1;  // of the streams, for DESCRIBE's SDP
};

}  // namespace satip
