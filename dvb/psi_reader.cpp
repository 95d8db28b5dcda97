// Sections gathered by biTStream's psi_assemble_* per table PID, whole tables
// by its psi_table_*, each checked (CRC, layout) before it is read.
#include "dvb/psi_reader.h"

#include <cstdlib>
#include <cstring>

#include <bitstream/dvb/si/desc_40.h>
#include <bitstream/dvb/si/desc_43.h>
#include <bitstream/dvb/si/desc_48.h>
#include <bitstream/dvb/si/eit.h>
#include <bitstream/dvb/si/nit.h>
#include <bitstream/dvb/si/sdt.h>
#include <bitstream/mpeg/psi.h>
#include <bitstream/mpeg/ts.h>

#include "dvb/dvb_text.h"

namespace dvb {

namespace {

constexpr std::uint16_t kNoPid = 0x1FFF;
constexpr std::uint8_t kServiceDescriptor = 0x48;
constexpr std::uint8_t kNetworkNameDescriptor = 0x40;
constexpr std::uint8_t kSatelliteDeliveryDescriptor = 0x43;
constexpr std::uint8_t kPrivateData = 0x06;

struct KindOfType {
  std::uint8_t stream_type;
  StreamKind kind;
};

// clang-format off
constexpr KindOfType kKinds[] = {
    {0x01, StreamKind::kVideo},  // MPEG-1
    {0x02, StreamKind::kVideo},  // MPEG-2
    {0x10, StreamKind::kVideo},  // MPEG-4 part 2
    {0x1B, StreamKind::kVideo},  // H.264
    {0x24, StreamKind::kVideo},  // H.265
    {0x42, StreamKind::kVideo},  // AVS
    {0x03, StreamKind::kAudio},  // MPEG-1 layer 1-3
    {0x04, StreamKind::kAudio},  // MPEG-2 layer 1-3
    {0x0F, StreamKind::kAudio},  // AAC (ADTS)
    {0x11, StreamKind::kAudio},  // AAC (LATM)
    {0x81, StreamKind::kAudio},  // AC-3 (ATSC)
    {0x87, StreamKind::kAudio},  // E-AC-3 (ATSC)
};
// clang-format on

// Private data that a descriptor declares audio: AC-3, E-AC-3, DTS, AAC.
constexpr std::uint8_t kAudioDescriptors[] = {0x6A, 0x7A, 0x7B, 0x7C};

StreamKind KindOf(std::uint8_t* stream) {
  const std::uint8_t type = pmtn_get_streamtype(stream);
  for (const KindOfType& entry : kKinds) {
    if (entry.stream_type == type) {
      return entry.kind;
    }
  }
  if (type == kPrivateData) {
    const std::uint8_t* descriptor = nullptr;
    for (std::uint16_t n = 0; (descriptor = descs_get_desc(pmtn_get_descs(stream), n)) != nullptr;
         ++n) {
      for (const std::uint8_t tag : kAudioDescriptors) {
        if (desc_get_tag(descriptor) == tag) {
          return StreamKind::kAudio;
        }
      }
    }
  }
  return StreamKind::kOther;
}

// The services of an SDT section, walked once (biTStream's sdt_get_service
// counts them with a byte).
std::vector<std::uint8_t*> SdtServices(std::uint8_t* section) {
  std::vector<std::uint8_t*> services;
  std::uint8_t* end = section + psi_get_length(section) + PSI_HEADER_SIZE - PSI_CRC_SIZE;
  for (std::uint8_t* entry = section + SDT_HEADER_SIZE; entry + SDT_SERVICE_SIZE <= end;
       entry += SDT_SERVICE_SIZE + sdtn_get_desclength(entry)) {
    services.push_back(entry);
  }
  return services;
}

// The transport streams of a valid NIT section, walked once (biTStream's
// nit_get_ts counts them with a byte).
std::vector<std::uint8_t*> NitTransports(std::uint8_t* section) {
  std::vector<std::uint8_t*> transports;
  std::uint8_t* end = section + psi_get_length(section) + PSI_HEADER_SIZE - PSI_CRC_SIZE;
  for (std::uint8_t* entry = nit_get_header2(section) + NIT_HEADER2_SIZE;
       entry + NIT_TS_SIZE <= end; entry += NIT_TS_SIZE + nitn_get_desclength(entry)) {
    transports.push_back(entry);
  }
  return transports;
}

// The satellite delivery system descriptor's codes, by their value.
constexpr CodeRate kNitCodeRates[16] = {
    CodeRate::kAuto, CodeRate::k1_2,  CodeRate::k2_3,  CodeRate::k3_4,
    CodeRate::k5_6,  CodeRate::k7_8,  CodeRate::k8_9,  CodeRate::k3_5,
    CodeRate::k4_5,  CodeRate::k9_10, CodeRate::kAuto, CodeRate::kAuto,
    CodeRate::kAuto, CodeRate::kAuto, CodeRate::kAuto, CodeRate::kNone};
constexpr Modulation kNitModulations[4] = {Modulation::kQamAuto, Modulation::kQpsk,
                                           Modulation::kPsk8, Modulation::kApsk16};
constexpr Rolloff kNitRolloffs[4] = {Rolloff::k35, Rolloff::k25, Rolloff::k20, Rolloff::kAuto};

// A transport stream of the NIT with its satellite delivery system descriptor.
NetworkTransponder SatelliteTransponder(const std::uint8_t* entry, const std::uint8_t* descriptor) {
  NetworkTransponder transponder;
  transponder.transport_stream_id = nitn_get_tsid(entry);
  transponder.original_network_id = nitn_get_onid(entry);
  const auto position = static_cast<int>(desc43_get_position(descriptor));
  transponder.orbital_tenths = desc43_get_east(descriptor) ? position : -position;
  TransponderParameters& p = transponder.parameters;
  const bool dvb_s2 = desc43_get_dvbs2(descriptor);
  p.delivery_system = dvb_s2 ? DeliverySystem::kDvbS2 : DeliverySystem::kDvbS;
  p.frequency_khz = desc43_get_frequency(descriptor);
  // Linear horizontal, linear vertical, circular left, circular right.
  p.polarization = static_cast<Polarization>(desc43_get_polarization(descriptor) + 1);
  p.symbol_rate = desc43_get_symbolrate(descriptor);
  p.fec = kNitCodeRates[desc43_get_fecinner(descriptor)];
  if (dvb_s2) {
    p.modulation = kNitModulations[desc43_get_modulation(descriptor)];
    p.rolloff = kNitRolloffs[desc43_get_rolloff(descriptor)];
  }
  return transponder;
}

// Limits that biTStream's table readers count on, as byte-sized counters
// walk the sections of a table, the programs of a PAT and the services of an
// SDT: no stream within the standard goes near them.
bool WithinCounters(std::uint8_t* section) {
  const std::uint8_t table_id = psi_get_tableid(section);
  if (psi_get_lastsection(section) == 0xFF ||
      psi_get_section(section) > psi_get_lastsection(section)) {
    return false;
  }
  if (table_id == SDT_TABLE_ID_ACTUAL) {
    return SdtServices(section).size() <= 0xFF;
  }
  if (table_id == NIT_TABLE_ID_ACTUAL) {
    return nit_validate(section) && NitTransports(section).size() <= 0xFF;
  }
  return psi_get_length(section) <= PSI_MAX_SIZE;  // PAT and PMT
}

void ClearTable(std::array<std::uint8_t*, 256>* table) {
  psi_table_free(table->data());
  psi_table_init(table->data());
}

// Gathers a section into `next`; when that makes a whole table that differs
// from `current`, it becomes the current one. True when a whole table was
// read (a repetition too); *changed tells whether it was new.
bool GatherTable(std::uint8_t* section, std::array<std::uint8_t*, 256>* next,
                 std::array<std::uint8_t*, 256>* current, bool have_current,
                 bool (*valid)(std::uint8_t**), bool* changed) {
  if (!psi_get_current(section)) {
    std::free(section);
    return false;
  }
  if (!psi_table_section(next->data(), section)) {
    return false;
  }
  if (!valid(next->data())) {
    ClearTable(next);
    return false;
  }
  *changed = !have_current || !psi_table_compare(current->data(), next->data());
  if (*changed) {
    psi_table_free(current->data());
    psi_table_copy(current->data(), next->data());
    psi_table_init(next->data());
  } else {
    ClearTable(next);
  }
  return true;
}

}  // namespace

const char* StreamTypeName(std::uint8_t stream_type) { return pmt_get_streamtype_txt(stream_type); }

PsiReader::PsiReader() {
  table_of_pid_[PAT_PID] = kPatTable;
  table_of_pid_[SDT_PID] = kSdtTable;
  table_of_pid_[NIT_PID] = kNitTable;
  table_of_pid_[EIT_PID] = kEitTable;
}

PsiReader::~PsiReader() {
  for (auto& entry : assemblies_) {
    psi_assemble_reset(&entry.second.buffer, &entry.second.used);
  }
  psi_table_free(pat_next_.data());
  psi_table_free(pat_.data());
  psi_table_free(sdt_next_.data());
  psi_table_free(sdt_.data());
  psi_table_free(nit_next_.data());
  psi_table_free(nit_.data());
}

void PsiReader::Add(const std::uint8_t* packets, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    Add(packets + i * TS_SIZE);
  }
}

// A section may end in a packet that starts the next (the bytes before the
// pointer field's target), and several may follow each other; a lost or
// damaged packet drops the section being gathered.
void PsiReader::Take(const std::uint8_t* packet_in, std::uint16_t pid) {
  // biTStream's readers take a pointer to non-const but only read.
  auto* packet = const_cast<std::uint8_t*>(packet_in);
  Assembly& assembly = assemblies_[pid];
  if (!ts_validate(packet) || ts_get_transporterror(packet)) {
    psi_assemble_reset(&assembly.buffer, &assembly.used);
    assembly.last_continuity = -1;
    return;
  }
  if (!ts_has_payload(packet)) {
    return;
  }
  const std::uint8_t counter = ts_get_cc(packet);
  if (assembly.last_continuity >= 0) {
    const auto last = static_cast<std::uint8_t>(assembly.last_continuity);
    if (ts_check_duplicate(counter, last)) {
      return;
    }
    if (ts_check_discontinuity(counter, last)) {
      psi_assemble_reset(&assembly.buffer, &assembly.used);
    }
  }
  assembly.last_continuity = counter;

  const std::uint8_t* end = packet + TS_SIZE;
  const std::uint8_t* payload = ts_payload(packet);
  if (payload >= end) {
    return;
  }
  if (ts_get_unitstart(packet)) {
    const std::uint8_t* start = payload + 1 + *payload;
    if (start >= end) {
      psi_assemble_reset(&assembly.buffer, &assembly.used);
      return;
    }
    if (!psi_assemble_empty(&assembly.buffer, &assembly.used)) {
      const std::uint8_t* rest = payload + 1;
      auto length = static_cast<std::uint8_t>(start - rest);
      std::uint8_t* section =
          psi_assemble_payload(&assembly.buffer, &assembly.used, &rest, &length);
      if (section != nullptr) {
        TakeSection(pid, section, &assembly);
      }
      // What did not end where the next section begins is damaged.
      psi_assemble_reset(&assembly.buffer, &assembly.used);
    }
    payload = start;
  } else if (psi_assemble_empty(&assembly.buffer, &assembly.used)) {
    return;  // the middle of a section whose start was missed
  }
  auto length = static_cast<std::uint8_t>(end - payload);
  while (length > 0) {
    std::uint8_t* section =
        psi_assemble_payload(&assembly.buffer, &assembly.used, &payload, &length);
    if (section != nullptr) {
      TakeSection(pid, section, &assembly);
    }
  }
}

// Owns `section` (biTStream's allocation) from here on. Tables repeat many
// times a second: a section that repeats the one last read whole on its PID
// (a table of one section) is that table again, told but not read again.
void PsiReader::TakeSection(std::uint16_t pid, std::uint8_t* section, Assembly* assembly) {
  const std::size_t size = psi_get_length(section) + PSI_HEADER_SIZE;
  const TableKind kind = static_cast<TableKind>(table_of_pid_[pid]);
  if (assembly->last.size() == size && std::memcmp(assembly->last.data(), section, size) == 0) {
    std::free(section);
    Count(kind, psi_get_tableidext(assembly->last.data()));
    return;
  }
  const std::uint8_t table_id = psi_get_tableid(section);
  const bool sound = psi_get_syntax(section) && psi_validate(section) && psi_check_crc(section) &&
                     WithinCounters(section);
  std::vector<std::uint8_t> copy(section, section + size);
  bool whole = false;
  if (sound && kind == kPatTable && table_id == PAT_TABLE_ID && pat_validate(section)) {
    whole = TakePat(section);
  } else if (sound && kind == kSdtTable && table_id == SDT_TABLE_ID_ACTUAL &&
             sdt_validate(section)) {
    whole = TakeSdt(section);
  } else if (sound && kind == kPmtTable && table_id == PMT_TABLE_ID && pmt_validate(section)) {
    whole = TakePmt(pid, section);
  } else if (sound && kind == kNitTable && table_id == NIT_TABLE_ID_ACTUAL) {
    whole = TakeNit(section);
  } else if (sound && kind == kEitTable && table_id == EIT_TABLE_ID_PF_ACTUAL &&
             size >= EIT_HEADER_SIZE + PSI_CRC_SIZE) {
    Events& events = events_[psi_get_tableidext(section)];
    events.section = copy;
    ++events.read;
    std::free(section);
  } else {
    std::free(section);
  }
  if (whole && psi_get_lastsection(copy.data()) == 0) {
    assembly->last = std::move(copy);
  }
}

bool PsiReader::TakePat(std::uint8_t* section) {
  bool changed = false;
  if (!GatherTable(section, &pat_next_, &pat_, pat_read_, pat_table_validate, &changed)) {
    return false;
  }
  if (changed) {
    pat_read_ = true;
    transport_stream_id_ = psi_table_get_tableidext(pat_.data());
    std::map<std::uint16_t, Program> programs;
    network_pid_ = 0;
    for (int i = 0; i <= psi_table_get_lastsection(pat_.data()); ++i) {
      std::uint8_t* part = psi_table_get_section(pat_.data(), static_cast<std::uint8_t>(i));
      const std::uint8_t* entry = nullptr;
      for (std::uint8_t n = 0; (entry = pat_get_program(part, n)) != nullptr; ++n) {
        const std::uint16_t number = patn_get_program(entry);
        const std::uint16_t pid = patn_get_pid(entry);
        if (number == 0) {
          network_pid_ = pid;
          continue;
        }
        // A program whose PMT stays where it was keeps what its PMT said.
        const auto known = programs_.find(number);
        programs[number] = known != programs_.end() && known->second.pmt_pid == pid
                               ? std::move(known->second)
                               : Program{pid, {}, kNoPid, {}};
      }
    }
    programs_ = std::move(programs);
    SetTablePids();
  }
  Count(kPatTable, transport_stream_id_);
  return true;
}

bool PsiReader::TakeSdt(std::uint8_t* section) {
  bool changed = false;
  if (!GatherTable(section, &sdt_next_, &sdt_, sdt_read_, sdt_table_validate, &changed)) {
    return false;
  }
  if (changed) {
    sdt_read_ = true;
    names_.clear();
    original_network_id_ = sdt_get_onid(psi_table_get_section(sdt_.data(), 0));
    for (int i = 0; i <= psi_table_get_lastsection(sdt_.data()); ++i) {
      std::uint8_t* part = psi_table_get_section(sdt_.data(), static_cast<std::uint8_t>(i));
      for (std::uint8_t* entry : SdtServices(part)) {
        Names& names = names_[sdtn_get_sid(entry)];
        names.entry.assign(entry, entry + SDT_SERVICE_SIZE + sdtn_get_desclength(entry));
        const std::uint8_t* descriptor = nullptr;
        for (std::uint16_t d = 0;
             (descriptor = descs_get_desc(sdtn_get_descs(entry), d)) != nullptr; ++d) {
          if (desc_get_tag(descriptor) != kServiceDescriptor || !desc48_validate(descriptor)) {
            continue;
          }
          std::uint8_t length = 0;
          const std::uint8_t* text = desc48_get_provider(descriptor, &length);
          names.provider = DvbTextToUtf8(text, length);
          text = desc48_get_service(descriptor, &length);
          names.name = DvbTextToUtf8(text, length);
          names.service_type = desc48_get_type(descriptor);
        }
      }
    }
  }
  Count(kSdtTable, psi_table_get_tableidext(sdt_.data()));
  return true;
}

bool PsiReader::TakeNit(std::uint8_t* section) {
  bool changed = false;
  if (!GatherTable(section, &nit_next_, &nit_, nit_read_, nit_table_validate, &changed)) {
    return false;
  }
  if (changed) {
    nit_read_ = true;
    network_id_ = psi_table_get_tableidext(nit_.data());
    network_name_.clear();
    network_transponders_.clear();
    for (int i = 0; i <= psi_table_get_lastsection(nit_.data()); ++i) {
      std::uint8_t* part = psi_table_get_section(nit_.data(), static_cast<std::uint8_t>(i));
      const std::uint8_t* descriptor = nullptr;
      for (std::uint16_t d = 0; (descriptor = descs_get_desc(nit_get_descs(part), d)) != nullptr;
           ++d) {
        if (desc_get_tag(descriptor) == kNetworkNameDescriptor && desc40_validate(descriptor)) {
          std::uint8_t length = 0;
          const std::uint8_t* text = desc40_get_networkname(descriptor, &length);
          network_name_ = DvbTextToUtf8(text, length);
        }
      }
      for (std::uint8_t* entry : NitTransports(part)) {
        for (std::uint16_t d = 0;
             (descriptor = descs_get_desc(nitn_get_descs(entry), d)) != nullptr; ++d) {
          if (desc_get_tag(descriptor) == kSatelliteDeliveryDescriptor &&
              desc43_validate(descriptor)) {
            network_transponders_.push_back(SatelliteTransponder(entry, descriptor));
          }
        }
      }
    }
  }
  return true;
}

bool PsiReader::TakePmt(std::uint16_t pid, std::uint8_t* section) {
  const std::uint16_t number = pmt_get_program(section);
  const auto found = programs_.find(number);
  if (found == programs_.end() || found->second.pmt_pid != pid || !psi_get_current(section)) {
    std::free(section);  // a program this PAT does not give this PID
    return false;
  }
  Program& program = found->second;
  const std::size_t size = psi_get_length(section) + PSI_HEADER_SIZE;
  if (program.pmt.size() != size || std::memcmp(program.pmt.data(), section, size) != 0) {
    program.pmt.assign(section, section + size);
    program.pcr_pid = pmt_get_pcrpid(section);
    program.streams.clear();
    std::uint8_t* stream = nullptr;
    for (std::uint8_t n = 0; (stream = pmt_get_es(section, n)) != nullptr; ++n) {
      program.streams.push_back(
          {pmtn_get_pid(stream), pmtn_get_streamtype(stream), KindOf(stream)});
    }
  }
  std::free(section);
  Count(kPmtTable, number);
  return true;
}

// The PAT, SDT and NIT PIDs stay; PMT PIDs, and a network PID other than the
// NIT's own, follow the PAT in force. What was read before is read afresh: a
// PMT may now belong to another program.
void PsiReader::SetTablePids() {
  ++table_pids_version_;
  for (std::size_t pid = 0; pid < table_of_pid_.size(); ++pid) {
    if (table_of_pid_[pid] == kPmtTable || (table_of_pid_[pid] == kNitTable && pid != NIT_PID)) {
      table_of_pid_[pid] = kNoTable;
    }
  }
  if (network_pid_ != 0 && table_of_pid_[network_pid_] == kNoTable) {
    table_of_pid_[network_pid_] = kNitTable;
  }
  for (const auto& entry : programs_) {
    if (table_of_pid_[entry.second.pmt_pid] == kNoTable) {
      table_of_pid_[entry.second.pmt_pid] = kPmtTable;
    }
  }
  for (auto it = assemblies_.begin(); it != assemblies_.end();) {
    it->second.last.clear();
    if (table_of_pid_[it->first] == kNoTable) {
      psi_assemble_reset(&it->second.buffer, &it->second.used);
      it = assemblies_.erase(it);
    } else {
      ++it;
    }
  }
}

// `id`: the program number for a PMT, the transport stream id for the PAT and the SDT.
void PsiReader::Count(TableKind kind, std::uint16_t id) {
  if (kind == kPatTable) {
    ++pats_read_;
  } else if (kind == kSdtTable) {
    ++sdts_read_;
  } else if (kind == kPmtTable) {
    ++pmts_read_[id];
  }
}

const std::vector<std::uint8_t>* PsiReader::sdt_entry(std::uint16_t program) const {
  const auto found = names_.find(program);
  return found != names_.end() ? &found->second.entry : nullptr;
}

const std::uint8_t* PsiReader::eit_section(std::uint16_t program) const {
  const auto found = events_.find(program);
  return found != events_.end() ? found->second.section.data() : nullptr;
}

std::uint32_t PsiReader::eits_read(std::uint16_t program) const {
  const auto found = events_.find(program);
  return found != events_.end() ? found->second.read : 0;
}

std::uint32_t PsiReader::pmts_read(std::uint16_t program) const {
  const auto found = pmts_read_.find(program);
  return found != pmts_read_.end() ? found->second : 0;
}

bool PsiReader::FindService(std::uint16_t program, Service* service) const {
  const auto in_pat = programs_.find(program);
  const auto in_sdt = names_.find(program);
  if (in_pat == programs_.end() && in_sdt == names_.end()) {
    return false;
  }
  *service = Service();
  service->program = program;
  if (in_pat != programs_.end()) {
    service->pmt_pid = in_pat->second.pmt_pid;
    service->pmt_read = !in_pat->second.pmt.empty();
    service->pcr_pid = in_pat->second.pcr_pid;
    service->streams = in_pat->second.streams;
  }
  if (in_sdt != names_.end()) {
    service->service_type = in_sdt->second.service_type;
    service->name = in_sdt->second.name;
    service->provider = in_sdt->second.provider;
  }
  return true;
}

std::vector<Service> PsiReader::services() const {
  std::map<std::uint16_t, Service> merged;
  for (const auto& entry : programs_) {
    FindService(entry.first, &merged[entry.first]);
  }
  for (const auto& entry : names_) {
    FindService(entry.first, &merged[entry.first]);
  }
  std::vector<Service> list;
  list.reserve(merged.size());
  for (auto& entry : merged) {
    list.push_back(std::move(entry.second));
  }
  return list;
}

std::size_t PsiReader::pmts_missing() const {
  std::size_t missing = 0;
  for (const auto& entry : programs_) {
    missing += entry.second.pmt.empty() ? 1 : 0;
  }
  return missing;
}

const std::uint8_t* PsiReader::pmt_section(std::uint16_t program) const {
  const auto found = programs_.find(program);
  return found == programs_.end() || found->second.pmt.empty() ? nullptr : found->second.pmt.data();
}

}  // namespace dvb
