// Programme tables built with biTStream, as a multiplexer builds them, for the
// tests of the table reader and its users: a PAT, a PMT, an SDT naming services.
#pragma once

#include <bitstream/dvb/si/desc_48.h>
#include <bitstream/dvb/si/sdt.h>
#include <bitstream/mpeg/psi.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

using Section = std::vector<std::uint8_t>;

inline Section FinishedSection(Section section) {
  psi_set_crc(section.data());
  section.resize(psi_get_length(section.data()) + PSI_HEADER_SIZE);
  return section;
}

// Programs as (program number, PMT PID); transport stream 7.
inline Section Pat(const std::vector<std::pair<std::uint16_t, std::uint16_t>>& programs) {
  Section section(PSI_MAX_SIZE + PSI_HEADER_SIZE);
  std::uint8_t* s = section.data();
  pat_init(s);
  pat_set_tsid(s, 7);
  psi_set_current(s);
  pat_set_length(s, static_cast<std::uint16_t>(programs.size() * PAT_PROGRAM_SIZE));
  for (std::size_t i = 0; i < programs.size(); ++i) {
    std::uint8_t* program = pat_get_program(s, static_cast<std::uint8_t>(i));
    patn_init(program);
    patn_set_program(program, programs[i].first);
    patn_set_pid(program, programs[i].second);
  }
  return FinishedSection(section);
}

struct PmtStream {
  std::uint8_t stream_type;
  std::uint16_t pid;
  std::uint8_t descriptor_tag = 0;  // one empty descriptor of this tag; 0 for none
};

// The PCR on the first stream's PID.
inline Section Pmt(std::uint16_t program_number, const std::vector<PmtStream>& streams) {
  Section section(PSI_MAX_SIZE + PSI_HEADER_SIZE);
  std::uint8_t* s = section.data();
  pmt_init(s);
  pmt_set_program(s, program_number);
  psi_set_current(s);
  pmt_set_pcrpid(s, streams.front().pid);
  pmt_set_desclength(s, 0);
  std::uint16_t length = 0;
  pmt_set_length(s, static_cast<std::uint16_t>(streams.size() * (PMT_ES_SIZE + DESC_HEADER_SIZE)));
  for (std::size_t i = 0; i < streams.size(); ++i) {
    std::uint8_t* stream = pmt_get_es(s, static_cast<std::uint8_t>(i));
    pmtn_init(stream);
    pmtn_set_streamtype(stream, streams[i].stream_type);
    pmtn_set_pid(stream, streams[i].pid);
    const bool described = streams[i].descriptor_tag != 0;
    pmtn_set_desclength(stream, described ? DESC_HEADER_SIZE : 0);
    if (described) {
      std::uint8_t* descriptor = pmtn_get_descs(stream) + DESCS_HEADER_SIZE;
      desc_set_tag(descriptor, streams[i].descriptor_tag);
      desc_set_length(descriptor, 0);
    }
    length = static_cast<std::uint16_t>(length + PMT_ES_SIZE + pmtn_get_desclength(stream));
  }
  pmt_set_length(s, length);
  return FinishedSection(section);
}

// An SDT of transport stream 7 naming each service, from provider "Provider";
// long names make it run over packets.
inline Section Sdt(const std::vector<std::pair<std::uint16_t, std::string>>& services) {
  Section section(PSI_PRIVATE_MAX_SIZE + PSI_HEADER_SIZE);
  std::uint8_t* s = section.data();
  sdt_init(s, true);
  sdt_set_tsid(s, 7);
  psi_set_current(s);
  sdt_set_onid(s, 1);
  std::uint8_t* entry = s + SDT_HEADER_SIZE;
  for (const auto& service : services) {
    sdtn_init(entry);
    sdtn_set_sid(entry, service.first);
    std::uint8_t* descriptor = sdtn_get_descs(entry) + DESCS_HEADER_SIZE;
    desc48_init(descriptor);
    desc48_set_type(descriptor, 1);
    const std::string provider = "Provider";
    desc48_set_provider(descriptor, reinterpret_cast<const std::uint8_t*>(provider.data()),
                        static_cast<std::uint8_t>(provider.size()));
    desc48_set_service(descriptor, reinterpret_cast<const std::uint8_t*>(service.second.data()),
                       static_cast<std::uint8_t>(service.second.size()));
    desc48_set_length(descriptor);
    sdtn_set_desclength(entry,
                        static_cast<std::uint16_t>(DESC_HEADER_SIZE + desc_get_length(descriptor)));
    entry = sdtn_get_descs(entry) + DESCS_HEADER_SIZE + sdtn_get_desclength(entry);
  }
  sdt_set_length(s, static_cast<std::uint16_t>(entry - s - SDT_HEADER_SIZE));
  return FinishedSection(section);
}
