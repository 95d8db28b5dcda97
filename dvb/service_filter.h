// Keeps one service out of a transponder's stream, so that a recording holds
// that service alone: a PAT of its own that names only this program (own
// version, own continuity counter, valid CRC), the program's PMT, its
// elementary streams and its PCR PID, an SDT of this service's entry alone
// (so that players show its name) and its EIT present/following sections. The PMT and PIDs are
// learnt from the stream and followed when they change; until they are known nothing passes. Or,
// given a list of PIDs, exactly those PIDs unchanged.
//
// `capture --service NAME|ID` and `capture --pids LIST` put it between the
// capture's packets and the file: whole 188-byte packets in, whole packets
// out, nothing of any other service.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "dvb/psi_reader.h"

namespace dvb {

// What to keep.
struct FilterChoice {
  std::uint16_t program = 0;        // when not 0: the service with this number
  std::string service_name;         // else when not empty: the service the SDT calls so
  std::vector<std::uint16_t> pids;  // else: exactly these PIDs, passed unchanged
};

// `--service` as given: all digits (1..65535) choose by number, anything
// else by name (exact, or the only one that matches ignoring ASCII case).
FilterChoice ChooseService(const std::string& text);

// `--pids`: PIDs separated by commas or spaces, decimal or 0x hex
// ("0,0x1201,4641"). False for an empty list or a word that is not a PID 0..8191.
bool ParsePids(const std::string& text, std::vector<std::uint16_t>* pids);

class ServiceFilter {
 public:
  enum class State {
    kLearning,  // the service's tables have not been read yet: nothing passes
    kKeeping,   // its PAT and PMT are known: its packets pass
    kNotFound,  // the PAT (or, by name, the SDT) has been read and lacks it
  };

  // Follows the stream's tables as `tables` reads them (a PID list needs
  // none): each packet goes to `tables` first, then to Take, in stream order,
  // so that the tables are read once however many follow them.
  ServiceFilter(FilterChoice choice, const PsiReader* tables);
  ServiceFilter(const ServiceFilter&) = delete;
  ServiceFilter& operator=(const ServiceFilter&) = delete;

  // Appends the packet to *out when the service keeps it; a table packet
  // that completed the stream's PAT or the service's PMT is replaced by the
  // PAT and PMT written here.
  void Take(const std::uint8_t* packet, std::vector<std::uint8_t>* out);

  State state() const { return state_; }
  // The service kept, as its tables give it (for the report); false until
  // found, and always for a PID list.
  bool service(Service* service) const;
  // The stream's tables as read so far: what the service is found among.
  const PsiReader& tables() const { return *tables_; }

 private:
  enum Action : std::uint8_t { kDrop, kPass, kTables };

  void TablesRead();
  void Resolve();
  void SetActions(const Service& service);
  void AppendPat(std::uint16_t pmt_pid);
  void AppendSdt();
  void AppendSection(std::uint16_t pid, const std::uint8_t* section, std::uint8_t* continuity);

  FilterChoice choice_;
  std::uint16_t program_ = 0;  // the chosen program, once known
  State state_ = State::kLearning;
  std::vector<std::uint8_t> action_;   // Action by PID
  std::vector<std::uint16_t> marked_;  // the PIDs whose action is not kDrop
  const PsiReader* tables_;
  std::uint32_t pats_seen_ = 0;  // the tables' counts of reads, as last followed
  std::uint32_t sdts_seen_ = 0;
  std::uint32_t pmts_seen_ = 0;               // of program_
  std::uint32_t eits_seen_ = 0;               // of program_
  std::vector<std::uint8_t>* out_ = nullptr;  // while Take runs
  bool pat_written_ = false;
  std::uint32_t pat_content_ = 0;  // transport stream id and PMT PID of the PAT last written
  std::uint8_t pat_version_ = 0;
  std::uint8_t pat_continuity_ = 0;
  std::uint8_t pmt_continuity_ = 0;
  std::vector<std::uint8_t> sdt_content_;  // the service's entry in the SDT last written
  std::uint8_t sdt_version_ = 0;
  std::uint8_t sdt_continuity_ = 0;
  std::uint8_t eit_continuity_ = 0;
};

// Hands `count` whole packets to `tables` and to `filter` in stream order,
// the kept ones to *out. Packets without their sync byte are left out, and
// the tables read no packet the demodulator marked as damaged.
void FilterPackets(const std::uint8_t* packets, std::size_t count, PsiReader* tables,
                   ServiceFilter* filter, std::vector<std::uint8_t>* out);
// The same for several filters of one stream (the tables read once), the
// packets filters[i] keeps to *outs[i].
void FilterPackets(const std::uint8_t* packets, std::size_t count, PsiReader* tables,
                   const std::vector<ServiceFilter*>& filters,
                   const std::vector<std::vector<std::uint8_t>*>& outs);

}  // namespace dvb
