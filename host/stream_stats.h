// What a capture received: packets per PID, what went wrong (missing sync
// bytes, continuity counter gaps, transport errors), and the services the
// stream announces in its PAT, PMTs and SDT.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

constexpr std::size_t kTsPacketSize = 188;

struct ElementaryStream {
  std::uint16_t pid;
  std::uint8_t stream_type;
};

struct ServiceInfo {
  std::uint16_t program = 0;
  std::uint16_t pmt_pid = 0;
  std::uint16_t pcr_pid = 0;
  std::string name;  // from the SDT; empty when none was seen
  std::string provider;
  std::vector<ElementaryStream> streams;  // from the PMT; empty when none was seen
};

class StreamStats {
 public:
  // Counts whole 188-byte packets, in stream order.
  void Add(const std::uint8_t* packets, std::size_t count);

  std::uint64_t packets() const { return packets_; }
  std::uint64_t bytes() const { return packets_ * kTsPacketSize; }
  std::uint64_t missing_sync() const { return missing_sync_; }
  std::uint64_t continuity_errors() const { return continuity_errors_; }
  std::uint64_t transport_errors() const { return transport_errors_; }
  // Packets per PID, for the packets that began with a sync byte.
  std::map<std::uint16_t, std::uint64_t> pids() const;
  // The PAT's programs (network PID left out), with what the PMTs and the SDT
  // said about them, in program number order.
  std::vector<ServiceInfo> services() const;

 private:
  struct PidState {
    std::uint64_t packets = 0;
    int last_continuity = -1;  // -1 before the first packet with a counter
    bool duplicate_seen = false;
    std::vector<std::uint8_t> section;  // a table section being gathered
  };

  void CheckContinuity(const std::uint8_t* packet, PidState* state);
  void GatherSection(std::uint16_t pid, const std::uint8_t* packet, PidState* state);
  void TakeSection(std::uint16_t pid, std::vector<std::uint8_t>* section);
  bool IsTablePid(std::uint16_t pid) const;

  std::uint64_t packets_ = 0;
  std::uint64_t missing_sync_ = 0;
  std::uint64_t continuity_errors_ = 0;
  std::uint64_t transport_errors_ = 0;
  std::map<std::uint16_t, PidState> pid_states_;
  std::map<std::uint16_t, ServiceInfo> services_;  // by program number
};

// "MPEG-2 video", "AAC audio" and so on for a PMT stream type.
const char* StreamTypeName(std::uint8_t stream_type);
