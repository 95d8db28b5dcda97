// Gathering and reading the stream's tables over biTStream: see stream_services.h.
#include "host/stream_services.h"

#include <algorithm>

#include <bitstream/dvb/si/desc_48.h>
#include <bitstream/dvb/si/sdt.h>
#include <bitstream/mpeg/psi.h>
#include <bitstream/mpeg/ts.h>

#include "host/packet_ring.h"

namespace {

constexpr std::uint8_t kServiceDescriptor = 0x48;
constexpr std::size_t kMaxSection = 4096;

// A DVB text without its leading character-table byte, if it has one.
std::string DvbText(const std::uint8_t* text, std::uint8_t length) {
  std::size_t start = length > 0 && text[0] < 0x20 ? 1 : 0;
  return std::string(reinterpret_cast<const char*>(text) + start, length - start);
}

}  // namespace

const char* StreamTypeName(std::uint8_t stream_type) { return pmt_get_streamtype_txt(stream_type); }

// A lost packet drops the section being gathered on its PID.
bool StreamServices::Take(std::uint16_t pid, const std::uint8_t* packet) {
  TableState& state = tables_[pid];
  if (state.last_continuity >= 0 &&
      ts_check_discontinuity(ts_get_cc(packet), static_cast<std::uint8_t>(state.last_continuity))) {
    state.section.clear();
  }
  state.last_continuity = ts_get_cc(packet);
  learnt_ = false;
  GatherSection(pid, packet, &state);
  return learnt_;
}

// Sections may start anywhere in a payload (after the pointer field) and run
// over several packets; a lost packet drops the section being gathered.
void StreamServices::GatherSection(std::uint16_t pid, const std::uint8_t* packet,
                                   TableState* state) {
  if (!ts_has_payload(packet)) {
    return;
  }
  const std::uint8_t* payload = ts_payload(const_cast<std::uint8_t*>(packet));
  const std::uint8_t* end = packet + kTsPacketSize;
  if (payload >= end) {
    return;
  }
  std::vector<std::uint8_t>& section = state->section;
  if (ts_get_unitstart(packet)) {
    const std::uint8_t pointer = payload[0];
    const std::uint8_t* start = payload + 1 + pointer;
    if (!section.empty() && start <= end) {
      section.insert(section.end(), payload + 1, start);
      TakeSection(pid, &section);
    }
    section.clear();
    payload = start;
  } else if (section.empty()) {
    return;  // the middle of a section whose start we missed
  }
  while (payload < end) {
    const std::size_t had = section.size();
    section.insert(section.end(), payload, end);
    if (section.size() < PSI_HEADER_SIZE) {
      return;
    }
    const std::size_t whole = PSI_HEADER_SIZE + psi_get_length(section.data());
    if (whole > kMaxSection) {
      section.clear();
      return;
    }
    if (section.size() < whole) {
      return;
    }
    // Another section may follow in the same packet; 0xFF is stuffing.
    payload += whole - had;
    section.resize(whole);
    TakeSection(pid, &section);
    section.clear();
    if (payload < end && *payload == 0xFF) {
      return;
    }
  }
}

void StreamServices::TakeSection(std::uint16_t pid, std::vector<std::uint8_t>* data) {
  std::uint8_t* section = data->data();
  if (data->size() < PSI_HEADER_SIZE ||
      data->size() != std::size_t{PSI_HEADER_SIZE} + psi_get_length(section) ||
      !psi_validate(section) || !psi_check_crc(section)) {
    return;
  }
  if (pid == PAT_PID && psi_get_tableid(section) == PAT_TABLE_ID && pat_validate(section)) {
    for (std::uint8_t n = 0;; ++n) {
      const std::uint8_t* program = pat_get_program(section, n);
      if (program == nullptr) {
        break;
      }
      const std::uint16_t number = patn_get_program(program);
      if (number != 0) {  // program 0 names the network PID
        ServiceInfo& service = services_[number];
        service.program = number;
        service.pmt_pid = patn_get_pid(program);
        if (std::find(pids_.begin(), pids_.end(), service.pmt_pid) == pids_.end()) {
          pids_.push_back(service.pmt_pid);
          learnt_ = true;
        }
      }
    }
  } else if (pid == SDT_PID && psi_get_tableid(section) == SDT_TABLE_ID_ACTUAL &&
             sdt_validate(section)) {
    for (std::uint8_t n = 0;; ++n) {
      std::uint8_t* entry = sdt_get_service(section, n);
      if (entry == nullptr) {
        break;
      }
      ServiceInfo& service = services_[sdtn_get_sid(entry)];
      service.program = sdtn_get_sid(entry);
      std::uint8_t* descriptors = sdtn_get_descs(entry);
      for (std::uint16_t d = 0;; ++d) {
        const std::uint8_t* descriptor = descs_get_desc(descriptors, d);
        if (descriptor == nullptr) {
          break;
        }
        if (desc_get_tag(descriptor) == kServiceDescriptor && desc48_validate(descriptor)) {
          std::uint8_t length = 0;
          const std::uint8_t* text = desc48_get_provider(descriptor, &length);
          service.provider = DvbText(text, length);
          text = desc48_get_service(descriptor, &length);
          service.name = DvbText(text, length);
        }
      }
    }
  } else if (psi_get_tableid(section) == PMT_TABLE_ID && pmt_validate(section)) {
    const auto found = services_.find(psi_get_tableidext(section));
    if (found == services_.end() || found->second.pmt_pid != pid) {
      return;
    }
    ServiceInfo& service = found->second;
    service.pcr_pid = pmt_get_pcrpid(section);
    service.streams.clear();
    for (std::uint8_t n = 0;; ++n) {
      const std::uint8_t* stream = pmt_get_es(section, n);
      if (stream == nullptr) {
        break;
      }
      service.streams.push_back({pmtn_get_pid(stream), pmtn_get_streamtype(stream)});
    }
  }
}

std::vector<ServiceInfo> StreamServices::services() const {
  std::vector<ServiceInfo> list;
  for (const auto& entry : services_) {
    list.push_back(entry.second);
  }
  return list;
}
