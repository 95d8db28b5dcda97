// The services a stream announces: its PAT's programs, with what their PMTs
// and the SDT say about them. Table sections are gathered from their packets
// (also when one runs over several) and read with biTStream.
#pragma once
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

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

class StreamServices {
 public:
  // Reads a packet of one of its PIDs, in stream order; true when it learnt
  // of PIDs to read (from the PAT).
  bool Take(std::uint16_t pid, const std::uint8_t* packet);
  // The PIDs it reads: the PAT's, the SDT's and those of the PMTs seen.
  const std::vector<std::uint16_t>& pids() const { return pids_; }

  // The PAT's programs (network PID left out) and the services only the SDT
  // names, in program number order.
  std::vector<ServiceInfo> services() const;

 private:
  struct TableState {
    int last_continuity = -1;           // -1 before the first packet
    std::vector<std::uint8_t> section;  // a table section being gathered
  };

  void GatherSection(std::uint16_t pid, const std::uint8_t* packet, TableState* state);
  void TakeSection(std::uint16_t pid, std::vector<std::uint8_t>* section);

  std::vector<std::uint16_t> pids_ = {0x00, 0x11};
  bool learnt_ = false;
  std::map<std::uint16_t, TableState> tables_;
  std::map<std::uint16_t, ServiceInfo> services_;  // by program number
};

// "13818-2 video (MPEG-2)" and so on for a PMT stream type.
const char* StreamTypeName(std::uint8_t stream_type);
