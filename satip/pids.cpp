// PID sets and their text.
#include "satip/pids.h"

#include "satip/text.h"

namespace satip {

namespace {

// The PID some clients write for the whole stream.
constexpr long kAllPid = 8192;

}  // namespace

PidSet PidSet::All() {
  PidSet pids;
  pids.all_ = true;
  return pids;
}

std::vector<std::uint16_t> PidSet::Listed() const {
  std::vector<std::uint16_t> pids;
  for (std::uint16_t pid = 0; pid <= kMaxPid && !all_; ++pid) {
    if (listed_[pid]) {
      pids.push_back(pid);
    }
  }
  return pids;
}

bool PidSet::Add(const PidSet& pids) {
  if (all_ || pids.all_) {
    *this = All();
    return true;
  }
  const std::bitset<kMaxPid + 1> grown = listed_ | pids.listed_;
  if (grown.count() > kMaxListedPids) {
    return false;
  }
  listed_ = grown;
  return true;
}

void PidSet::Remove(const PidSet& pids) {
  if (!all_) {
    listed_ &= ~pids.listed_;
  }
}

std::string PidSet::Text() const {
  if (all_) {
    return "all";
  }
  std::string text;
  for (const std::uint16_t pid : Listed()) {
    text += (text.empty() ? "" : ",") + std::to_string(pid);
  }
  return text;
}

bool ParsePids(std::string_view text, PidSet* pids, std::string* error) {
  PidSet parsed;
  if (EqualsIgnoringCase(text, "all")) {
    parsed.all_ = true;
  } else if (!text.empty() && !EqualsIgnoringCase(text, "none")) {
    for (const std::string_view item : Split(text, ',')) {
      long pid = 0;
      if (!ParseNumber(Trim(item), 0, kAllPid, &pid)) {
        *error = Quoted(item) + " is not a PID (0.." + std::to_string(kMaxPid) + ")";
        return false;
      }
      if (pid == kAllPid) {
        parsed.all_ = true;
      } else {
        parsed.listed_.set(static_cast<std::size_t>(pid));
      }
    }
    if (parsed.all_) {
      parsed.listed_.reset();
    } else if (parsed.listed_.count() > kMaxListedPids) {
      *error = "more than " + std::to_string(kMaxListedPids) + " PIDs";
      return false;
    }
  }
  *pids = parsed;
  return true;
}

}  // namespace satip
