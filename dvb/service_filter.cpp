// One action per PID (drop, pass, or hand to the table reader), set again
// whenever the service's PAT entry or PMT is read; the PAT and the PMT are
// written out here, the PAT reduced to the one program.
#include "dvb/service_filter.h"

#include <cstring>

#include <bitstream/dvb/si/eit.h>
#include <bitstream/dvb/si/sdt.h>
#include <bitstream/mpeg/psi.h>
#include <bitstream/mpeg/ts.h>

#include "dvb/name_match.h"

namespace dvb {

namespace {

constexpr std::uint16_t kSdtPid = 0x11;
constexpr std::uint16_t kNoPid = 0x1FFF;
constexpr std::size_t kPidCount = 0x2000;

// The program the SDT names so; 0 for none.
std::uint16_t ProgramNamed(const std::vector<Service>& services, const std::string& name) {
  const Service* found = MatchName(
      services, name, [](const Service& service) -> const std::string& { return service.name; });
  return found != nullptr ? found->program : 0;
}

}  // namespace

FilterChoice ChooseService(const std::string& text) {
  FilterChoice choice;
  const bool digits = !text.empty() && text.size() <= 5 &&
                      text.find_first_not_of("0123456789") == std::string::npos;
  const unsigned long number = digits ? std::stoul(text) : 0;
  if (number >= 1 && number <= 0xFFFF) {
    choice.program = static_cast<std::uint16_t>(number);
  } else {
    choice.service_name = text;
  }
  return choice;
}

ServiceFilter::ServiceFilter(FilterChoice choice, const PsiReader* tables)
    : choice_(std::move(choice)), action_(kPidCount, kDrop), tables_(tables) {
  if (choice_.program == 0 && choice_.service_name.empty()) {
    for (const std::uint16_t pid : choice_.pids) {
      if (pid < kPidCount) {
        action_[pid] = kPass;
      }
    }
    state_ = State::kKeeping;
    return;
  }
  program_ = choice_.program;
  SetActions(Service());  // the PAT, and the SDT: the name it may be chosen by and is reported with
}

void ServiceFilter::Take(const std::uint8_t* packet, std::vector<std::uint8_t>* out) {
  const std::uint8_t action = action_[((packet[1] & 0x1Fu) << 8) | packet[2]];
  if (action == kPass) {
    out->insert(out->end(), packet, packet + TS_SIZE);
  } else if (action == kTables) {
    out_ = out;
    TablesRead();
    out_ = nullptr;
  }
}

bool ServiceFilter::service(Service* service) const {
  return program_ != 0 && state_ == State::kKeeping && tables_->FindService(program_, service);
}

// The stream's own PAT and PMT never pass: what they say is written out here
// at the point the tables read them, as often as the stream repeats them.
void ServiceFilter::TablesRead() {
  const bool sdt = tables_->sdts_read() != sdts_seen_;
  const bool pat = tables_->pats_read() != pats_seen_;
  const bool pmt = program_ != 0 && tables_->pmts_read(program_) != pmts_seen_;
  const bool eit = program_ != 0 && tables_->eits_read(program_) != eits_seen_;
  sdts_seen_ = tables_->sdts_read();
  pats_seen_ = tables_->pats_read();
  eits_seen_ = program_ != 0 ? tables_->eits_read(program_) : 0;
  if (eit && state_ == State::kKeeping) {
    AppendSection(EIT_PID, tables_->eit_section(program_), &eit_continuity_);
  }
  if (!sdt && !pat && !pmt) {
    return;
  }
  Resolve();
  pmts_seen_ = program_ != 0 ? tables_->pmts_read(program_) : 0;
  Service service;
  if (program_ == 0 || !tables_->FindService(program_, &service) || service.pmt_pid == 0) {
    return;
  }
  // A service found in tables read before it was chosen (by its name, from
  // the SDT) starts its recording with its PAT and PMT at once.
  const bool first = !pat_written_ && state_ == State::kKeeping;
  if (pat || first) {
    AppendPat(service.pmt_pid);
  }
  if (pmt || first) {
    AppendSection(service.pmt_pid, tables_->pmt_section(program_), &pmt_continuity_);
  }
  if (sdt || first) {
    AppendSdt();
  }
}

// Which program, and whether the tables read so far have it.
void ServiceFilter::Resolve() {
  if (program_ == 0) {
    if (!tables_->sdt_read()) {
      return;
    }
    program_ = ProgramNamed(tables_->services(), choice_.service_name);
    if (program_ == 0) {
      state_ = State::kNotFound;
      return;
    }
  }
  if (!tables_->pat_read()) {
    return;
  }
  Service service;
  if (!tables_->FindService(program_, &service) || service.pmt_pid == 0) {
    state_ = State::kNotFound;
    service = Service();
  } else {
    state_ = service.pmt_read ? State::kKeeping : State::kLearning;
  }
  SetActions(service);
}

void ServiceFilter::SetActions(const Service& service) {
  for (const std::uint16_t pid : marked_) {
    action_[pid] = kDrop;
  }
  marked_.clear();
  auto mark = [this](std::uint16_t pid, Action action) {
    action_[pid] = action;
    marked_.push_back(pid);
  };
  if (service.pmt_read) {
    for (const ServiceStream& stream : service.streams) {
      mark(stream.pid, kPass);
    }
    if (service.pcr_pid != kNoPid) {
      mark(service.pcr_pid, kPass);
    }
  }
  if (service.pmt_pid != 0) {
    mark(service.pmt_pid, kTables);
  }
  mark(PAT_PID, kTables);
  mark(kSdtPid, kTables);
  mark(EIT_PID, kTables);
}

// The stream's PAT cut down to this program; a new version whenever that
// changes (the PMT moved, another transport stream).
void ServiceFilter::AppendPat(std::uint16_t pmt_pid) {
  const std::uint16_t stream_id = tables_->transport_stream_id();
  const std::uint32_t content = (std::uint32_t{stream_id} << 16) | pmt_pid;
  if (pat_written_ && content != pat_content_) {
    pat_version_ = static_cast<std::uint8_t>((pat_version_ + 1) & 0x1F);
  }
  pat_written_ = true;
  pat_content_ = content;

  std::uint8_t section[PSI_MAX_SIZE + PSI_HEADER_SIZE];
  pat_init(section);
  pat_set_tsid(section, stream_id);
  psi_set_version(section, pat_version_);
  psi_set_current(section);
  psi_set_section(section, 0);
  psi_set_lastsection(section, 0);
  pat_set_length(section, PAT_PROGRAM_SIZE);
  std::uint8_t* program = pat_get_program(section, 0);
  patn_init(program);
  patn_set_program(program, program_);
  patn_set_pid(program, pmt_pid);
  psi_set_crc(section);
  AppendSection(PAT_PID, section, &pat_continuity_);
}

// The stream's SDT cut down to this service's entry, its name and provider
// among its descriptors; a new version whenever the entry changes.
void ServiceFilter::AppendSdt() {
  const std::vector<std::uint8_t>* entry = tables_->sdt_entry(program_);
  constexpr std::size_t kMostEntry =
      PSI_MAX_SIZE + PSI_HEADER_SIZE - SDT_HEADER_SIZE - PSI_CRC_SIZE;
  if (entry == nullptr || entry->empty() || entry->size() > kMostEntry) {
    return;
  }
  if (!sdt_content_.empty() && *entry != sdt_content_) {
    sdt_version_ = static_cast<std::uint8_t>((sdt_version_ + 1) & 0x1F);
  }
  sdt_content_ = *entry;
  std::uint8_t section[PSI_MAX_SIZE + PSI_HEADER_SIZE];
  sdt_init(section, true);
  sdt_set_tsid(section, tables_->transport_stream_id());
  psi_set_version(section, sdt_version_);
  psi_set_current(section);
  psi_set_section(section, 0);
  psi_set_lastsection(section, 0);
  sdt_set_onid(section, tables_->original_network_id());
  sdt_set_length(section, static_cast<std::uint16_t>(entry->size()));
  std::memcpy(section + SDT_HEADER_SIZE, entry->data(), entry->size());
  psi_set_crc(section);
  AppendSection(kSdtPid, section, &sdt_continuity_);
}

// A section as whole packets on `pid`, the rest of the last one stuffing.
void ServiceFilter::AppendSection(std::uint16_t pid, const std::uint8_t* section,
                                  std::uint8_t* continuity) {
  const auto size = static_cast<std::uint16_t>(psi_get_length(section) + PSI_HEADER_SIZE);
  std::uint16_t written = 0;
  while (written < size) {
    std::uint8_t packet[TS_SIZE];
    std::uint8_t filled = 0;
    psi_split_section(packet, &filled, section, &written);
    psi_split_end(packet, &filled);
    ts_set_pid(packet, pid);
    ts_set_cc(packet, *continuity);
    *continuity = static_cast<std::uint8_t>((*continuity + 1) & 0x0F);
    out_->insert(out_->end(), packet, packet + TS_SIZE);
  }
}

void FilterPackets(const std::uint8_t* packets, std::size_t count, PsiReader* tables,
                   const std::vector<ServiceFilter*>& filters,
                   const std::vector<std::vector<std::uint8_t>*>& outs) {
  for (const std::uint8_t* packet = packets; packet != packets + count * TS_SIZE;
       packet += TS_SIZE) {
    if (!ts_validate(packet)) {
      continue;  // without its sync byte even the PID cannot be trusted
    }
    if (!ts_get_transporterror(packet)) {
      tables->Add(packet);
    }
    for (std::size_t i = 0; i < filters.size(); ++i) {
      filters[i]->Take(packet, outs[i]);
    }
  }
}

void FilterPackets(const std::uint8_t* packets, std::size_t count, PsiReader* tables,
                   ServiceFilter* filter, std::vector<std::uint8_t>* out) {
  FilterPackets(packets, count, tables, std::vector<ServiceFilter*>{filter},
                std::vector<std::vector<std::uint8_t>*>{out});
}

bool ParsePids(const std::string& text, std::vector<std::uint16_t>* pids) {
  std::size_t at = 0;
  while ((at = text.find_first_not_of(", ", at)) != std::string::npos) {
    const std::size_t end = std::min(text.find_first_of(", ", at), text.size());
    const std::string word = text.substr(at, end - at);
    const bool hex = word.size() > 2 && (word[1] == 'x' || word[1] == 'X') && word[0] == '0';
    const std::string digits = hex ? word.substr(2) : word;
    if (digits.empty() || digits.size() > 4 ||
        digits.find_first_not_of(hex ? "0123456789abcdefABCDEF" : "0123456789") !=
            std::string::npos) {
      return false;
    }
    const unsigned long pid = std::stoul(digits, nullptr, hex ? 16 : 10);
    if (pid > 0x1FFF) {
      return false;
    }
    pids->push_back(static_cast<std::uint16_t>(pid));
    at = end;
  }
  return !pids->empty();
}

}  // namespace dvb
