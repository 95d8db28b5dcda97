// Packet counting and continuity checks: see stream_stats.h.
#include "dvb/stream_stats.h"

namespace dvb {

namespace {

constexpr unsigned kNullPid = 0x1FFF;

}  // namespace

// The counter steps by one for each packet with a payload and stays for one
// without. Most packets carry a payload and the counter due: one comparison
// settles them (any flag fails it, and the null PID keeps failing it), and the
// rest go to Check: packets without payload, first packets, repeats, gaps, and
// the PIDs to look closer at.
void StreamStats::Add(const std::uint8_t* packets, std::size_t count, PsiReader* tables) {
  packets_ += count;
  const std::uint8_t* const end = packets + count * kTsPacketSize;
  for (const std::uint8_t* packet = packets; packet != end; packet += kTsPacketSize) {
    const std::uint32_t header = static_cast<std::uint32_t>(packet[0]) << 24 |
                                 static_cast<std::uint32_t>(packet[1]) << 16 |
                                 static_cast<std::uint32_t>(packet[2]) << 8 | packet[3];
    if ((header & 0xFF800000U) != 0x47000000U) {  // the sync byte, no transport error
      ++((header >> 24) != 0x47 ? missing_sync_ : transport_errors_);
      continue;
    }
    const unsigned pid = header >> 8 & 0x1FFF;
    ++pid_packets_[pid];
    if (__builtin_expect((header & 0x1F) == pid_next_[pid], 1)) {
      pid_next_[pid] = static_cast<std::uint8_t>(((header + 1) & 0x0F) | kPayload);
    } else if (pid != kNullPid) {  // stuffing has no counter to follow
      Check(packet, pid, tables);
    }
  }
}

// A packet without payload repeats the last counter; one repeat of a packet is
// allowed; a discontinuity announced in the adaptation field starts afresh.
void StreamStats::Check(const std::uint8_t* packet, unsigned pid, PsiReader* tables) {
  std::uint8_t& next = pid_next_[pid];
  // A PID is looked closer at only while it has no counter, or when it holds tables.
  const std::uint8_t flags = next & kTable;
  if ((flags & kTable) != 0 && tables != nullptr) {
    tables->Add(packet);
    if (tables->table_pids_version() != table_pids_version_) {  // a new PAT: its PMT PIDs
      table_pids_version_ = tables->table_pids_version();
      for (unsigned table = 0; table < pid_next_.size(); ++table) {
        const bool reads = tables->Reads(static_cast<std::uint16_t>(table));
        pid_next_[table] = static_cast<std::uint8_t>(reads ? pid_next_[table] | kTable | kLookCloser
                                                           : pid_next_[table] & ~kTable);
      }
    }
  }
  const auto counter = static_cast<std::uint8_t>(packet[3] & 0x0F);
  const bool payload = (packet[3] & 0x10) != 0;
  const bool announced = (packet[3] & 0x20) != 0 && packet[4] > 0 && (packet[5] & 0x80) != 0;
  const auto last = static_cast<std::uint8_t>((next - 1) & 0x0F);
  if ((next & kPayload) != 0 && !announced && counter != (payload ? next & 0x0F : last)) {
    if (payload && counter == last) {
      continuity_errors_ += (next & kRepeated) != 0 ? 1 : 0;
      next |= kRepeated;
      return;
    }
    ++continuity_errors_;
  }
  next = static_cast<std::uint8_t>(((counter + 1) & 0x0F) | kPayload | flags |
                                   ((flags & kTable) != 0 ? kLookCloser : 0));
}

std::map<std::uint16_t, std::uint64_t> StreamStats::pids() const {
  std::map<std::uint16_t, std::uint64_t> counts;
  for (std::size_t pid = 0; pid < pid_packets_.size(); ++pid) {
    if (pid_packets_[pid] > 0) {
      counts[static_cast<std::uint16_t>(pid)] = pid_packets_[pid];
    }
  }
  return counts;
}

}  // namespace dvb
