// The server's request handling: one routine per method, over a list of
// streams and the tuning the card holds.
#include "satip/sessions.h"

#include <algorithm>
#include <utility>

#include "satip/sdp.h"
#include "satip/text.h"
#include "satip/url.h"

namespace satip {

namespace {

constexpr char kPublic[] = "OPTIONS, DESCRIBE, SETUP, PLAY, TEARDOWN";
constexpr int kTuners = 1;
// A stream a DESCRIBE made waits this long (at most) for its SETUP.
constexpr std::chrono::seconds kUnclaimedHold{10};

Outcome Refuse(const Message& request, int status, std::string note) {
  Outcome outcome;
  outcome.response = Respond(request, status);
  outcome.response.Add("Content-Type", "text/plain");
  outcome.response.body = note + "\r\n";
  outcome.note = std::move(note);
  return outcome;
}

// Addresses as text compare equal also when one is an IPv4 address mapped
// into IPv6 ("::ffff:10.0.0.2") or in brackets.
std::string PlainAddress(std::string_view address) {
  if (address.size() > 2 && address.front() == '[' && address.back() == ']') {
    address = address.substr(1, address.size() - 2);
  }
  if (StartsWithIgnoringCase(address, "::ffff:") && address.find('.') != std::string_view::npos) {
    address.remove_prefix(7);
  }
  std::string plain(address);
  std::transform(plain.begin(), plain.end(), plain.begin(),
                 [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; });
  return plain;
}

std::uint32_t SsrcFrom(std::uint64_t random) {
  return static_cast<std::uint32_t>((random * 0x9E3779B97F4A7C15u) >> 32);
}

// The URL and its query, or the refusal of a request whose URL is not one of ours.
bool ReadUrl(const Message& request, Url* url, Query* query, Outcome* refusal) {
  std::string error;
  if (!ParseUrl(request.uri, url, &error)) {
    *refusal = Refuse(request, 400, error);
    return false;
  }
  if (url->path != "/" && url->path != "*" && !url->stream) {
    *refusal = Refuse(request, 404, "no such path: " + Quoted(url->path));
    return false;
  }
  if (url->has_query && !ParseQuery(url->query, query, &error)) {
    *refusal = Refuse(request, 400, error);
    return false;
  }
  return true;
}

}  // namespace

const Stream* Sessions::Find(int stream) const {
  for (const Stream& candidate : streams_) {
    if (candidate.id == stream) {
      return &candidate;
    }
  }
  return nullptr;
}

Stream* Sessions::ById(int id) { return const_cast<Stream*>(Find(id)); }

std::string Sessions::StatusOf(const Stream& stream, const Signal& signal) {
  return StatusText(kFrontend, stream.tuning, stream.tuning ? signal : Signal(), stream.pids);
}

Outcome Sessions::Handle(const Message& request, const Context& context) {
  if (request.response) {
    return Refuse(request, 400, "a response, not a request");
  }
  if (request.version != "RTSP/1.0") {
    return Refuse(request, 505, "RTSP/1.0 only");
  }
  const std::string& method = request.method;
  if (method == "OPTIONS") {
    return Options(request, context);
  }
  // The methods on a URL: it is read, and refused when it is not one of ours, first.
  using Handler = Outcome (Sessions::*)(const Message&, const Url&, const Query&, const Context&);
  static const std::pair<std::string_view, Handler> kHandlers[] = {
      {"DESCRIBE", &Sessions::Describe},
      {"SETUP", &Sessions::SetUp},
      {"PLAY", &Sessions::Play},
      {"TEARDOWN", &Sessions::Teardown},
  };
  for (const auto& [name, handler] : kHandlers) {
    if (method == name) {
      Url url;
      Query query;
      Outcome refusal;
      if (!ReadUrl(request, &url, &query, &refusal)) {
        return refusal;
      }
      return (this->*handler)(request, url, query, context);
    }
  }
  Outcome outcome = Refuse(request, 501, Quoted(method) + " is not served");
  outcome.response.Add("Public", kPublic);
  return outcome;
}

Stream* Sessions::SessionOf(const Message& request, Refusal* refusal) {
  const std::string* text = request.Find("Session");
  SessionHeader header;
  if (text == nullptr || !ParseSessionHeader(*text, &header)) {
    *refusal = {454, text == nullptr ? "no Session header" : "Session: malformed"};
    return nullptr;
  }
  for (Stream& stream : streams_) {
    if (!stream.session.empty() && stream.session == header.id) {
      return &stream;
    }
  }
  *refusal = {454, "Session: " + Quoted(header.id) + " is not open"};
  return nullptr;
}

Stream* Sessions::SessionFor(const Message& request, const Url& url, Outcome* refusal) {
  Refusal reason;
  Stream* stream = SessionOf(request, &reason);
  if (stream == nullptr) {
    *refusal = Refuse(request, reason.status, reason.note);
  } else if (url.stream && *url.stream != stream->id) {
    *refusal =
        Refuse(request, 400, "stream " + std::to_string(*url.stream) + " is not this session's");
    stream = nullptr;
  }
  return stream;
}

std::string Sessions::SessionIdFrom(std::uint64_t random) const {
  // 16 decimal digits, the first not 0: about 53 random bits.
  for (;;) {
    std::string id = std::to_string(1000000000000000u + random % 9000000000000000u);
    if (std::none_of(streams_.begin(), streams_.end(),
                     [&](const Stream& stream) { return stream.session == id; })) {
      return id;
    }
    random = random * 6364136223846793005u + 1442695040888963407u;
  }
}

std::optional<Stream> Sessions::NewStream(const Context& context, Refusal* refusal) const {
  if (streams_.size() >= static_cast<std::size_t>(std::max(settings_.max_sessions, 0))) {
    *refusal = {503, "at most " + std::to_string(settings_.max_sessions) + " sessions"};
    return std::nullopt;
  }
  Stream stream;
  stream.id = 1;
  while (Find(stream.id) != nullptr) {
    ++stream.id;
  }
  stream.owner = context.peer_address;
  stream.ssrc = SsrcFrom(context.random);
  stream.expires = context.now + settings_.timeout;
  return stream;
}

bool Sessions::Change(const Query& query, const Stream& stream, std::optional<Tuning>* tuning,
                      PidSet* pids, Refusal* refusal) const {
  *tuning = stream.tuning;
  *pids = stream.pids;
  std::string error;
  if (!ApplyTuning(query, tuning, &error) || !ApplyPids(query, pids, &error)) {
    *refusal = {400, error};
    return false;
  }
  if (!*tuning) {
    return true;
  }
  const Tuning& wanted = **tuning;
  if (wanted.src > settings_.sources) {
    *refusal = {400, "src: " + std::to_string(wanted.src) + " is not served (1.." +
                         std::to_string(settings_.sources) + ")"};
    return false;
  }
  if (wanted.fe && *wanted.fe != kFrontend) {
    *refusal = {503, "fe: " + std::to_string(*wanted.fe) + " is not a frontend of this server (" +
                         std::to_string(kFrontend) + ")"};
    return false;
  }
  if (settings_.refusal) {
    if (std::string reason = settings_.refusal(wanted); !reason.empty()) {
      *refusal = {403, std::move(reason)};
      return false;
    }
  }
  const bool others = std::any_of(streams_.begin(), streams_.end(), [&](const Stream& other) {
    return other.id != stream.id && other.tuning;
  });
  if (card_ && others && !SameTransponder(*card_, wanted)) {
    *refusal = {503, "the tuner is held by other streams on another transponder"};
    return false;
  }
  return true;
}

void Sessions::Commit(Stream* stream, const std::optional<Tuning>& tuning, const PidSet& pids,
                      bool made, std::vector<Action>* actions) {
  const bool pids_changed = made || pids != stream->pids;
  stream->tuning = tuning;
  stream->pids = pids;
  if (tuning && (!card_ || !SameTransponder(*card_, *tuning))) {
    card_ = tuning;
    actions->push_back(TuneCard{*tuning});
  }
  if (pids_changed) {
    actions->push_back(SetPids{stream->id, pids});
  }
  ++version_;
}

Stream* Sessions::Apply(const Query& query, Stream* stream, std::string_view untuned,
                        const Context& context, Refusal* refusal, std::vector<Action>* actions) {
  std::optional<Stream> made;
  if (stream == nullptr) {
    made = NewStream(context, refusal);
    if (!made) {
      return nullptr;
    }
  }
  std::optional<Tuning> tuning;
  PidSet pids;
  if (!Change(query, made ? *made : *stream, &tuning, &pids, refusal)) {
    return nullptr;
  }
  if (!tuning && !untuned.empty()) {
    *refusal = {400, std::string(untuned)};
    return nullptr;
  }
  if (made) {
    streams_.push_back(*made);
    stream = &streams_.back();
  }
  Commit(stream, tuning, pids, made.has_value(), actions);
  return stream;
}

void Sessions::End(std::size_t index, EndReason reason, std::vector<Action>* actions) {
  actions->push_back(EndStream{streams_[index].id, reason});
  streams_.erase(streams_.begin() + static_cast<std::ptrdiff_t>(index));
  ++version_;
  const bool held = std::any_of(streams_.begin(), streams_.end(),
                                [](const Stream& stream) { return stream.tuning.has_value(); });
  if (card_ && !held) {
    card_.reset();
    actions->push_back(ReleaseTuner{});
  }
}

Outcome Sessions::Options(const Message& request, const Context& context) {
  Outcome outcome;
  outcome.response = Respond(request, 200);
  outcome.response.Add("Public", kPublic);
  if (request.Find("Session") != nullptr) {
    Refusal refusal;
    Stream* stream = SessionOf(request, &refusal);
    if (stream == nullptr) {
      return Refuse(request, refusal.status, refusal.note);
    }
    stream->expires = context.now + settings_.timeout;
    outcome.response.Add("Session", stream->session);
  }
  return outcome;
}

Outcome Sessions::Describe(const Message& request, const Url& url, const Query& query,
                           const Context& context) {
  Outcome outcome;
  outcome.response = Respond(request, 200);
  std::vector<const Stream*> described;
  Refusal refusal;
  if (request.Find("Session") != nullptr) {
    Stream* stream = SessionOf(request, &refusal);
    if (stream == nullptr) {
      return Refuse(request, refusal.status, refusal.note);
    }
    stream->expires = context.now + settings_.timeout;
    described.push_back(stream);
  } else if (!url.stream && HasTuning(query)) {
    // A generic RTSP client describes the stream before its SETUP: make it.
    Stream* made = Apply(query, nullptr, "", context, &refusal, &outcome.actions);
    if (made == nullptr) {
      return Refuse(request, refusal.status, refusal.note);
    }
    made->expires = context.now + std::min(settings_.timeout, kUnclaimedHold);
    described.push_back(made);
  } else {
    for (const Stream& stream : streams_) {
      if (!url.stream || *url.stream == stream.id) {
        described.push_back(&stream);
      }
    }
  }
  if (described.empty()) {
    return Refuse(
        request, 404,
        url.stream ? "no stream " + std::to_string(*url.stream) : "no stream to describe");
  }
  std::vector<SdpStream> sdp;
  sdp.reserve(described.size());
  for (const Stream* stream : described) {
    sdp.push_back({stream->id, StatusOf(*stream, context.signal), stream->playing});
  }
  outcome.response.Add("Content-Type", "application/sdp");
  if (!url.base.empty()) {
    outcome.response.Add("Content-Base", url.base);
  }
  outcome.response.body = DescribeSdp(
      context.local_address.empty() ? "0.0.0.0" : context.local_address, version_, kTuners, sdp);
  return outcome;
}

Outcome Sessions::SetUp(const Message& request, const Url& url, const Query& query,
                        const Context& context) {
  Outcome outcome;
  // The transport: the first unicast offer the server can send.
  const std::string* header = request.Find("Transport");
  std::vector<Transport> offers;
  std::string error;
  if (header == nullptr || !ParseTransports(*header, &offers, &error)) {
    return Refuse(request, 461, header == nullptr ? "Transport: missing" : error);
  }
  const auto offer = std::find_if(offers.begin(), offers.end(), [](const Transport& t) {
    return !t.multicast && (t.tcp || t.client_port);
  });
  if (offer == offers.end()) {
    return Refuse(request, 461,
                  "Transport: unicast RTP/AVP with client_port, or RTP/AVP/TCP, is served");
  }
  if (offer->destination &&
      PlainAddress(*offer->destination) != PlainAddress(context.peer_address)) {
    return Refuse(request, 403,
                  "Transport: destination " + Quoted(*offer->destination) +
                      " is not the client's address; streams go only to the client");
  }
  Destination destination;
  Transport answer;
  answer.tcp = offer->tcp;
  if (offer->tcp) {
    destination.kind = Destination::Kind::kInterleaved;
    destination.ports = offer->interleaved.value_or(PortPair{0, 1});
    destination.connection = context.connection;
    answer.interleaved = destination.ports;
  } else {
    destination.address = context.peer_address;
    destination.ports = *offer->client_port;
    answer.destination = context.peer_address;
    answer.client_port = destination.ports;
    if (settings_.rtp_port != 0 && settings_.rtp_port < 65535) {
      answer.server_port =
          PortPair{settings_.rtp_port, static_cast<std::uint16_t>(settings_.rtp_port + 1)};
    }
  }

  // The stream: the session's own, one a DESCRIBE made for this client, or a new one.
  Stream* stream = nullptr;
  if (request.Find("Session") != nullptr) {
    stream = SessionFor(request, url, &outcome);
    if (stream == nullptr) {
      return outcome;
    }
  } else if (url.stream) {
    stream = ById(*url.stream);
    if (stream == nullptr || !stream->session.empty() || stream->destination ||
        PlainAddress(stream->owner) != PlainAddress(context.peer_address)) {
      return Refuse(request, 404, "no stream " + std::to_string(*url.stream) + " to set up");
    }
  }
  Refusal refusal;
  stream = Apply(query, stream, "", context, &refusal, &outcome.actions);
  if (stream == nullptr) {
    return Refuse(request, refusal.status, refusal.note);
  }
  if (stream->session.empty()) {
    stream->session = SessionIdFrom(context.random);
  }
  stream->destination = destination;
  stream->expires = context.now + settings_.timeout;
  if (stream->playing) {
    outcome.actions.push_back(StartStreaming{stream->id, destination, stream->ssrc});
  }
  outcome.response = Respond(request, 200);
  outcome.response.Add(
      "Session",
      FormatSessionHeader({stream->session, static_cast<int>(settings_.timeout.count())}));
  outcome.response.Add("Transport", FormatTransport(answer));
  outcome.response.Add("com.ses.streamID", std::to_string(stream->id));
  return outcome;
}

Outcome Sessions::Play(const Message& request, const Url& url, const Query& query,
                       const Context& context) {
  Outcome outcome;
  Stream* stream = SessionFor(request, url, &outcome);
  if (stream == nullptr) {
    return outcome;
  }
  Refusal refusal;
  if (Apply(query, stream, "freq: missing (the stream has no tuning to play)", context, &refusal,
            &outcome.actions) == nullptr) {
    return Refuse(request, refusal.status, refusal.note);
  }
  stream->expires = context.now + settings_.timeout;
  if (!stream->playing) {
    stream->playing = true;
    outcome.actions.push_back(StartStreaming{stream->id, *stream->destination, stream->ssrc});
  }
  outcome.response = Respond(request, 200);
  outcome.response.Add("Session", stream->session);
  return outcome;
}

Outcome Sessions::Teardown(const Message& request, const Url& url, const Query&, const Context&) {
  Outcome outcome;
  Stream* stream = SessionFor(request, url, &outcome);
  if (stream == nullptr) {
    return outcome;
  }
  outcome.response = Respond(request, 200);
  outcome.response.Add("Session", stream->session);
  End(static_cast<std::size_t>(stream - streams_.data()), EndReason::kTeardown, &outcome.actions);
  return outcome;
}

Outcome Sessions::HandleHttp(const Message& request, const Context& context) {
  if (request.response || request.version.substr(0, 5) != "HTTP/") {
    return Refuse(request, 400, "not an HTTP request");
  }
  if (request.method != "GET") {
    Outcome outcome = Refuse(request, 405, Quoted(request.method) + " is not served");
    outcome.response.Add("Allow", "GET");
    return outcome;
  }
  Url url;
  Query query;
  Outcome outcome;
  if (!ReadUrl(request, &url, &query, &outcome)) {
    return outcome;
  }
  if (url.path != "/") {
    return Refuse(request, 404, "no such path: " + Quoted(url.path));
  }
  Refusal refusal;
  Stream* stream = Apply(query, nullptr, "freq: missing (the query asks for no tuning)", context,
                         &refusal, &outcome.actions);
  if (stream == nullptr) {
    return Refuse(request, refusal.status, refusal.note);
  }
  stream->destination = Destination{Destination::Kind::kHttp, "", {}, context.connection};
  stream->playing = true;
  outcome.actions.push_back(StartStreaming{stream->id, *stream->destination, stream->ssrc});
  outcome.response = Respond(request, 200);
  outcome.response.Add("Content-Type", "video/MP2T");
  outcome.response.Add("Connection", "close");
  return outcome;
}

std::vector<Action> Sessions::Expire(Time now) {
  std::vector<Action> actions;
  for (std::size_t i = streams_.size(); i-- > 0;) {
    const Stream& stream = streams_[i];
    const bool http = stream.destination && stream.destination->kind == Destination::Kind::kHttp;
    if (!http && stream.expires <= now) {
      End(i, EndReason::kTimeout, &actions);
    }
  }
  return actions;
}

std::optional<Time> Sessions::NextExpiry() const {
  std::optional<Time> next;
  for (const Stream& stream : streams_) {
    const bool http = stream.destination && stream.destination->kind == Destination::Kind::kHttp;
    if (!http && (!next || stream.expires < *next)) {
      next = stream.expires;
    }
  }
  return next;
}

std::vector<Action> Sessions::ConnectionClosed(std::uint64_t connection) {
  std::vector<Action> actions;
  for (std::size_t i = streams_.size(); i-- > 0;) {
    const std::optional<Destination>& destination = streams_[i].destination;
    if (destination && destination->kind != Destination::Kind::kUdp &&
        destination->connection == connection) {
      End(i, EndReason::kConnectionClosed, &actions);
    }
  }
  return actions;
}

}  // namespace satip
