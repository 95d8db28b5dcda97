// One action per PID (drop, pass, or hand to the table reader), set again
// whenever the service's PAT entry or PMT is read; the PAT and the PMT are
// written out here, the PAT reduced to the one program.
#include "dvb/service_filter.h"

#include <cstring>

#include <bitstream/mpeg/psi.h>
#include <bitstream/mpeg/ts.h>

#include "dvb/name_match.h"

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

ServiceFilter::ServiceFilter(FilterChoice choice)
    : choice_(std::move(choice)), action_(kPidCount, kDrop) {
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
  reader_.SetObserver([this](Table table, std::uint16_t id) { TableRead(table, id); });
}

void ServiceFilter::Filter(const std::uint8_t* packets, std::size_t count,
                           std::vector<std::uint8_t>* out) {
  out_ = out;
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint8_t* packet = packets + i * TS_SIZE;
    if (!ts_validate(packet)) {
      continue;  // without its sync byte even the PID cannot be trusted
    }
    const std::uint8_t action = action_[((packet[1] & 0x1Fu) << 8) | packet[2]];
    if (action == kPass) {
      out->insert(out->end(), packet, packet + TS_SIZE);
    } else if (action == kTables) {
      reader_.Add(packet);
    }
  }
  out_ = nullptr;
}

bool ServiceFilter::service(Service* service) const {
  return program_ != 0 && state_ == State::kKeeping && reader_.FindService(program_, service);
}

// The stream's own PAT and PMT never pass: the reader has taken them, and
// what they say is written out here at the point they were read.
void ServiceFilter::TableRead(Table table, std::uint16_t id) {
  if (table == Table::kPmt && id != program_) {
    return;  // another program's PMT on a PID shared with ours
  }
  Resolve();
  Service service;
  if (program_ == 0 || !reader_.FindService(program_, &service) || service.pmt_pid == 0) {
    return;
  }
  if (table == Table::kPat) {
    AppendPat(service.pmt_pid);
  } else if (table == Table::kPmt) {
    AppendSection(service.pmt_pid, reader_.pmt_section(program_), &pmt_continuity_);
  }
}

// Which program, and whether the tables read so far have it.
void ServiceFilter::Resolve() {
  if (program_ == 0) {
    if (!reader_.sdt_read()) {
      return;
    }
    program_ = ProgramNamed(reader_.services(), choice_.service_name);
    if (program_ == 0) {
      state_ = State::kNotFound;
      return;
    }
  }
  if (!reader_.pat_read()) {
    return;
  }
  Service service;
  if (!reader_.FindService(program_, &service) || service.pmt_pid == 0) {
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
}

// The stream's PAT cut down to this program; a new version whenever that
// changes (the PMT moved, another transport stream).
void ServiceFilter::AppendPat(std::uint16_t pmt_pid) {
  const std::uint16_t stream_id = reader_.transport_stream_id();
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
