// A reader of a transport stream's programme tables: packets in,
// typed services out. It gathers sections with biTStream, checks their CRC,
// and reads the PAT (programs and their PMT PIDs), each program's PMT (PCR
// PID, elementary streams), the SDT of the stream itself (service and
// provider names, decoded to UTF-8 by their character table) and the NIT of
// its own network (the network's satellite transponders).
//
// It is cheap to feed every packet: a packet on a PID that carries none of
// these tables costs one PID extraction and one look-up in a table indexed by
// PID. The capture's statistics use it for the services a recording carries,
// the service filter (service_filter.h) for the PIDs of the one service it
// keeps, and the scan (scan.h) for a transponder's services.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "dvb/channel_file.h"

namespace dvb {

enum class StreamKind : std::uint8_t { kVideo, kAudio, kOther };

struct ServiceStream {
  std::uint16_t pid = 0;
  std::uint8_t stream_type = 0;          // as the PMT gives it: 0x02 MPEG-2 video, 0x1B H.264, ...
  StreamKind kind = StreamKind::kOther;  // by stream type, and by descriptor for private data
};

struct Service {
  std::uint16_t program = 0;       // the program number, which the SDT calls the service id
  std::uint16_t pmt_pid = 0;       // 0: not in the PAT (named by the SDT only)
  bool pmt_read = false;           // pcr_pid and streams come from its PMT
  std::uint16_t pcr_pid = 0x1FFF;  // 0x1FFF: none
  std::vector<ServiceStream> streams;
  std::uint8_t service_type = 0;  // from the SDT: 0x01 television, 0x02 radio, ...; 0 unknown
  std::string name;               // UTF-8; empty when the SDT has not named it
  std::string provider;
};

// A transponder of the network, as the NIT's satellite delivery system
// descriptor gives it: delivery system, frequency, polarisation, symbol rate,
// code rate (and for DVB-S2 modulation and roll-off); inversion automatic.
struct NetworkTransponder {
  std::uint16_t transport_stream_id = 0;
  std::uint16_t original_network_id = 0;
  TransponderParameters parameters;
  int orbital_tenths = 0;  // the satellite's position, tenths of a degree, east positive
};

// "13818-2 video (MPEG-2)" and so on for a PMT stream type.
const char* StreamTypeName(std::uint8_t stream_type);

class PsiReader {
 public:
  PsiReader();
  ~PsiReader();
  PsiReader(const PsiReader&) = delete;
  PsiReader& operator=(const PsiReader&) = delete;

  // One whole 188-byte packet, in stream order.
  void Add(const std::uint8_t* packet) {
    const auto pid = static_cast<std::uint16_t>(((packet[1] & 0x1F) << 8) | packet[2]);
    if (table_of_pid_[pid] != kNoTable) {
      Take(packet, pid);
    }
  }
  void Add(const std::uint8_t* packets, std::size_t count);

  // Tables read whole and valid so far, repetitions of one read before
  // included: a follower of the stream (the service filter) sees from a
  // change that one was read by the packet it just handed in.
  std::uint32_t pats_read() const { return pats_read_; }
  std::uint32_t sdts_read() const { return sdts_read_; }
  std::uint32_t pmts_read(std::uint16_t program) const;

  // The PAT's programs (program 0, the network PID, left out) and the
  // services the SDT names, in program number order.
  std::vector<Service> services() const;
  // One of them; false when neither the PAT nor the SDT knows it.
  bool FindService(std::uint16_t program, Service* service) const;

  bool pat_read() const { return pat_read_; }
  bool sdt_read() const { return sdt_read_; }
  // The PAT names a network PID (program 0): the stream carries a NIT.
  bool network_announced() const { return network_pid_ != 0; }
  // The NIT actual, read whole: the network's id, name and satellite
  // transponders, in the table's order.
  bool nit_read() const { return nit_read_; }
  std::uint16_t network_id() const { return network_id_; }
  const std::string& network_name() const { return network_name_; }
  const std::vector<NetworkTransponder>& network_transponders() const {
    return network_transponders_;
  }
  // Programs of the PAT whose PMT has not been read yet.
  std::size_t pmts_missing() const;
  // The PAT, the SDT and the PMT of every program in the PAT have been read.
  bool complete() const { return pat_read_ && sdt_read_ && pmts_missing() == 0; }
  std::uint16_t transport_stream_id() const { return transport_stream_id_; }
  // The PMT section of `program` as last read, CRC included; nullptr before.
  const std::uint8_t* pmt_section(std::uint16_t program) const;
  // The SDT's entry for `program` as it reads (service id, flags and
  // descriptors), and the SDT's original network id: for an SDT of that
  // service alone. nullptr when the SDT has none.
  const std::vector<std::uint8_t>* sdt_entry(std::uint16_t program) const;
  std::uint16_t original_network_id() const { return original_network_id_; }
  // The EIT present/following section of `program` last read (present or
  // following), CRC included, and how many have been read; nullptr before.
  const std::uint8_t* eit_section(std::uint16_t program) const;
  std::uint32_t eits_read(std::uint16_t program) const;

  // Whether packets of `pid` carry a table it reads; the version of that set
  // steps at each change (a new PAT), so that a reader of the stream can
  // follow it cheaply.
  bool Reads(std::uint16_t pid) const { return table_of_pid_[pid] != kNoTable; }
  std::uint32_t table_pids_version() const { return table_pids_version_; }

 private:
  enum TableKind : std::uint8_t { kNoTable, kPatTable, kSdtTable, kPmtTable, kNitTable, kEitTable };
  struct Assembly {
    std::uint8_t* buffer = nullptr;  // biTStream's section being gathered
    std::uint16_t used = 0;
    int last_continuity = -1;
    std::vector<std::uint8_t> last;  // the section last read whole, a table of one section
  };
  struct Program {
    std::uint16_t pmt_pid = 0;
    std::vector<std::uint8_t> pmt;  // the section; empty before it is read
    std::uint16_t pcr_pid = 0x1FFF;
    std::vector<ServiceStream> streams;
  };
  struct Names {
    std::uint8_t service_type = 0;
    std::string name;
    std::string provider;
    std::vector<std::uint8_t> entry;  // as the SDT has it
  };
  struct Events {
    std::vector<std::uint8_t> section;  // present or following, the last read
    std::uint32_t read = 0;
  };

  void Take(const std::uint8_t* packet, std::uint16_t pid);
  void TakeSection(std::uint16_t pid, std::uint8_t* section, Assembly* assembly);
  // True when the section made a whole table, read or repeated.
  bool TakePat(std::uint8_t* section);
  bool TakeSdt(std::uint8_t* section);
  bool TakePmt(std::uint16_t pid, std::uint8_t* section);
  bool TakeNit(std::uint8_t* section);
  void SetTablePids();
  void Count(TableKind kind, std::uint16_t id);

  std::array<std::uint8_t, 0x2000> table_of_pid_{};  // TableKind by PID
  std::map<std::uint16_t, Assembly> assemblies_;     // by PID
  std::array<std::uint8_t*, 256> pat_next_{};        // sections of a PAT being gathered
  std::array<std::uint8_t*, 256> pat_{};             // the PAT in force
  std::array<std::uint8_t*, 256> sdt_next_{};
  std::array<std::uint8_t*, 256> sdt_{};
  std::array<std::uint8_t*, 256> nit_next_{};
  std::array<std::uint8_t*, 256> nit_{};
  std::uint32_t table_pids_version_ = 0;
  bool pat_read_ = false;
  bool sdt_read_ = false;
  bool nit_read_ = false;
  std::uint16_t transport_stream_id_ = 0;
  std::uint16_t network_pid_ = 0;  // the PAT's program 0; 0 none
  std::uint16_t network_id_ = 0;
  std::string network_name_;
  std::vector<NetworkTransponder> network_transponders_;
  std::map<std::uint16_t, Program> programs_;  // the PAT's, by program number
  std::map<std::uint16_t, Names> names_;       // the SDT's, by service id
  std::map<std::uint16_t, Events> events_;     // the EIT present/following's, by service id
  std::uint16_t original_network_id_ = 0;
  std::uint32_t pats_read_ = 0;
  std::uint32_t sdts_read_ = 0;
  std::map<std::uint16_t, std::uint32_t> pmts_read_;  // by program number, kept across PATs
};

}  // namespace dvb
