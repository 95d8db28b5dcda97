// The SAT>IP server's packet path measured end to end on loopback: the
// stand-in card through the module into the host's packet ring, the server on
// its loop thread, RTP over UDP to 1 and to 8 clients that take the whole
// transport stream, at the stand-in's DVB-S rate (38 Mbit/s, paced) and at its
// highest (unpaced). Per run: what the clients received, the CPU of the server
// process and of its loop thread per delivered Mbit, RTP sequence gaps at the
// clients, and the time from the card's read (the module's callback) to the
// datagram's send. Linux only (the clients read with recvmmsg); not a test.
//
//   serve_bench [--seconds S] [--rounds R] [--clients 1,8] [--rates paced,unpaced]
//
// Each run is a process of its own (the card library reads its lineup when it
// loads), which forks the clients' process before it loads anything.
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <asio/io_context.hpp>
#include <asio/post.hpp>
#include <asio/steady_timer.hpp>

#include "host/packet_ring.h"
#include "host/report.h"
#include "host/serve_card.h"
#include "host/session.h"
#include "host/system.h"
#include "satipserver/server.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr char kQuery[] = "?src=1&freq=11778&pol=v&msys=dvbs&sr=27500&fec=34&pids=all";
constexpr std::uint64_t kStampEvery = 64;  // packets
constexpr std::size_t kStamps = 1 << 16;
constexpr auto kTakeEvery = std::chrono::milliseconds(4);  // as the serve command takes
constexpr std::uint64_t kTakeAtMost = 16384;

std::atomic<std::int64_t> stamps[kStamps];

std::int64_t Nanoseconds() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
      .count();
}

double Seconds(clockid_t clock) {
  timespec now{};
  clock_gettime(clock, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// The host's packet callback with the time of every 64th packet noted by its
// place in the ring.
std::int32_t MV_STDCALL StampedPacket(const std::uint8_t* packet, std::int32_t length) {
  if (packet != nullptr && length == static_cast<std::int32_t>(dvb::kTsPacketSize)) {
    const std::uint64_t index = host::packet_ring.pushed();
    if (index % kStampEvery == 0) {
      stamps[index / kStampEvery % kStamps].store(Nanoseconds(), std::memory_order_relaxed);
    }
    host::packet_ring.Push(packet);
  }
  return 0;
}

struct ClientFigures {
  std::uint64_t datagrams = 0;
  std::uint64_t packets = 0;
  std::uint64_t gaps = 0;  // datagrams missing by their sequence numbers
};

struct ServerFigures {
  double seconds = 0;
  double process_cpu = 0;
  double loop_cpu = 0;
  std::uint64_t sent = 0;     // TS packets, all clients
  std::uint64_t dropped = 0;  // by the server (full socket buffer)
  std::uint64_t ring_dropped = 0;
  double p50_ms = 0;
  double p99_ms = 0;
};

// Whole records through a pipe.
void Put(int pipe, const void* data, std::size_t size) {
  if (write(pipe, data, size) != static_cast<ssize_t>(size)) {
    std::exit(1);
  }
}
void Get(int pipe, void* data, std::size_t size) {
  auto* bytes = static_cast<char*>(data);
  for (std::size_t got = 0; got < size;) {
    const ssize_t now = read(pipe, bytes + got, size - got);
    if (now <= 0) {
      std::exit(1);
    }
    got += static_cast<std::size_t>(now);
  }
}

// ---- The clients' process: N RTSP sessions over UDP, received with recvmmsg.

int Connect(std::uint16_t port) {
  const int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return connect(s, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0 ? s : -1;
}

int BoundUdp(std::uint16_t* port) {
  const int s = socket(AF_INET, SOCK_DGRAM, 0);
  const int size = 32 << 20;
  setsockopt(s, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size);
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(s, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0) {
    std::exit(1);
  }
  socklen_t length = sizeof at;
  getsockname(s, reinterpret_cast<sockaddr*>(&at), &length);
  *port = ntohs(at.sin_port);
  return s;
}

std::string Ask(int s, const std::string& request) {
  send(s, request.data(), request.size(), 0);
  std::string answer;
  char buffer[2048];
  while (answer.find("\r\n\r\n") == std::string::npos) {
    const ssize_t got = recv(s, buffer, sizeof buffer, 0);
    if (got <= 0) {
      break;
    }
    answer.append(buffer, static_cast<std::size_t>(got));
  }
  return answer;
}

void RunClients(std::uint16_t port, int count, double seconds, int report) {
  std::vector<int> rtp(static_cast<std::size_t>(count));
  std::vector<int> control(static_cast<std::size_t>(count));
  std::vector<ClientFigures> figures(static_cast<std::size_t>(count));
  std::vector<int> last(static_cast<std::size_t>(count), -1);
  const std::string base = "rtsp://127.0.0.1:" + std::to_string(port) + "/";
  for (std::size_t i = 0; i < rtp.size(); ++i) {
    std::uint16_t rtp_port = 0;
    std::uint16_t rtcp_port = 0;
    rtp[i] = BoundUdp(&rtp_port);
    BoundUdp(&rtcp_port);
    control[i] = Connect(port);
    std::string request = "SETUP " + base + kQuery;
    request += " RTSP/1.0\r\nCSeq: 1\r\nTransport: RTP/AVP;unicast;client_port=";
    request += std::to_string(rtp_port) + "-" + std::to_string(rtcp_port) + "\r\n\r\n";
    const std::string setup = Ask(control[i], request);
    const std::size_t at = setup.find("Session: ");
    const std::string session =
        at == std::string::npos ? "" : setup.substr(at, setup.find_first_of(";\r", at) - at);
    std::string play = "PLAY " + base;
    play += " RTSP/1.0\r\nCSeq: 2\r\n" + session + "\r\n\r\n";
    Ask(control[i], play);
  }
  constexpr std::size_t kBatch = 64;
  constexpr std::size_t kRoom = 2048;
  std::vector<std::uint8_t> buffers(kBatch * kRoom);
  mmsghdr messages[kBatch];
  iovec pieces[kBatch];
  std::vector<pollfd> polled;
  polled.reserve(rtp.size());
  for (const int s : rtp) {
    polled.push_back({s, POLLIN, 0});
  }
  const Clock::time_point end = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                                   std::chrono::duration<double>(seconds));
  while (Clock::now() < end) {
    if (poll(polled.data(), polled.size(), 50) <= 0) {
      continue;
    }
    for (std::size_t i = 0; i < polled.size(); ++i) {
      if ((polled[i].revents & POLLIN) == 0) {
        continue;
      }
      for (std::size_t m = 0; m < kBatch; ++m) {
        pieces[m] = {&buffers[m * kRoom], kRoom};
        messages[m] = {};
        messages[m].msg_hdr.msg_iov = &pieces[m];
        messages[m].msg_hdr.msg_iovlen = 1;
      }
      const int got =
          recvmmsg(rtp[i], messages, static_cast<unsigned>(kBatch), MSG_DONTWAIT, nullptr);
      for (int m = 0; m < got; ++m) {
        const std::uint8_t* datagram = &buffers[static_cast<std::size_t>(m) * kRoom];
        const int sequence = datagram[2] << 8 | datagram[3];
        if (last[i] >= 0) {
          figures[i].gaps += static_cast<std::uint64_t>((sequence - last[i] - 1 + 65536) % 65536);
        }
        last[i] = sequence;
        ++figures[i].datagrams;
        figures[i].packets += (messages[m].msg_len - 12) / 188;
      }
    }
  }
  for (const int s : control) {
    close(s);
  }
  Put(report, figures.data(), figures.size() * sizeof(ClientFigures));
}

// ---- The server's process: the card, the server, the ring taken as the serve command does.

class Counted : public satipserver::Events {
 public:
  void Started(const satipserver::StreamReport&) override { ++started; }
  void Ended(const satipserver::StreamReport& stream, const char*) override {
    sent += stream.packets;
    dropped += stream.dropped;
  }
  void Tuned(const satipserver::TuneResult&) override { ++tuned; }
  void Refused(const std::string&, const std::string&, int, const std::string&) override {}

  int started = 0;
  int tuned = 0;
  std::uint64_t sent = 0;
  std::uint64_t dropped = 0;
};

ServerFigures RunServer(int clients, double seconds, int port_pipe) {
  ServerFigures figures;
  host::SessionOptions options;
  host::Session session(options);
  if (session.status() != host::kExitOk) {
    std::exit(1);
  }
  session.entries().set_callback(StampedPacket);
  asio::io_context loop;
  dvb::Transponder lnb;
  lnb.lnb = &dvb::LnbTypes()[0];
  host::ServeCard card(session.entries(), lnb);
  Counted events;
  satipserver::ServerSettings settings;
  settings.address = asio::ip::make_address("127.0.0.1");
  settings.rtsp_port = 0;
  settings.http_port = 0;
  settings.discovery = false;
  settings.max_sessions = 64;
  satipserver::Server server(loop, &card, settings, &events);
  satipserver::Server::StartError error;
  if (!server.Start(&error)) {
    std::fprintf(stderr, "%s\n", error.text.c_str());
    std::exit(1);
  }
  const std::uint16_t port = server.where().rtsp.front().port();
  Put(port_pipe, &port, sizeof port);

  std::vector<double> latencies;
  latencies.reserve(1 << 20);
  bool measuring = false;
  Clock::time_point began;
  double process_began = 0;
  double loop_began = 0;
  std::uint64_t dropped_began = 0;
  asio::steady_timer later(loop);
  std::function<void()> take = [&] {
    if (!measuring && events.started == clients && events.tuned > 0) {
      measuring = true;
      began = Clock::now();
      process_began = Seconds(CLOCK_PROCESS_CPUTIME_ID);
      loop_began = Seconds(CLOCK_THREAD_CPUTIME_ID);
      dropped_began = host::packet_ring.dropped();
    }
    if (measuring && Clock::now() - began >= std::chrono::duration<double>(seconds)) {
      figures.seconds = std::chrono::duration<double>(Clock::now() - began).count();
      figures.process_cpu = Seconds(CLOCK_PROCESS_CPUTIME_ID) - process_began;
      figures.loop_cpu = Seconds(CLOCK_THREAD_CPUTIME_ID) - loop_began;
      figures.ring_dropped = host::packet_ring.dropped() - dropped_began;
      server.Stop();
      return;
    }
    std::uint64_t budget = kTakeAtMost;
    for (host::CaptureRing::Run run = host::packet_ring.Readable(); run.packets > 0 && budget > 0;
         run = host::packet_ring.Readable()) {
      const auto count = static_cast<std::size_t>(std::min<std::uint64_t>(run.packets, budget));
      const std::uint64_t first = host::packet_ring.taken();
      server.Deliver(run.data, count);
      const std::int64_t sent = Nanoseconds();
      for (std::uint64_t index = (first + kStampEvery - 1) / kStampEvery * kStampEvery;
           measuring && index < first + count; index += kStampEvery) {
        const std::int64_t read = stamps[index / kStampEvery % kStamps].load();
        latencies.push_back(static_cast<double>(sent - read) / 1e6);
      }
      host::packet_ring.Release(count);
      budget -= count;
    }
    if (budget == 0) {
      asio::post(loop, take);
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
  card.Stop();
  session.Close();
  figures.sent = events.sent;
  figures.dropped = events.dropped;
  if (!latencies.empty()) {
    std::sort(latencies.begin(), latencies.end());
    figures.p50_ms = latencies[latencies.size() / 2];
    figures.p99_ms = latencies[latencies.size() * 99 / 100];
  }
  return figures;
}

std::vector<std::string> Split(const std::string& list) {
  std::vector<std::string> items;
  for (std::size_t at = 0; at <= list.size();) {
    const std::size_t comma = std::min(list.find(',', at), list.size());
    items.push_back(list.substr(at, comma - at));
    at = comma + 1;
  }
  return items;
}

// One run: the server's process forks the clients' before it loads anything.
// Returns the server's process and loop CPU, each a share of the run's time.
std::pair<double, double> Run(bool unpaced, int clients, double seconds) {
  int figures_pipe[2];
  if (pipe(figures_pipe) != 0) {
    std::exit(1);
  }
  const pid_t run = fork();
  if (run == 0) {
    const std::string lineup = "/tmp/serve-bench-lineup-" + std::to_string(getpid()) + ".json";
    std::FILE* file = std::fopen(lineup.c_str(), "w");
    std::fputs(unpaced ? "{\"rate\": 0}\n" : "{}\n", file);
    std::fclose(file);
    host::SetEnvironment("MORVALIND_SIM_LINEUP", lineup);
    int port_pipe[2];
    int clients_pipe[2];
    if (pipe(port_pipe) != 0 || pipe(clients_pipe) != 0) {
      std::exit(1);
    }
    const pid_t receivers = fork();
    if (receivers == 0) {
      std::uint16_t port = 0;
      Get(port_pipe[0], &port, sizeof port);
      RunClients(port, clients, seconds + 2, clients_pipe[1]);
      _exit(0);
    }
    ServerFigures server = RunServer(clients, seconds, port_pipe[1]);
    std::vector<ClientFigures> got(static_cast<std::size_t>(clients));
    Get(clients_pipe[0], got.data(), got.size() * sizeof(ClientFigures));
    waitpid(receivers, nullptr, 0);
    std::remove(lineup.c_str());
    Put(figures_pipe[1], &server, sizeof server);
    Put(figures_pipe[1], got.data(), got.size() * sizeof(ClientFigures));
    _exit(0);
  }
  ServerFigures server;
  std::vector<ClientFigures> got(static_cast<std::size_t>(clients));
  Get(figures_pipe[0], &server, sizeof server);
  Get(figures_pipe[0], got.data(), got.size() * sizeof(ClientFigures));
  waitpid(run, nullptr, 0);
  std::uint64_t gaps = 0;
  std::uint64_t received = 0;
  for (const ClientFigures& client : got) {
    gaps += client.gaps;
    received += client.packets;
  }
  const double mbit = static_cast<double>(server.sent) * 188 * 8 / 1e6;
  std::printf("%-8s %7d %11.1f %10llu %9.1f %8.1f %10.3f %10.3f %7llu %9llu %11llu %7.2f %7.2f\n",
              unpaced ? "unpaced" : "38 Mbit", clients, mbit / server.seconds,
              static_cast<unsigned long long>(server.sent - received),
              server.process_cpu / server.seconds * 100, server.loop_cpu / server.seconds * 100,
              server.process_cpu * 1000 / mbit, server.loop_cpu * 1000 / mbit,
              static_cast<unsigned long long>(gaps),
              static_cast<unsigned long long>(server.dropped),
              static_cast<unsigned long long>(server.ring_dropped), server.p50_ms, server.p99_ms);
  std::fflush(stdout);
  return {server.process_cpu / server.seconds, server.loop_cpu / server.seconds};
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? 0 : values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) try {
  double seconds = 3;
  int rounds = 3;
  std::string clients = "1,8";
  std::string rates = "paced,unpaced";
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    if (option == "--seconds") {
      seconds = std::atof(argv[i + 1]);
    } else if (option == "--rounds") {
      rounds = std::max(1, std::atoi(argv[i + 1]));
    } else if (option == "--clients") {
      clients = argv[i + 1];
    } else if (option == "--rates") {
      rates = argv[i + 1];
    }
  }
  host::SetUpReport(true, false);  // the session's own lines are not shown
  std::printf("%-8s %7s %11s %10s %9s %8s %10s %10s %7s %9s %11s %7s %7s\n", "card", "clients",
              "sent Mbit/s", "not recvd", "process%", "loop%", "proc ms/Mb", "loop ms/Mb", "gaps",
              "dropped", "ring drops", "p50 ms", "p99 ms");
  std::fflush(stdout);
  const std::vector<std::string> counts = Split(clients);
  for (const std::string& rate : Split(rates)) {
    // The CPU of the most clients over that of the fewest, round by round.
    std::vector<double> process_ratios;
    std::vector<double> loop_ratios;
    for (int round = 0; round < rounds; ++round) {
      std::vector<std::pair<double, double>> cpu;
      cpu.reserve(counts.size());
      for (const std::string& count : counts) {
        cpu.push_back(Run(rate == "unpaced", std::atoi(count.c_str()), seconds));
      }
      process_ratios.push_back(cpu.back().first / cpu.front().first);
      loop_ratios.push_back(cpu.back().second / cpu.front().second);
    }
    std::printf(
        "%s: %s clients cost %.2f times the process CPU of %s (loop thread %.2f), median of "
        "%d rounds\n",
        rate.c_str(), counts.back().c_str(), Median(process_ratios), counts.front().c_str(),
        Median(loop_ratios), rounds);
    std::fflush(stdout);
  }
  return 0;
} catch (const std::exception& error) {
  std::fprintf(stderr, "serve_bench: %s\n", error.what());
  return 1;
}
