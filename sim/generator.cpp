// The stand-in card's generated transport stream.
#include "sim/generator.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include <bitstream/dvb/si/desc_48.h>
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

std::uint8_t TextLength(const std::string& text) {
  return static_cast<std::uint8_t>(std::min<std::size_t>(text.size(), 64));
}

// A name as the SDT carries it: ASCII as it is, other text (the lineup's is
// UTF-8) behind the character-table byte 0x15 that says UTF-8, as ffmpeg's
// muxer writes it.
std::string DvbText(const std::string& text) {
  const bool ascii = std::all_of(text.begin(), text.end(),
                                 [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  return ascii ? text : "\x15" + text;
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
          }};
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

void TransportStreamGenerator::QueueTables() {
  std::uint8_t section[PSI_PRIVATE_MAX_SIZE + PSI_HEADER_SIZE];
  const auto count = static_cast<std::uint8_t>(multiplex_.services.size());

  pat_init(section);
  pat_set_tsid(section, multiplex_.transport_stream_id);
  psi_set_version(section, 0);
  psi_set_current(section);
  psi_set_section(section, 0);
  psi_set_lastsection(section, 0);
  pat_set_length(section, static_cast<std::uint16_t>(count * PAT_PROGRAM_SIZE));
  for (std::uint8_t i = 0; i < count; ++i) {
    std::uint8_t* program = pat_get_program(section, i);
    patn_init(program);
    patn_set_program(program, multiplex_.services[i].service_id);
    patn_set_pid(program, multiplex_.services[i].pmt_pid);
  }
  psi_set_crc(section);
  QueueSection(PAT_PID, section);

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

  sdt_init(section, true);
  sdt_set_tsid(section, multiplex_.transport_stream_id);
  psi_set_version(section, 0);
  psi_set_current(section);
  psi_set_section(section, 0);
  psi_set_lastsection(section, 0);
  sdt_set_onid(section, multiplex_.original_network_id);
  std::uint8_t* entry = section + SDT_HEADER_SIZE;
  for (const ServiceDescription& service : multiplex_.services) {
    sdtn_init(entry);
    sdtn_set_sid(entry, service.service_id);
    sdtn_set_running(entry, kRunning);
    std::uint8_t* descriptor = sdtn_get_descs(entry) + DESCS_HEADER_SIZE;
    desc48_init(descriptor);
    desc48_set_type(descriptor,
                    service.video_pid != 0 ? kServiceTypeTelevision : kServiceTypeRadio);
    desc48_set_provider(descriptor, reinterpret_cast<const std::uint8_t*>(service.provider.data()),
                        TextLength(service.provider));
    const std::string name = DvbText(service.name);
    desc48_set_service(descriptor, reinterpret_cast<const std::uint8_t*>(name.data()),
                       TextLength(name));
    desc48_set_length(descriptor);
    const auto descriptors =
        static_cast<std::uint16_t>(DESC_HEADER_SIZE + desc_get_length(descriptor));
    sdtn_set_desclength(entry, descriptors);
    entry += SDT_SERVICE_SIZE + descriptors;
  }
  sdt_set_length(section, static_cast<std::uint16_t>(entry - section - SDT_HEADER_SIZE));
  psi_set_crc(section);
  QueueSection(SDT_PID, section);
}

void TransportStreamGenerator::ElementaryPacket(std::uint8_t* packet) {
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
