// What a capture received, counted in one pass over each run of packets with
// a fixed table per PID: packets per PID, packets without a sync byte, packets
// the demodulator marked as damaged, and continuity counter gaps. The packets
// of the stream's tables are handed on to the table reader on the way.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <map>

#include "dvb/psi_reader.h"
#include "dvb/ts_packet.h"

namespace dvb {

class StreamStats {
 public:
  // Counts whole 188-byte packets, in stream order; `tables` (may be null)
  // reads those of its PIDs.
  void Add(const std::uint8_t* packets, std::size_t count, PsiReader* tables);

  std::uint64_t packets() const { return packets_; }
  std::uint64_t bytes() const { return packets_ * kTsPacketSize; }
  std::uint64_t missing_sync() const { return missing_sync_; }
  std::uint64_t continuity_errors() const { return continuity_errors_; }
  std::uint64_t transport_errors() const { return transport_errors_; }
  // Packets per PID, for the PIDs seen with a sync byte and no transport
  // error, in PID order.
  std::map<std::uint16_t, std::uint64_t> pids() const;

 private:
  // Per PID, what its next packet is to carry in the low five bits of its
  // fourth byte: the payload bit (0x10) and the counter due; and its flags.
  // Without the payload bit no counter is known yet. A PID marked kLookCloser
  // has every packet checked in full: the table PIDs, whose packets go on to
  // the tables.
  static constexpr std::uint8_t kPayload = 0x10;
  static constexpr std::uint8_t kLookCloser = 0x20;
  static constexpr std::uint8_t kTable = 0x40;
  static constexpr std::uint8_t kRepeated = 0x80;  // the last packet repeated the one before

  void Check(const std::uint8_t* packet, unsigned pid, PsiReader* tables);

  std::uint64_t packets_ = 0;
  std::uint64_t missing_sync_ = 0;
  std::uint64_t continuity_errors_ = 0;
  std::uint64_t transport_errors_ = 0;
  std::uint32_t table_pids_version_ = 0;  // of the tables' PIDs marked kTable
  // Per PID, in arrays of their own so that one index reaches both.
  std::array<std::uint64_t, 8192> pid_packets_{};
  // At first every PID is looked closer at; the PAT's and the SDT's go to the tables.
  std::array<std::uint8_t, 8192> pid_next_ = [] {
    std::array<std::uint8_t, 8192> next;
    next.fill(kLookCloser);
    next[0x00] = next[0x11] = kTable | kLookCloser;
    return next;
  }();
};

}  // namespace dvb
