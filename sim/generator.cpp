// The stand-in card's generated transport stream.
#include "sim/generator.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <utility>

#include <bitstream/dvb/si/desc_40.h>
#include <bitstream/dvb/si/desc_43.h>
#include <bitstream/dvb/si/desc_48.h>
#include <bitstream/dvb/si/nit.h>
#include <bitstream/dvb/si/sdt.h>
#include <bitstream/mpeg/pes.h>
#include <bitstream/mpeg/psi.h>
#include <bitstream/mpeg/ts.h>

namespace sim {

namespace {

constexpr std::uint8_t kStreamTypeVideo = PMT_STREAMTYPE_VIDEO_MPEG2;
constexpr std::uint8_t kStreamTypeAudio = PMT_STREAMTYPE_AUDIO_MPEG2;
constexpr std::uint8_t kServiceTypeTelevision = 0x01;
constexpr std::uint8_t kServiceTypeRadio = 0x02;
constexpr std::uint8_t kRunning = 4;
constexpr std::uint64_t kPtsAheadOfPcr = 45000;  // 0.5 s at 90 kHz
constexpr std::size_t kStampSize = 4;

void Stamp(std::uint8_t* packet, std::uint64_t number) {
  for (std::size_t i = 0; i < kStampSize; ++i) {
    packet[kPacketSize - 1 - i] = static_cast<std::uint8_t>(number >> (8 * i));
  }
}

// Tables' sections, as the format limits them: 1,024 bytes at most.
constexpr std::size_t kSectionSize = PSI_MAX_SIZE + PSI_HEADER_SIZE;
constexpr std::size_t kLongestText = 64;  // bytes of a name or provider in the SDT
constexpr std::size_t kLongestSdtEntry =
    SDT_SERVICE_SIZE + DESC48_HEADER_SIZE + 2 + 2 * kLongestText;  // 138

// At most kLongestText bytes of `text`, no UTF-8 character cut in two.
std::uint8_t TextLength(const std::string& text) {
  std::size_t length = std::min(text.size(), kLongestText);
  while (length > 0 && length < text.size() &&
         (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80) {
    --length;
  }
  return static_cast<std::uint8_t>(length);
}

// A name or provider as the SDT carries it: ASCII as it is, other text (the lineup's is
// UTF-8) behind the character-table byte 0x15 that says UTF-8, as ffmpeg's
// muxer writes it.
std::string DvbText(const std::string& text) {
  const bool ascii = std::all_of(text.begin(), text.end(),
                                 [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  return ascii ? text : "\x15" + text;
}

// `value`'s last `digits` decimal digits, four bits each.
std::uint32_t Bcd(std::uint32_t value, int digits) {
  std::uint32_t bcd = 0;
  for (int i = 0; i < digits; ++i, value /= 10) {
    bcd |= (value % 10) << (4 * i);
  }
  return bcd;
}

struct NitCode {
  std::uint32_t fec_code;  // as in the host's tuning record
  std::uint8_t nit;        // as the satellite delivery system descriptor gives it
};
constexpr NitCode kNitFecs[] = {{0x12, 1}, {0x23, 2}, {0x34, 3}, {0x56, 4}, {0x78, 5}};

// A transponder of the NIT: its ids and its satellite delivery system descriptor.
std::vector<std::uint8_t> NitEntry(const NetworkEntry& entry, int orbital_tenths) {
  std::vector<std::uint8_t> bytes(NIT_TS_SIZE + DESC43_HEADER_SIZE);
  std::uint8_t* ts = bytes.data();
  nitn_init(ts);
  nitn_set_tsid(ts, entry.transport_stream_id);
  nitn_set_onid(ts, entry.original_network_id);
  nitn_set_desclength(ts, DESC43_HEADER_SIZE);
  std::uint8_t* descriptor = nitn_get_descs(ts) + DESCS_HEADER_SIZE;
  desc43_init(descriptor);
  desc43_set_frequency_bcd(descriptor, Bcd(entry.frequency_mhz * 100, 8));  // 10 kHz units
  desc43_set_position_bcd(
      descriptor,
      static_cast<std::uint16_t>(Bcd(static_cast<std::uint32_t>(std::abs(orbital_tenths)), 4)));
  descriptor[8] = 0;
  desc43_set_east(descriptor, orbital_tenths >= 0);
  desc43_set_polarization(descriptor, entry.polarity == 'V' ? 1 : 0);
  desc43_set_dvbs2(descriptor, entry.dvb_s2);
  desc43_set_modulation(descriptor, 1);                                        // QPSK
  desc43_set_symbolrate_bcd(descriptor, Bcd(entry.symbol_rate_ksps * 10, 7));  // 100 Sym/s units
  std::uint8_t fec = 0;                                                        // not given
  for (const NitCode& code : kNitFecs) {
    fec = code.fec_code == entry.fec_code ? code.nit : fec;
  }
  desc43_set_fecinner(descriptor, fec);
  return bytes;
}

}  // namespace

// Laid out as the lineup's transponders are: the PMTs on consecutive PIDs,
// service s's video and audio on 0x10 (s + 1) + 1 and + 2 above the first PMT.
MultiplexDescription DefaultMultiplex() {
  return {1051,
          1,
          {
              {101, 0x0100, 0x0111, 0x0112, "Morvalind One", "Morvalind"},
              {102, 0x0101, 0x0121, 0x0122, "Morvalind Two", "Morvalind"},
              {103, 0x0102, 0, 0x0132, "Morvalind Radio", "Morvalind"},
          },
          {}};
}

TransportStreamGenerator::TransportStreamGenerator(MultiplexDescription multiplex,
                                                   std::uint32_t bits_per_second)
    : multiplex_(std::move(multiplex)),
      bits_per_second_(bits_per_second != 0 ? bits_per_second : kDefaultBitsPerSecond),
      services_(multiplex_.services.size()) {}

std::uint64_t TransportStreamGenerator::Clock27MHz() const {
  const std::uint64_t bits = packet_number_ * kPacketSize * 8;
  const std::uint64_t seconds = bits / bits_per_second_;
  const std::uint64_t rest = bits % bits_per_second_;
  return seconds * 27000000ULL + rest * 27000000ULL / bits_per_second_;
}

std::uint8_t TransportStreamGenerator::NextContinuity(std::uint16_t pid) {
  std::uint8_t& counter = continuity_[pid];
  const std::uint8_t current = counter;
  counter = static_cast<std::uint8_t>((counter + 1) & 0x0F);
  return current;
}

void TransportStreamGenerator::Next(std::uint8_t* packet) {
  if (packet_number_ % kTablePeriodPackets == 0) {
    QueueTables();
  }
  if (!tables_.empty()) {
    std::memcpy(packet, tables_.front().data(), kPacketSize);
    tables_.pop_front();
    ts_set_cc(packet, NextContinuity(ts_get_pid(packet)));
  } else {
    ElementaryPacket(packet);
  }
  ++packet_number_;
}

void TransportStreamGenerator::QueueSection(std::uint16_t pid, const std::uint8_t* section) {
  const std::size_t size = psi_get_length(section) + PSI_HEADER_SIZE;
  std::uint16_t done = 0;
  while (done < size) {
    Packet packet;
    std::uint8_t filled = 0;
    psi_split_section(packet.data(), &filled, section, &done);
    psi_split_end(packet.data(), &filled);
    ts_set_pid(packet.data(), pid);
    tables_.push_back(packet);
  }
}

// The entries in as many sections as they need, numbered; `header` is the
// start of every section, up to its first entry, and with `loop_length` ends
// with the length of the entries' loop (the NIT's transport streams).
void TransportStreamGenerator::QueueTable(std::uint16_t pid, const Bytes& header,
                                          const std::vector<Bytes>& entries, bool loop_length) {
  const std::size_t room = kSectionSize - header.size() - PSI_CRC_SIZE;
  std::vector<std::size_t> starts = {0};  // each section's first entry
  std::size_t filled = 0;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (filled + entries[i].size() > room) {
      starts.push_back(i);
      filled = 0;
    }
    filled += entries[i].size();
  }
  starts.push_back(entries.size());
  std::uint8_t section[kSectionSize];
  for (std::size_t number = 0; number + 1 < starts.size(); ++number) {
    std::memcpy(section, header.data(), header.size());
    std::uint8_t* at = section + header.size();
    for (std::size_t i = starts[number]; i < starts[number + 1]; ++i) {
      std::memcpy(at, entries[i].data(), entries[i].size());
      at += entries[i].size();
    }
    if (loop_length) {
      nith_set_tslength(section + header.size() - NIT_HEADER2_SIZE,
                        static_cast<std::uint16_t>(at - section - header.size()));
    }
    psi_set_section(section, static_cast<std::uint8_t>(number));
    psi_set_lastsection(section, static_cast<std::uint8_t>(starts.size() - 2));
    psi_set_length(section,
                   static_cast<std::uint16_t>(at - section - PSI_HEADER_SIZE + PSI_CRC_SIZE));
    psi_set_crc(section);
    QueueSection(pid, section);
  }
}

void TransportStreamGenerator::QueueTables() {
  Bytes header(PAT_HEADER_SIZE);
  pat_init(header.data());
  pat_set_tsid(header.data(), multiplex_.transport_stream_id);
  psi_set_version(header.data(), 0);
  psi_set_current(header.data());
  std::vector<Bytes> entries;
  if (multiplex_.network.network_id != 0) {
    Bytes program(PAT_PROGRAM_SIZE);  // program 0: the network's PID
    patn_init(program.data());
    patn_set_program(program.data(), 0);
    patn_set_pid(program.data(), NIT_PID);
    entries.push_back(program);
  }
  for (const ServiceDescription& service : multiplex_.services) {
    Bytes program(PAT_PROGRAM_SIZE);
    patn_init(program.data());
    patn_set_program(program.data(), service.service_id);
    patn_set_pid(program.data(), service.pmt_pid);
    entries.push_back(program);
  }
  QueueTable(PAT_PID, header, entries);

  std::uint8_t section[kSectionSize];
  for (const ServiceDescription& service : multiplex_.services) {
    pmt_init(section);
    pmt_set_program(section, service.service_id);
    psi_set_version(section, 0);
    psi_set_current(section);
    pmt_set_pcrpid(section, service.video_pid != 0 ? service.video_pid : service.audio_pid);
    pmt_set_desclength(section, 0);
    std::uint8_t streams = 0;
    pmt_set_length(section, PMT_ES_SIZE * 2);
    if (service.video_pid != 0) {
      std::uint8_t* stream = pmt_get_es(section, streams++);
      pmtn_init(stream);
      pmtn_set_streamtype(stream, kStreamTypeVideo);
      pmtn_set_pid(stream, service.video_pid);
      pmtn_set_desclength(stream, 0);
    }
    std::uint8_t* stream = pmt_get_es(section, streams++);
    pmtn_init(stream);
    pmtn_set_streamtype(stream, kStreamTypeAudio);
    pmtn_set_pid(stream, service.audio_pid);
    pmtn_set_desclength(stream, 0);
    pmt_set_length(section, static_cast<std::uint16_t>(streams * PMT_ES_SIZE));
    psi_set_crc(section);
    QueueSection(service.pmt_pid, section);
  }

  header.assign(SDT_HEADER_SIZE, 0);
  sdt_init(header.data(), true);
  sdt_set_tsid(header.data(), multiplex_.transport_stream_id);
  psi_set_version(header.data(), 0);
  psi_set_current(header.data());
  sdt_set_onid(header.data(), multiplex_.original_network_id);
  entries.clear();
  for (const ServiceDescription& service : multiplex_.services) {
    Bytes entry(kLongestSdtEntry);
    sdtn_init(entry.data());
    sdtn_set_sid(entry.data(), service.service_id);
    sdtn_set_running(entry.data(), kRunning);
    std::uint8_t* descriptor = sdtn_get_descs(entry.data()) + DESCS_HEADER_SIZE;
    desc48_init(descriptor);
    desc48_set_type(descriptor,
                    service.video_pid != 0 ? kServiceTypeTelevision : kServiceTypeRadio);
    const std::string provider = DvbText(service.provider);
    desc48_set_provider(descriptor, reinterpret_cast<const std::uint8_t*>(provider.data()),
                        TextLength(provider));
    const std::string name = DvbText(service.name);
    desc48_set_service(descriptor, reinterpret_cast<const std::uint8_t*>(name.data()),
                       TextLength(name));
    desc48_set_length(descriptor);
    const auto descriptors =
        static_cast<std::uint16_t>(DESC_HEADER_SIZE + desc_get_length(descriptor));
    sdtn_set_desclength(entry.data(), descriptors);
    entry.resize(SDT_SERVICE_SIZE + descriptors);
    entries.push_back(entry);
  }
  QueueTable(SDT_PID, header, entries);
  QueueNetworkTable();
}

// The NIT actual: the network's name and its transponders.
void TransportStreamGenerator::QueueNetworkTable() {
  const NetworkDescription& network = multiplex_.network;
  if (network.network_id == 0) {
    return;
  }
  const std::string name = DvbText(network.name);
  const std::uint8_t length = TextLength(name);
  Bytes header(NIT_HEADER_SIZE + DESC_HEADER_SIZE + length + NIT_HEADER2_SIZE);
  nit_init(header.data(), true);
  nit_set_nid(header.data(), network.network_id);
  psi_set_version(header.data(), 0);
  psi_set_current(header.data());
  nit_set_desclength(header.data(), static_cast<std::uint16_t>(DESC_HEADER_SIZE + length));
  std::uint8_t* descriptor = nit_get_descs(header.data()) + DESCS_HEADER_SIZE;
  desc40_init(descriptor);
  desc40_set_networkname(descriptor, reinterpret_cast<const std::uint8_t*>(name.data()), length);
  nith_init(nit_get_header2(header.data()));
  std::vector<Bytes> entries;
  for (const NetworkEntry& entry : network.transponders) {
    entries.push_back(NitEntry(entry, network.orbital_tenths));
  }
  QueueTable(NIT_PID, header, entries, true);
}

void TransportStreamGenerator::ElementaryPacket(std::uint8_t* packet) {
  if (multiplex_.services.empty()) {
    ts_pad(packet);  // a transponder that carries tables alone
    return;
  }
  const auto index = static_cast<std::size_t>(elementary_slot_++ % multiplex_.services.size());
  const ServiceDescription& service = multiplex_.services[index];
  ServiceState& state = services_[index];
  const bool audio = service.video_pid == 0 || state.packets % kAudioEvery == kAudioEvery - 1;
  ++state.packets;
  const std::uint16_t pid = audio ? service.audio_pid : service.video_pid;
  const std::uint16_t pcr_pid = service.video_pid != 0 ? service.video_pid : service.audio_pid;

  ts_init(packet);
  ts_set_pid(packet, pid);
  ts_set_payload(packet);
  ts_set_cc(packet, NextContinuity(pid));
  const std::uint64_t clock = Clock27MHz();
  if (pid == pcr_pid &&
      (!state.pcr_sent || packet_number_ - state.last_pcr_packet >= kPcrPeriodPackets)) {
    ts_set_adaptation(packet, 7);
    tsaf_set_pcr(packet, (clock / 300) & 0x1FFFFFFFFULL);
    tsaf_set_pcrext(packet, static_cast<std::uint16_t>(clock % 300));
    state.pcr_sent = true;
    state.last_pcr_packet = packet_number_;
  }
  std::uint8_t* payload = ts_payload(packet);
  std::uint8_t* end = packet + kPacketSize;
  std::memset(payload, 0xFF, static_cast<std::size_t>(end - payload));

  const bool starts_pes = audio || state.video_packets++ % kVideoPesPackets == 0;
  if (starts_pes) {
    ts_set_unitstart(packet);
    pes_init(payload);
    pes_set_streamid(payload, audio ? PES_STREAM_ID_AUDIO_MPEG : PES_STREAM_ID_VIDEO_MPEG);
    // An audio frame fits one packet; a video PES is left unbounded.
    pes_set_length(payload, audio ? static_cast<std::uint16_t>(end - payload - PES_HEADER_SIZE)
                                  : std::uint16_t{0});
    pes_set_headerlength(payload, 0);
    pes_set_dataalignment(payload);
    pes_set_pts(payload, (clock / 300 + kPtsAheadOfPcr) & 0x1FFFFFFFFULL);
  }
  Stamp(packet, packet_number_);
}

}  // namespace sim
