// Reading and writing dvbv5 channel files: a table of keys, each with the
// routine that takes its value, and tables of the values' names.
#include "dvb/channel_file.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <istream>
#include <ostream>

#include "dvb/name_match.h"

namespace dvb {

namespace {

template <typename T>
struct Named {
  const char* name;
  T value;
};

constexpr Named<DeliverySystem> kDeliverySystems[] = {
    {"DVBS", DeliverySystem::kDvbS},
    {"DVBS2", DeliverySystem::kDvbS2},
};
constexpr Named<Polarization> kPolarizations[] = {
    {"HORIZONTAL", Polarization::kHorizontal},
    {"VERTICAL", Polarization::kVertical},
    {"LEFT", Polarization::kLeft},
    {"RIGHT", Polarization::kRight},
    {"OFF", Polarization::kOff},
};
constexpr Named<Modulation> kModulations[] = {
    {"QPSK", Modulation::kQpsk},        {"QAM/16", Modulation::kQam16},
    {"QAM/32", Modulation::kQam32},     {"QAM/64", Modulation::kQam64},
    {"QAM/128", Modulation::kQam128},   {"QAM/256", Modulation::kQam256},
    {"QAM/AUTO", Modulation::kQamAuto}, {"VSB/8", Modulation::kVsb8},
    {"VSB/16", Modulation::kVsb16},     {"PSK/8", Modulation::kPsk8},
    {"APSK/16", Modulation::kApsk16},   {"APSK/32", Modulation::kApsk32},
    {"DQPSK", Modulation::kDqpsk},      {"QAM/4_NR", Modulation::kQam4Nr},
};
constexpr Named<Rolloff> kRolloffs[] = {
    {"35", Rolloff::k35},
    {"20", Rolloff::k20},
    {"25", Rolloff::k25},
    {"AUTO", Rolloff::kAuto},
};
constexpr Named<Inversion> kInversions[] = {
    {"OFF", Inversion::kOff},
    {"ON", Inversion::kOn},
    {"AUTO", Inversion::kAuto},
};

constexpr std::uint16_t kMaxPid = 0x1FFF;
constexpr char kNamelessSection[] = "CHANNEL";

// A table's entries have a name and a value: Named, or CodeRateEntry.
template <typename Entry, std::size_t N>
const char* NameOf(const Entry (&table)[N], decltype(Entry::value) value) {
  for (const Entry& entry : table) {
    if (entry.value == value) {
      return entry.name;
    }
  }
  return "?";
}

// The value named `text`, or a problem that lists the names.
template <typename Entry, std::size_t N>
bool Lookup(const Entry (&table)[N], const std::string& text, decltype(Entry::value)* value,
            std::string* problem) {
  for (const Entry& entry : table) {
    if (SameIgnoringCase(text, entry.name)) {
      *value = entry.value;
      return true;
    }
  }
  *problem = "must be ";
  for (std::size_t i = 0; i < N; ++i) {
    *problem += std::string(i == 0 ? "" : i + 1 == N ? " or " : ", ") + table[i].name;
  }
  *problem += ", not '" + text + "'";
  return false;
}

// Decimal digits only, within [low, high].
bool Number(const std::string& text, std::uint32_t low, std::uint32_t high, std::uint32_t* value,
            std::string* problem) {
  std::uint64_t number = 0;
  bool valid = !text.empty() && text.size() <= 10;
  for (const char c : text) {
    valid = valid && std::isdigit(static_cast<unsigned char>(c)) != 0;
    number = number * 10 + static_cast<std::uint64_t>(c - '0');
  }
  if (!valid || number < low || number > high) {
    *problem = "must be a whole number from " + std::to_string(low) + " to " +
               std::to_string(high) + ", not '" + text + "'";
    return false;
  }
  *value = static_cast<std::uint32_t>(number);
  return true;
}

// PIDs separated by spaces: "4610 4611".
bool PidList(const std::string& text, std::vector<std::uint16_t>* pids, std::string* problem) {
  std::size_t at = 0;
  while ((at = text.find_first_not_of(" \t", at)) != std::string::npos) {
    const std::size_t end = text.find_first_of(" \t", at);
    std::uint32_t pid = 0;
    if (!Number(text.substr(at, end - at), 0, kMaxPid, &pid, problem)) {
      *problem = "holds PIDs, each of which " + *problem;
      return false;
    }
    pids->push_back(static_cast<std::uint16_t>(pid));
    at = end;
  }
  return true;
}

// What a section's keys have given so far.
enum Given : unsigned {
  kGivenSystem = 1,
  kGivenFrequency = 2,
  kGivenPolarization = 4,
  kGivenSymbolRate = 8,
};

using Setter = bool (*)(const std::string& value, ChannelEntry* entry, std::string* problem);

struct Key {
  const char* name;
  unsigned gives;
  Setter set;
};

// clang-format off
constexpr Key kKeys[] = {
    {"DELIVERY_SYSTEM", kGivenSystem, [](const std::string& v, ChannelEntry* e, std::string* p) {
       return Lookup(kDeliverySystems, v, &e->transponder.delivery_system, p);
     }},
    {"FREQUENCY", kGivenFrequency, [](const std::string& v, ChannelEntry* e, std::string* p) {
       return Number(v, 1, UINT32_MAX, &e->transponder.frequency_khz, p);
     }},
    {"POLARIZATION", kGivenPolarization, [](const std::string& v, ChannelEntry* e, std::string* p) {
       return Lookup(kPolarizations, v, &e->transponder.polarization, p);
     }},
    {"SYMBOL_RATE", kGivenSymbolRate, [](const std::string& v, ChannelEntry* e, std::string* p) {
       return Number(v, 1, UINT32_MAX, &e->transponder.symbol_rate, p);
     }},
    {"INNER_FEC", 0, [](const std::string& v, ChannelEntry* e, std::string* p) {
       return Lookup(kCodeRates, v, &e->transponder.fec, p);
     }},
    {"INVERSION", 0, [](const std::string& v, ChannelEntry* e, std::string* p) {
       return Lookup(kInversions, v, &e->transponder.inversion, p);
     }},
    {"MODULATION", 0, [](const std::string& v, ChannelEntry* e, std::string* p) {
       Modulation modulation{};
       const bool known = Lookup(kModulations, v, &modulation, p);
       e->transponder.modulation = modulation;
       return known;
     }},
    {"ROLLOFF", 0, [](const std::string& v, ChannelEntry* e, std::string* p) {
       Rolloff rolloff{};
       const bool known = Lookup(kRolloffs, v, &rolloff, p);
       e->transponder.rolloff = rolloff;
       return known;
     }},
    {"SAT_NUMBER", 0, [](const std::string& v, ChannelEntry* e, std::string* p) {
       std::uint32_t number = 0;
       const bool valid = Number(v, 0, 255, &number, p);
       e->transponder.satellite_number = static_cast<int>(number);
       return valid;
     }},
    {"LNB", 0, [](const std::string& v, ChannelEntry* e, std::string*) {
       e->transponder.lnb = v;
       return true;
     }},
    {"SERVICE_ID", 0, [](const std::string& v, ChannelEntry* e, std::string* p) {
       std::uint32_t id = 0;
       const bool valid = Number(v, 1, 0xFFFF, &id, p);
       e->service_id = static_cast<std::uint16_t>(id);
       return valid;
     }},
    {"VIDEO_PID", 0, [](const std::string& v, ChannelEntry* e, std::string* p) {
       return PidList(v, &e->video_pids, p);
     }},
    {"AUDIO_PID", 0, [](const std::string& v, ChannelEntry* e, std::string* p) {
       return PidList(v, &e->audio_pids, p);
     }},
};
// clang-format on

// PID_xx = ...: elementary streams of stream type 0xxx. False when `key` is
// not of that form.
bool OtherPids(const std::string& key, const std::string& value, ChannelEntry* entry,
               std::string* problem) {
  if (key.size() < 5 || key.size() > 6 || key.compare(0, 4, "PID_") != 0 ||
      key.find_first_not_of("0123456789ABCDEF", 4) != std::string::npos) {
    return false;
  }
  std::vector<std::uint16_t> pids;
  if (!PidList(value, &pids, problem)) {
    return true;
  }
  problem->clear();
  const auto stream_type = static_cast<std::uint8_t>(std::stoul(key.substr(4), nullptr, 16));
  for (const std::uint16_t pid : pids) {
    entry->other_pids.push_back({stream_type, pid});
  }
  return true;
}

// Without the blanks around it: spaces, tabs, and carriage returns, which
// Windows line ends (and ones converted twice, "\r\r\n") leave.
std::string Trimmed(const std::string& text) {
  const std::size_t start = text.find_first_not_of(" \t\r");
  if (start == std::string::npos) {
    return std::string();
  }
  return text.substr(start, text.find_last_not_of(" \t\r") - start + 1);
}

std::string Uppercase(std::string text) {
  for (char& c : text) {
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  return text;
}

std::string At(int line) { return "line " + std::to_string(line) + ": "; }

// The checks once a section has ended: the keys every satellite entry needs.
bool Finish(ChannelEntry* entry, unsigned given, std::vector<ChannelEntry>* entries,
            std::string* error) {
  const char* missing = (given & kGivenSystem) == 0         ? "DELIVERY_SYSTEM"
                        : (given & kGivenFrequency) == 0    ? "FREQUENCY"
                        : (given & kGivenPolarization) == 0 ? "POLARIZATION"
                        : (given & kGivenSymbolRate) == 0   ? "SYMBOL_RATE"
                                                            : nullptr;
  if (missing != nullptr) {
    *error = At(entry->line) + "[" + (entry->name.empty() ? kNamelessSection : entry->name) +
             "] has no " + missing;
    return false;
  }
  entries->push_back(std::move(*entry));
  return true;
}

}  // namespace

bool ReadChannelFile(std::istream& in, std::vector<ChannelEntry>* entries, std::string* error) {
  std::vector<ChannelEntry> read;
  ChannelEntry entry;
  unsigned given = 0;
  bool in_section = false;
  std::string text;
  for (int line = 1; std::getline(in, text); ++line) {
    if (line == 1 && text.compare(0, 3, "\xEF\xBB\xBF") == 0) {
      text.erase(0, 3);  // a byte-order mark, as some Windows editors write
    }
    text = Trimmed(text);
    if (text.empty() || text[0] == '#') {
      continue;
    }
    if (text[0] == '[') {
      // The name ends at the first ']', as libdvbv5 reads it.
      const std::size_t end = text.find(']');
      if (end == std::string::npos) {
        *error = At(line) + "a section name must end with ']': " + text;
        return false;
      }
      if (in_section && !Finish(&entry, given, &read, error)) {
        return false;
      }
      entry = ChannelEntry();
      // "[CHANNEL]" exactly is nameless; "[ CHANNEL]" is a service of that name.
      const std::string name = text.substr(1, end - 1);
      entry.name = name == kNamelessSection ? std::string() : Trimmed(name);
      entry.line = line;
      given = 0;
      in_section = true;
      continue;
    }
    const std::size_t equals = text.find('=');
    if (equals == std::string::npos) {
      *error = At(line) + "expected KEY = VALUE, not '" + text + "'";
      return false;
    }
    if (!in_section) {
      *error = At(line) + "KEY = VALUE before the first [NAME] section";
      return false;
    }
    const std::string key = Uppercase(Trimmed(text.substr(0, equals)));
    const std::string value = Trimmed(text.substr(equals + 1));
    if (value.empty()) {
      *error = At(line) + key + " has no value";
      return false;
    }
    std::string problem;
    bool known = false;
    for (const Key& entry_key : kKeys) {
      if (key == entry_key.name) {
        known = true;
        if (entry_key.set(value, &entry, &problem)) {
          given |= entry_key.gives;
        }
        break;
      }
    }
    if (!known) {
      OtherPids(key, value, &entry, &problem);
    }
    if (!problem.empty()) {
      *error = At(line).append(key).append(" ").append(problem);
      return false;
    }
  }
  if (in_section && !Finish(&entry, given, &read, error)) {
    return false;
  }
  *entries = std::move(read);
  return true;
}

bool LoadChannelFile(const std::string& path, std::vector<ChannelEntry>* entries,
                     std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = path + ": " + std::strerror(errno);
    return false;
  }
  if (!ReadChannelFile(in, entries, error)) {
    *error = path + ", " + *error;
    return false;
  }
  return true;
}

namespace {

void WritePids(std::ostream& out, const char* key, const std::vector<std::uint16_t>& pids) {
  if (pids.empty()) {
    return;
  }
  out << '\t' << key << " =";
  for (const std::uint16_t pid : pids) {
    out << ' ' << pid;
  }
  out << '\n';
}

// PID_xx lines, one per stream type, in the order the types first appear.
void WriteOtherPids(std::ostream& out, const std::vector<OtherPid>& others) {
  std::vector<std::uint8_t> types;
  for (const OtherPid& other : others) {
    if (std::find(types.begin(), types.end(), other.stream_type) == types.end()) {
      types.push_back(other.stream_type);
    }
  }
  for (const std::uint8_t type : types) {
    std::vector<std::uint16_t> pids;
    for (const OtherPid& other : others) {
      if (other.stream_type == type) {
        pids.push_back(other.pid);
      }
    }
    const char digits[] = "0123456789abcdef";
    const char key[] = {'P', 'I', 'D', '_', digits[type >> 4], digits[type & 0xF], '\0'};
    WritePids(out, key, pids);
  }
}

// A name on one line, as the section header needs it. A carriage return
// within it stays: the reader takes blanks off only around the name. A
// service called as the nameless section is written with a blank before its
// name, which readers (libdvbv5's too) take off again. libdvbv5 ends the name
// at its first ']', and the format escapes nothing: a name that holds one has
// its brackets written as parentheses, "News [HD]" as "News (HD)", which both
// readers read back as it is written.
std::string SectionName(const std::string& name) {
  std::string line = Trimmed(name);
  std::replace(line.begin(), line.end(), '\n', ' ');
  if (line.find(']') != std::string::npos) {
    std::replace(line.begin(), line.end(), '[', '(');
    std::replace(line.begin(), line.end(), ']', ')');
  }
  return line.empty() ? kNamelessSection : line == kNamelessSection ? " " + line : line;
}

}  // namespace

void WriteChannelFile(std::ostream& out, const std::vector<ChannelEntry>& entries) {
  for (const ChannelEntry& entry : entries) {
    const TransponderParameters& t = entry.transponder;
    out << '[' << SectionName(entry.name) << "]\n";
    if (entry.service_id != 0) {
      out << "\tSERVICE_ID = " << entry.service_id << '\n';
    }
    WritePids(out, "VIDEO_PID", entry.video_pids);
    WritePids(out, "AUDIO_PID", entry.audio_pids);
    WriteOtherPids(out, entry.other_pids);
    if (t.satellite_number) {
      out << "\tSAT_NUMBER = " << *t.satellite_number << '\n';
    }
    if (!t.lnb.empty()) {
      out << "\tLNB = " << t.lnb << '\n';
    }
    out << "\tDELIVERY_SYSTEM = " << NameOf(kDeliverySystems, t.delivery_system) << '\n'
        << "\tFREQUENCY = " << t.frequency_khz << '\n'
        << "\tPOLARIZATION = " << NameOf(kPolarizations, t.polarization) << '\n'
        << "\tSYMBOL_RATE = " << t.symbol_rate << '\n'
        << "\tINNER_FEC = " << NameOf(kCodeRates, t.fec) << '\n'
        << "\tINVERSION = " << NameOf(kInversions, t.inversion) << '\n';
    if (t.modulation) {
      out << "\tMODULATION = " << NameOf(kModulations, *t.modulation) << '\n';
    }
    if (t.rolloff) {
      out << "\tROLLOFF = " << NameOf(kRolloffs, *t.rolloff) << '\n';
    }
    out << '\n';
  }
}

const ChannelEntry* FindChannel(const std::vector<ChannelEntry>& entries, const std::string& name) {
  return MatchName(entries, name,
                   [](const ChannelEntry& entry) -> const std::string& { return entry.name; });
}

const char* PolarizationName(Polarization polarization) {
  return NameOf(kPolarizations, polarization);
}
const char* CodeRateName(CodeRate fec) { return NameOf(kCodeRates, fec); }
const char* DeliverySystemName(DeliverySystem system) { return NameOf(kDeliverySystems, system); }

}  // namespace dvb
