// Channel files in the dvbv5 format of the Linux DVB tools and of Debian's
// dtv-scan-tables: one [NAME] section per transponder or service, each line
// KEY = VALUE. Transponder files (dtv-scan-tables' dvb-s folder) give the
// tuning parameters only; service files, as a scan writes them, add the
// service id and the elementary-stream PIDs.
//
//   [Pellam Sport]
//           SERVICE_ID = 3001
//           VIDEO_PID = 4609
//           AUDIO_PID = 4610
//           DELIVERY_SYSTEM = DVBS
//           FREQUENCY = 11778000          (kHz)
//           POLARIZATION = VERTICAL
//           SYMBOL_RATE = 27500000        (symbols per second)
//           INNER_FEC = 3/4
//
// The commands use it thus: `tune --channel NAME --channels FILE` and
// `capture --channel ...` read the file and tune to the named entry; `scan`
// reads a transponder file, tunes each entry and writes the services found
// (scan.h) with WriteChannelFile.
//
// Keys and values are read without regard to case, as the dvbv5 tools do;
// keys this program has no use for (PILOT, STREAM_ID, VCHANNEL, ...) are
// passed over. Only satellite entries (DVBS, DVBS2) are taken. A section's
// name ends at its first ']', as libdvbv5 reads it, and the format escapes
// nothing: the writer writes the brackets of a name that holds a ']' as
// parentheses ("News [HD]" as "News (HD)"), the closest name both read back.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "dvb/transponder.h"

namespace dvb {

// Polarization and CodeRate (transponder.h), Modulation, Rolloff and Inversion
// are numbered as the Linux DVB API numbers them (fe_code_rate_t and so on).
enum class DeliverySystem : std::uint8_t { kDvbS, kDvbS2 };
enum class Modulation : std::uint8_t {
  kQpsk,
  kQam16,
  kQam32,
  kQam64,
  kQam128,
  kQam256,
  kQamAuto,
  kVsb8,
  kVsb16,
  kPsk8,
  kApsk16,
  kApsk32,
  kDqpsk,
  kQam4Nr,
};
enum class Rolloff : std::uint8_t { k35, k20, k25, kAuto };
enum class Inversion : std::uint8_t { kOff, kOn, kAuto };

struct TransponderParameters {
  DeliverySystem delivery_system = DeliverySystem::kDvbS;
  std::uint32_t frequency_khz = 0;  // on the dish, before the LNB
  Polarization polarization = Polarization::kVertical;
  std::uint32_t symbol_rate = 0;  // symbols per second
  CodeRate fec = CodeRate::kAuto;
  Inversion inversion = Inversion::kAuto;
  std::optional<Modulation> modulation;
  std::optional<Rolloff> rolloff;
  std::optional<int> satellite_number;  // SAT_NUMBER: the dish's switch input, from 0
  std::string lnb;                      // LNB: the LNB type's name as given; empty for none
};

struct OtherPid {
  std::uint8_t stream_type;  // the PMT's stream type: PID_06 is type 0x06
  std::uint16_t pid;
};

struct ChannelEntry {
  std::string name;  // empty for a [CHANNEL] section, as transponder files have
  TransponderParameters transponder;
  std::uint16_t service_id = 0;  // 0: a transponder, no service
  std::vector<std::uint16_t> video_pids;
  std::vector<std::uint16_t> audio_pids;
  std::vector<OtherPid> other_pids;
  int line = 0;  // where its section begins in the file read; 0 for one made here
};

// Reads a whole file. On a malformed one returns false with *error naming
// the line: "line 7: POLARIZATION must be HORIZONTAL, VERTICAL, LEFT, RIGHT or
// OFF, not 'H'". An empty file is no error: it has no entries.
bool ReadChannelFile(std::istream& in, std::vector<ChannelEntry>* entries, std::string* error);
// The same for a file by path; *error then begins with the path, and says
// why a file that cannot be opened could not.
bool LoadChannelFile(const std::string& path, std::vector<ChannelEntry>* entries,
                     std::string* error);

// Writes the entries as the dvbv5 tools write them, keys in their order;
// a file the Linux tools and ReadChannelFile read back to the same entries.
void WriteChannelFile(std::ostream& out, const std::vector<ChannelEntry>& entries);

// The entry of that name: the exact name first, else the only one that
// matches ignoring ASCII case; nullptr when there is none (or several).
const ChannelEntry* FindChannel(const std::vector<ChannelEntry>& entries, const std::string& name);

// "VERTICAL", "3/4", "DVBS" and so on, as the file writes them.
const char* PolarizationName(Polarization polarization);
const char* CodeRateName(CodeRate fec);
const char* DeliverySystemName(DeliverySystem system);

}  // namespace dvb
