// The SAT>IP card library through the module, against a SAT>IP server on
// loopback (bench/satipcard_bench.sh starts morvalind-host serve with the
// stand-in card at the highest DVB-S rate): this program is the host. It
// measures the packets lost (every datagram the server sent, as the
// loopback's packet socket saw it leave, against every packet the host's
// callback received), the CPU the library's receiver thread spends per
// received Mbit, and the time from the server's send (the kernel's timestamp
// of the datagram leaving) to the host's callback (p50, p99). Native only
// (a packet socket, /proc); run as root for the packet socket.
//
//   satipcard_bench --server HOST:PORT [--seconds S] [--transport udp|tcp]
// In the build: build/native/bin/satipcard_bench (the library and the module beside it).
#include <arpa/inet.h>
#include <dlfcn.h>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if_arp.h>
#include <netinet/ip.h>
#include <netinet/udp.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "abi/card_figures.h"
#include "abi/records.h"
#include "loader/module.h"

namespace {

constexpr std::size_t kPacket = 188;
constexpr std::size_t kMostPackets = 8'000'000;  // about 30 s at 72.6 Mbit/s

// What tells packets apart: the header and the stand-in's packet number in the last 8 bytes.
struct Key {
  std::uint8_t head[4];
  std::uint8_t number[8];
  bool operator==(const Key& other) const { return std::memcmp(this, &other, sizeof *this) == 0; }
};

Key KeyOf(const std::uint8_t* packet) {
  Key key;
  std::memcpy(key.head, packet, sizeof key.head);
  std::memcpy(key.number, packet + kPacket - sizeof key.number, sizeof key.number);
  return key;
}

std::int64_t RealNanoseconds() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

// What the host's callback received.
std::vector<Key> received_keys;
std::vector<std::int64_t> received_at;
std::atomic<std::size_t> received{0};

std::int32_t MV_STDCALL Receive(const std::uint8_t* packet, std::int32_t /*length*/) {
  const std::size_t at = received.load(std::memory_order_relaxed);
  if (at < kMostPackets) {
    received_at[at] = RealNanoseconds();
    received_keys[at] = KeyOf(packet);
    received.store(at + 1, std::memory_order_release);
  }
  return 0;
}

// What a packet socket with PACKET_VNET_HDR puts before each frame: how the
// kernel is to cut it (linux/virtio_net.h's virtio_net_hdr, a header C++
// cannot include), in the machine's byte order.
struct SegmentHeader {
  std::uint8_t flags;
  std::uint8_t gso_type;  // 0: not to be cut
  std::uint16_t header_length;
  std::uint16_t gso_size;  // bytes of each piece after the headers
  std::uint16_t checksum_start;
  std::uint16_t checksum_offset;
};

// What the server sent, as the loopback's packet socket saw it leave.
struct Sent {
  std::vector<Key> keys;
  std::vector<std::int64_t> at;  // per packet: its datagram's timestamp
  std::size_t datagrams = 0;
};

void Sniff(int socket, const std::atomic<bool>* stop, Sent* sent) {
  std::vector<std::uint8_t> frame(65536);
  char control[256];
  while (!stop->load()) {
    sockaddr_ll from{};
    SegmentHeader head{};  // PACKET_VNET_HDR: how the kernel will cut the frame
    iovec vector[2] = {{&head, sizeof head}, {frame.data(), frame.size()}};
    msghdr message{};
    message.msg_name = &from;
    message.msg_namelen = sizeof from;
    message.msg_iov = vector;
    message.msg_iovlen = 2;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    const ssize_t got = recvmsg(socket, &message, 0);
    // After the segmentation header, the loopback's Ethernet-like header.
    const ssize_t size = got - static_cast<ssize_t>(sizeof head + ETH_HLEN);
    if (size <= 0 || from.sll_pkttype != PACKET_OUTGOING || from.sll_hatype != ARPHRD_LOOPBACK) {
      continue;
    }
    std::int64_t stamp = RealNanoseconds();
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
      if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) {
        timespec when{};
        std::memcpy(&when, CMSG_DATA(c), sizeof when);
        stamp = static_cast<std::int64_t>(when.tv_sec) * 1'000'000'000 + when.tv_nsec;
      }
    }
    // An IPv4 UDP datagram whose payload is RTP version 2 with payload type 33.
    const std::uint8_t* ip = frame.data() + ETH_HLEN;
    if (size < 20 || (ip[0] >> 4) != 4 || ip[9] != IPPROTO_UDP) {
      continue;
    }
    const std::size_t ip_header = std::size_t{ip[0] & 0x0FU} * 4;
    const std::uint8_t* rtp = ip + ip_header + 8;
    const std::size_t rtp_size = static_cast<std::size_t>(size) - ip_header - 8;
    if (rtp_size < 12 || (rtp[0] >> 6) != 2 || (rtp[1] & 0x7F) != 33) {
      continue;
    }
    // A server that hands the kernel a train of equal datagrams to cut
    // (UDP_SEGMENT) shows here as one: each piece of gso_size bytes has an
    // RTP header of its own.
    const std::size_t piece = head.gso_type != 0 && head.gso_size > 0 ? head.gso_size : rtp_size;
    for (std::size_t start = 0; start < rtp_size; start += piece) {
      const std::size_t end = std::min(rtp_size, start + piece);
      ++sent->datagrams;
      for (std::size_t at = start + 12; at + kPacket <= end && sent->keys.size() < kMostPackets;
           at += kPacket) {
        sent->keys.push_back(KeyOf(rtp + at));
        sent->at.push_back(stamp);
      }
    }
  }
}

double ThreadCpuSeconds(const char* name) {
  double seconds = 0;
  for (int task = 0; task < 65536; ++task) {
    std::ifstream comm("/proc/self/task/" + std::to_string(task) + "/comm");
    std::string read;
    if (!comm || !std::getline(comm, read) || read != name) {
      continue;
    }
    std::ifstream stat("/proc/self/task/" + std::to_string(task) + "/stat");
    std::string line;
    std::getline(stat, line);
    // Fields after the name's closing parenthesis: state is 3rd, utime the 14th, stime the 15th.
    std::size_t at = line.rfind(')') + 2;
    for (int field = 3; field < 14; ++field) {
      at = line.find(' ', at) + 1;
    }
    const double ticks = static_cast<double>(sysconf(_SC_CLK_TCK));
    seconds += (std::strtod(line.c_str() + at, nullptr) +
                std::strtod(line.c_str() + line.find(' ', at) + 1, nullptr)) /
               ticks;
  }
  return seconds;
}

double Percentile(std::vector<double> values, double p) {
  if (values.empty()) {
    return 0;
  }
  std::sort(values.begin(), values.end());
  return values[std::min(values.size() - 1,
                         static_cast<std::size_t>(p * static_cast<double>(values.size())))];
}

int Fail(const std::string& why) {
  std::fprintf(stderr, "satipcard_bench: %s\n", why.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::string server;
  std::string transport = "udp";
  double seconds = 10;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    if (option == "--server") {
      server = argv[i + 1];
    } else if (option == "--seconds") {
      seconds = std::atof(argv[i + 1]);
    } else if (option == "--transport") {
      transport = argv[i + 1];
    }
  }
  if (server.empty()) {
    return Fail("give --server HOST:PORT (bench/satipcard_bench.sh starts one)");
  }
  const std::string folder = MORVALIND_BIN_DIR;
  const std::string settings = "/tmp/satipcard-bench.ini";
  std::ofstream(settings) << "transport = " << transport << "\nlog = /tmp/satipcard-bench.log\n";
  setenv("MORVALIND_SATIP_SETTINGS", settings.c_str(), 1);
  setenv("MORVALIND_SATIP", server.c_str(), 1);

  received_keys.resize(kMostPackets);
  received_at.resize(kMostPackets);
  const int sniffer = socket(AF_PACKET, SOCK_RAW, htons(ETH_P_ALL));
  if (sniffer < 0) {
    return Fail("no packet socket (run as root): " + std::string(std::strerror(errno)));
  }
  const int on = 1;
  setsockopt(sniffer, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
  if (setsockopt(sniffer, SOL_PACKET, PACKET_VNET_HDR, &on, sizeof on) != 0) {
    return Fail("the packet socket gives no segmentation header: " +
                std::string(std::strerror(errno)));
  }
  const int buffer = 64 << 20;
  setsockopt(sniffer, SOL_SOCKET, SO_RCVBUFFORCE, &buffer, sizeof buffer);
  timeval wake{0, 100000};
  setsockopt(sniffer, SOL_SOCKET, SO_RCVTIMEO, &wake, sizeof wake);

  void* library = dlopen((folder + "/satipcard/ttlcdacc.dll").c_str(), RTLD_NOW);
  if (library == nullptr) {
    return Fail(dlerror());
  }
  const auto read_figures =
      reinterpret_cast<int (*)(CardFiguresRecord*)>(dlsym(library, "CardReadFigures"));
  Module module;
  if (module.Load(folder + "/Morvalind.dev") != LoadStatus::kOk) {
    return Fail(module.error());
  }
  const DeviceInterface& entries = module.entries();
  entries.set_callback(&Receive);
  if (entries.open() != kResultOk) {
    return Fail("the card did not open (the library said why)");
  }
  std::atomic<bool> stop{false};
  Sent sent;
  sent.keys.reserve(kMostPackets);
  sent.at.reserve(kMostPackets);
  std::thread sniff(Sniff, sniffer, &stop, &sent);

  TuningRecord tuning{};  // 11778 MHz V 27500 kSym/s 3/4, universal LNB high band
  tuning.primary_value = 11778000;
  tuning.polarity = 1;
  tuning.word2_value = 27500000;
  tuning.word3_value = 10600000;
  tuning.word4_value = 1;
  tuning.fec_code = 0x34;
  if (entries.tune(&tuning) != kResultOk) {
    return Fail("no lock");
  }
  const double cpu_before = ThreadCpuSeconds("satip-receiver");
  const std::size_t received_before = received.load();
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  const std::size_t received_after = received.load();
  const double cpu = ThreadCpuSeconds("satip-receiver") - cpu_before;
  CardFiguresRecord figures{};
  figures.size = sizeof figures;
  if (read_figures != nullptr) {
    read_figures(&figures);
  }
  entries.close();
  stop = true;
  sniff.join();

  // The host's packets against the server's, from the first one received.
  const std::size_t count = received_after;
  std::size_t first = 0;
  while (first < sent.keys.size() && !(sent.keys[first] == received_keys[0])) {
    ++first;
  }
  std::vector<double> latency_us;
  std::size_t lost = 0;
  std::size_t at = first;
  for (std::size_t k = 0; k < count && at < sent.keys.size(); ++k, ++at) {
    while (at < sent.keys.size() && !(sent.keys[at] == received_keys[k])) {
      ++lost;  // sent, never received
      ++at;
    }
    if (at < sent.keys.size() && k >= received_before) {
      latency_us.push_back(static_cast<double>(received_at[k] - sent.at[at]) / 1e3);
    }
  }
  const double mbit = static_cast<double>(received_after - received_before) * kPacket * 8 / 1e6;
  std::printf("satipcard_bench over %s, %.0f s at %.1f Mbit/s received\n", transport.c_str(),
              seconds, mbit / seconds);
  if (transport == "udp") {
    std::printf("  packets   %zu received, %zu sent by the server and never received (%s)\n", count,
                lost, first < sent.keys.size() ? "aligned on the first" : "NOT ALIGNED");
  }
  std::printf(
      "  library   %llu datagrams, %llu missing, %llu reordered, %llu late, %llu dropped in a full "
      "ring\n",
      static_cast<unsigned long long>(figures.counts[CARD_COUNT_DATAGRAMS]),
      static_cast<unsigned long long>(figures.counts[CARD_COUNT_MISSING]),
      static_cast<unsigned long long>(figures.counts[CARD_COUNT_REORDERED]),
      static_cast<unsigned long long>(figures.counts[CARD_COUNT_LATE]),
      static_cast<unsigned long long>(figures.counts[CARD_COUNT_RING_FULL]));
  std::printf("  receiver  %.1f ms CPU for %.0f Mbit: %.3f ms per Mbit\n", cpu * 1e3, mbit,
              mbit > 0 ? cpu * 1e3 / mbit : 0.0);
  if (transport == "udp") {
    std::printf(
        "  latency   server's send to the host's callback: p50 %.0f us, p99 %.0f us, "
        "max %.0f us (%zu packets)\n",
        Percentile(latency_us, 0.5), Percentile(latency_us, 0.99), Percentile(latency_us, 1.0),
        latency_us.size());
  }
  return 0;
}
