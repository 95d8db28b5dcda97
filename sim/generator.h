// The stand-in card's own transport stream: an endless multiplex generated
// packet by packet, exact in its rate and continuity.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <vector>

namespace sim {

constexpr std::size_t kPacketSize = 188;
// 27.5 MSym/s, QPSK, code rate 3/4, after Reed-Solomon: a common DVB-S transponder.
constexpr std::uint32_t kDefaultBitsPerSecond = 38014705;

struct ServiceDescription {
  std::uint16_t service_id;
  std::uint16_t pmt_pid;
  std::uint16_t video_pid;  // 0: a radio service
  std::uint16_t audio_pid;
  std::string name;
  std::string provider;
};

// A transponder as its network's NIT lists it, in a satellite delivery
// system descriptor.
struct NetworkEntry {
  std::uint16_t transport_stream_id;
  std::uint16_t original_network_id;
  std::uint32_t frequency_mhz;
  char polarity;  // 'H' or 'V'
  std::uint32_t symbol_rate_ksps;
  std::uint32_t fec_code;  // as in the host's tuning record, e.g. 0x34
  bool dvb_s2;
};

// The network a transponder belongs to, as its NIT describes it: the
// transponders of its satellite. A network id of 0: the stream has no NIT.
struct NetworkDescription {
  std::uint16_t network_id = 0;
  std::string name;
  int orbital_tenths = 0;  // the satellite's position, tenths of a degree, east positive
  std::vector<NetworkEntry> transponders;
};

// What one transponder carries.
struct MultiplexDescription {
  std::uint16_t transport_stream_id;
  std::uint16_t original_network_id;
  std::vector<ServiceDescription> services;
  NetworkDescription network;  // none in the default multiplex
};

MultiplexDescription DefaultMultiplex();

// An endless transport stream for one multiplex: PAT, a PMT per service, the
// SDT with the service names and, where the multiplex has a network, its NIT
// (announced in the PAT) every 2,500 packets (about 100 ms at the default
// rate), PAT, SDT and NIT in as many sections as they need (at most 256:
// the lineup's limit on services sees to that, and to the tables fitting
// within those 2,500 packets); between them the services' video and audio
// PES packets, a PCR on each service's PCR PID about every 40 ms, and a
// continuity counter per PID.
// Every elementary-stream packet ends with the stream's packet number (32 bits,
// big-endian), so that a reader can check that nothing was lost or reordered.
// A multiplex without services carries its tables and null packets.
class TransportStreamGenerator {
 public:
  static constexpr std::uint64_t kTablePeriodPackets = 2500;
  static constexpr std::uint64_t kPcrPeriodPackets = 1000;
  static constexpr std::uint64_t kVideoPesPackets = 64;
  static constexpr std::uint64_t kAudioEvery = 8;  // one packet of a service's 8 is audio

  TransportStreamGenerator(MultiplexDescription multiplex, std::uint32_t bits_per_second);

  // Writes the next 188-byte packet.
  void Next(std::uint8_t* packet);
  std::uint64_t PacketCount() const { return packet_number_; }

 private:
  struct ServiceState {
    std::uint64_t packets = 0;
    std::uint64_t video_packets = 0;
    bool pcr_sent = false;
    std::uint64_t last_pcr_packet = 0;
  };
  using Packet = std::array<std::uint8_t, kPacketSize>;
  using Bytes = std::vector<std::uint8_t>;

  void QueueTables();
  void QueueTable(std::uint16_t pid, const Bytes& header, const std::vector<Bytes>& entries,
                  bool loop_length = false);
  void QueueNetworkTable();
  void QueueSection(std::uint16_t pid, const std::uint8_t* section);
  void ElementaryPacket(std::uint8_t* packet);
  std::uint8_t NextContinuity(std::uint16_t pid);
  std::uint64_t Clock27MHz() const;  // the stream time of the current packet

  MultiplexDescription multiplex_;
  std::uint32_t bits_per_second_;
  std::uint64_t packet_number_ = 0;
  std::uint64_t elementary_slot_ = 0;
  std::vector<ServiceState> services_;
  std::map<std::uint16_t, std::uint8_t> continuity_;
  std::deque<Packet> tables_;
};

}  // namespace sim
