// The serve command: the card as a SAT>IP tuner on the network (satipserver/),
// its log, and the packets taken from the module's ring to the server on the
// loop's thread.
#include <chrono>
#include <ctime>
#include <functional>

#include <asio/io_context.hpp>
#include <asio/ip/host_name.hpp>
#include <asio/post.hpp>
#include <asio/steady_timer.hpp>

#include "host/options.h"
#include "host/packet_ring.h"
#include "host/program.h"
#include "host/report.h"
#include "host/serve_card.h"
#include "host/system.h"
#include "satipserver/server.h"

namespace host {

namespace {

// How often the loop takes the ring's packets: often enough that a datagram
// leaves within a few milliseconds of its packets' arrival, seldom enough
// that each taking fills whole datagrams at a transponder's rate.
constexpr auto kTakeEvery = std::chrono::milliseconds(4);
// At most this many packets a taking, so that the loop serves the others
// meanwhile when the card delivers faster than the clients take.
constexpr std::uint64_t kTakeAtMost = 16384;

double UnixTime() {
  return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

unsigned long long Count(std::uint64_t value) { return static_cast<unsigned long long>(value); }

// A UUID of 32 hex digits that stays the same for the same machine and port,
// so that clients know the server again after a restart.
std::string DeviceUuid(const std::string& seed) {
  std::uint64_t a = 14695981039346656037u;
  std::uint64_t b = 0x9E3779B97F4A7C15u;
  for (const char c : seed) {
    a = (a ^ static_cast<unsigned char>(c)) * 1099511628211u;
    b = (b ^ static_cast<unsigned char>(c)) * 0xBF58476D1CE4E5B9u;
  }
  const std::string hex = Format("%016llx%016llx", Count(a), Count(b));
  return hex.substr(0, 8) + "-" + hex.substr(8, 4) + "-" + hex.substr(12, 4) + "-" +
         hex.substr(16, 4) + "-" + hex.substr(20, 12);
}

std::string Joined(const std::vector<std::string>& pieces) {
  std::string text;
  for (const std::string& piece : pieces) {
    text += (text.empty() ? "" : ", ") + piece;
  }
  return text;
}

std::vector<std::string> Urls(const char* scheme, const std::vector<asio::ip::tcp::endpoint>& at) {
  std::vector<std::string> urls;
  for (const asio::ip::tcp::endpoint& endpoint : at) {
    const asio::ip::address& address = endpoint.address();
    urls.push_back(std::string(scheme) + "://" +
                   (address.is_v6() ? "[" + address.to_string() + "]" : address.to_string()) + ":" +
                   std::to_string(endpoint.port()) + "/");
  }
  return urls;
}

// The log: a line for each thing that happens, or with --json a JSON line each.
class ServeLog : public satipserver::Events {
 public:
  void Started(const satipserver::StreamReport& stream) override {
    ++streams_;
    Line({{"event", "session"},
          {"stream", stream.stream},
          {"peer", stream.peer},
          {"transport", stream.transport},
          {"query", stream.query}},
         Format("Session %-9d %s, %s: %s", stream.stream, stream.peer.c_str(),
                stream.transport.c_str(), stream.query.c_str()));
  }

  void Ended(const satipserver::StreamReport& stream, const char* reason) override {
    Line({{"event", "ended"},
          {"stream", stream.stream},
          {"peer", stream.peer},
          {"reason", reason},
          {"seconds", stream.seconds},
          {"packets", stream.packets},
          {"datagrams", stream.datagrams},
          {"dropped", stream.dropped}},
         Format("Ended %-11d %s by %s after %.1f s: %llu packets in %llu datagrams, %llu dropped",
                stream.stream, stream.peer.c_str(), reason, stream.seconds, Count(stream.packets),
                Count(stream.datagrams), Count(stream.dropped)));
  }

  void Tuned(const satipserver::TuneResult& result) override {
    Json line = {{"event", "tuned"},
                 {"transponder", result.text},
                 {"locked", result.locked},
                 {"seconds", result.seconds}};
    if (!result.problem.empty()) {
      line["problem"] = result.problem;
    }
    Line(line, Format("Tuned             %s: %s in %.2f s%s", result.text.c_str(),
                      result.locked ? "locked" : "no lock", result.seconds,
                      result.problem.empty() ? "" : ("; " + result.problem).c_str()));
  }

  void Refused(const std::string& peer, const std::string& request, int status,
               const std::string& why) override {
    Line({{"event", "refused"},
          {"peer", peer},
          {"request", request},
          {"status", status},
          {"reason", why}},
         Format("Refused           %s %s: %d %s", peer.c_str(), request.c_str(), status,
                why.c_str()));
  }

  int streams() const { return streams_; }

 private:
  static void Line(Json json, const std::string& text) {
    if (JsonReport()) {
      json["time"] = UnixTime();
      PrintJsonLine(json);
    } else {
      Say("%s\n", text.c_str());
    }
  }

  int streams_ = 0;
};

void ReportListening(const satipserver::Where& where, const satipserver::ServerSettings& settings,
                     const ServeOptions& serve) {
  std::vector<std::string> allowed;
  for (const satipserver::Network& network : serve.allow) {
    allowed.push_back(network.Text());
  }
  const std::vector<std::string> rtsp = Urls("rtsp", where.rtsp);
  const std::vector<std::string> http = Urls("http", where.http);
  const std::string discovery =
      where.discovery   ? "SSDP on 239.255.255.250:1900 as uuid:" + settings.description.uuid
      : serve.discovery ? "none: " + where.discovery_problem
                        : "off";
  if (JsonReport()) {
    PrintJsonLine({{"event", "listening"},
                   {"rtsp", rtsp},
                   {"http", http},
                   {"rtp_port", where.rtp_port},
                   {"discovery", where.discovery},
                   {"uuid", settings.description.uuid},
                   {"allow", allowed},
                   {"time", UnixTime()}});
  }
  Say("Listening         RTSP %s; HTTP %s; RTP and RTCP from UDP %u-%u\n", Joined(rtsp).c_str(),
      Joined(http).c_str(), static_cast<unsigned>(where.rtp_port),
      static_cast<unsigned>(where.rtp_port + 1));
  Say("Discovery         %s\nAdmitted          %s\n", discovery.c_str(), Joined(allowed).c_str());
}

satipserver::ServerSettings SettingsOf(const ServeOptions& serve) {
  satipserver::ServerSettings settings;
  settings.address = serve.listen.address;
  settings.rtsp_port = serve.listen.port.value_or(satipserver::kRtspPort);
  settings.http_port = serve.http_port;
  settings.allow = serve.allow;
  settings.max_sessions = serve.max_sessions;
  settings.session_timeout = std::chrono::seconds(serve.session_timeout);
  settings.discovery = serve.discovery;
  asio::error_code ignored;
  const std::string host = asio::ip::host_name(ignored);
  satip::DeviceDescription& description = settings.description;
  description.friendly_name = "Morvalind on " + host;
  description.manufacturer = "Morvalind";
  description.model_description = "a DVB-S card through Morvalind.dev, served by morvalind-host";
  description.model_name = "morvalind-host serve";
  description.model_number = VersionText();
  description.uuid = DeviceUuid(host + ":" + std::to_string(settings.rtsp_port));
  const std::string version = VersionText();
  settings.server = std::string(kWindowsSystem ? "Windows" : "Linux") + "/1.0 UPnP/1.1 Morvalind/" +
                    version.substr(0, version.find(' '));
  // Up by one at least at each start, as UPnP asks.
  settings.boot_id = static_cast<int>(std::time(nullptr) & 0x7FFFFFFF);
  return settings;
}

}  // namespace

int RunServe(const Options& options) {
  Session session(options.session);
  if (session.status() != kExitOk) {
    return session.status();
  }
  const ServeOptions& serve = options.serve;
  asio::io_context loop;
  ServeCard card(session.entries(), serve.lnb);
  ServeLog log;
  const satipserver::ServerSettings settings = SettingsOf(serve);
  satipserver::Server server(loop, &card, settings, &log);
  satipserver::Server::StartError error;
  if (!server.Start(&error)) {
    card.Stop();
    Fail(kExitFile, error.text + (error.permission ? "; listen on a port of its own instead, e.g. "
                                                     "--listen :8554"
                                                   : ""));
    ReportClose(session.Close());
    return kExitFile;
  }
  ReportListening(server.where(), settings, serve);

  // The ring's packets to the server, on the loop's thread, until a stop request.
  packet_ring.Discard();
  const std::uint64_t dropped_before = packet_ring.dropped();
  const char* stopped_by = nullptr;
  asio::steady_timer later(loop);
  std::function<void()> take = [&] {
    // What came before the last tune ended is of no transponder a client asked for.
    for (CaptureRing::Run run = packet_ring.Readable();
         run.packets > 0 && packet_ring.taken() < card.tuned_at(); run = packet_ring.Readable()) {
      packet_ring.Release(static_cast<std::size_t>(
          std::min<std::uint64_t>(run.packets, card.tuned_at() - packet_ring.taken())));
    }
    std::uint64_t budget = kTakeAtMost;
    for (CaptureRing::Run run = packet_ring.Readable(); run.packets > 0 && budget > 0;
         run = packet_ring.Readable()) {
      const auto count = static_cast<std::size_t>(std::min<std::uint64_t>(run.packets, budget));
      server.Deliver(run.data, count);
      packet_ring.Release(count);
      budget -= count;
    }
    stopped_by = StopRequest();
    if (stopped_by != nullptr) {
      server.Stop();
    } else if (budget == 0) {
      asio::post(loop, take);  // more is waiting: after what else the loop has to do
    } else {
      later.expires_after(kTakeEvery);
      later.async_wait([&](const asio::error_code& waited) {
        if (!waited) {
          take();
        }
      });
    }
  };
  take();
  loop.run();
  card.Stop();  // no entry is called from here on but the close

  const std::uint64_t dropped = packet_ring.dropped() - dropped_before;
  Report()["serve"] = {{"stopped_by", stopped_by != nullptr ? stopped_by : ""},
                       {"streams", log.streams()},
                       {"ring_dropped", dropped}};
  Say("Stopped           by %s after %d streams; %llu packets dropped before the server took "
      "them\n",
      stopped_by != nullptr ? stopped_by : "?", log.streams(), Count(dropped));
  return ReportClose(session.Close());
}

}  // namespace host
