// The PIDs a stream carries, as the query's pids, addpids and delpids give
// them: the whole transport stream ("all"), none, or a list of PIDs 0..8191.
// A set of bits, so that the server's packet path asks Contains in one step
// and nothing is allocated per packet.
#pragma once
#include <bitset>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace satip {

constexpr std::uint16_t kMaxPid = 8191;
// At most this many PIDs listed in one set: what a status report can carry in
// one datagram (about 5 characters a PID).
constexpr std::size_t kMaxListedPids = 128;

class PidSet {
 public:
  static PidSet All();
  static PidSet None() { return {}; }

  bool all() const { return all_; }
  // No PID, and not all.
  bool none() const { return !all_ && listed_.none(); }
  bool Contains(std::uint16_t pid) const { return all_ || (pid <= kMaxPid && listed_[pid]); }
  // The PIDs listed, in increasing order (none when all).
  std::vector<std::uint16_t> Listed() const;
  std::size_t ListedCount() const { return listed_.count(); }

  // Adding to all leaves all; removing from all leaves all too (SAT>IP 1.2.2
  // gives "all" no exceptions). False, changing nothing, when the list would
  // grow beyond kMaxListedPids.
  bool Add(const PidSet& pids);
  void Remove(const PidSet& pids);

  // "all", "" for none, or "0,17,18".
  std::string Text() const;

  bool operator==(const PidSet& other) const {
    return all_ == other.all_ && listed_ == other.listed_;
  }
  bool operator!=(const PidSet& other) const { return !(*this == other); }

 private:
  bool all_ = false;
  std::bitset<kMaxPid + 1> listed_;

  friend bool ParsePids(std::string_view, PidSet*, std::string*);
};

// "all", "none", "" (none) or a comma-separated list of PIDs; 8192 in a list
// stands for the whole stream, as some clients write it. Repeated PIDs count
// once. False with a reason in *error (without the key's name).
bool ParsePids(std::string_view text, PidSet* pids, std::string* error);

}  // namespace satip
