// The stand-in card's lineup: as built, from sim/lineup.json (two satellites,
// six transponders in both polarities and both bands of a universal LNB, each
// with services of its own), as a lineup file changes it, and the control
// calls that read it.
#include "sim/lineup.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <stdexcept>
#include <utility>

#include <nlohmann/json.hpp>

#include "cardlib/library_file.h"
#include "sim/card.h"
#include "sim/control.h"
#include "sim/packet_file.h"
#include "sim/quoted.h"

namespace sim {

extern const char kBuiltInLineup[];  // sim/lineup.json, as the build embeds it

namespace {

using Json = nlohmann::json;
using cardlib::Environment;
using cardlib::FolderOf;
using cardlib::LibraryPath;

constexpr char kLineupFileName[] = "ttlcdacc-lineup.json";
constexpr char kLineupVariable[] = "MORVALIND_SIM_LINEUP";
constexpr char kReplayVariable[] = "MORVALIND_SIM_REPLAY";

// The dish's universal LNB and the card's tuner.
constexpr double kLowestFrequencyMhz = 10700;
constexpr double kHighestFrequencyMhz = 12750;
constexpr double kLowestSymbolRateKsps = 1000;
constexpr double kHighestSymbolRateKsps = 45000;
constexpr double kHighestPid = 0x1FFE;
constexpr double kLowestPid = 0x10;
// A transponder's tables (PAT, a PMT per service, SDT) repeat every 2,500
// packets of its generated stream; this many services keep them well within.
constexpr std::size_t kMostServices = 1000;
constexpr std::size_t kLongestLineupFile = 16 << 20;  // bytes; a longer file is not one

struct FecName {
  const char* name;
  std::uint32_t code;
};
constexpr FecName kFecs[] = {
    {"1/2", 0x12}, {"2/3", 0x23}, {"3/4", 0x34}, {"5/6", 0x56}, {"7/8", 0x78}};

// A fault in a lineup file: where it is and what is wrong.
struct LineupFault : std::runtime_error {
  using std::runtime_error::runtime_error;
};

[[noreturn]] void Fault(const std::string& where, const std::string& what) {
  throw LineupFault(where.empty() ? what : where + ": " + what);
}

// Where a key of the object at `where` is: "transponders[2].fec", or "rate".
std::string Key(const std::string& where, const std::string& key) {
  return where.empty() ? key : where + "." + key;
}

// Only these keys: a misspelt knob is an error, not something quietly ignored.
void OnlyKeys(const Json& object, const std::string& where,
              std::initializer_list<const char*> keys) {
  if (!object.is_object()) {
    Fault(where, "give an object, { ... }");
  }
  for (const auto& item : object.items()) {
    if (std::none_of(keys.begin(), keys.end(),
                     [&](const char* key) { return item.key() == key; })) {
      Fault(where, "unknown key " + Quoted(item.key()));
    }
  }
}

void Require(const Json& object, const std::string& where,
             std::initializer_list<const char*> keys) {
  for (const char* key : keys) {
    if (!object.contains(key)) {
      Fault(where, "\"" + std::string(key) + "\" is missing");
    }
  }
}

std::string Figure(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.10g", value);
  return text;
}

// A number from `low` to `high`: a JSON number, or a text such as "0x1211";
// a whole one where `whole`.
double Number(const Json& value, const std::string& where, double low, double high, bool whole) {
  double number = 0;
  if (value.is_number()) {
    number = value.get<double>();
  } else if (value.is_string()) {
    const std::string& text = value.get_ref<const std::string&>();
    char* end = nullptr;
    errno = 0;
    const unsigned long long parsed = std::strtoull(text.c_str(), &end, 0);
    if (text.empty() || *end != '\0' || errno != 0) {
      Fault(where, Quoted(text) + " is not a number");
    }
    number = static_cast<double>(parsed);
  } else {
    Fault(where, "give a number");
  }
  if (!(number >= low && number <= high) || (whole && std::floor(number) != number)) {
    Fault(where, "give " + std::string(whole ? "a whole number" : "a number") + " from " +
                     Figure(low) + " to " + Figure(high));
  }
  return number;
}

template <typename T>
void Take(const Json& object, const std::string& where, const char* key, double low, double high,
          T* out) {
  if (object.contains(key)) {
    *out =
        static_cast<T>(Number(object[key], Key(where, key), low, high, std::is_integral<T>::value));
  }
}

void TakeText(const Json& object, const std::string& where, const char* key, std::string* out) {
  if (object.contains(key)) {
    if (!object[key].is_string()) {
      Fault(Key(where, key), "give a text in double quotes");
    }
    *out = object[key].get<std::string>();
  }
}

void TakeFlag(const Json& object, const std::string& where, const char* key, bool* out) {
  if (object.contains(key)) {
    if (!object[key].is_boolean()) {
      Fault(Key(where, key), "give true or false");
    }
    *out = object[key].get<bool>();
  }
}

bool IsAbsolute(const std::string& path) {
  return (!path.empty() && (path[0] == '/' || path[0] == '\\')) ||
         (path.size() > 1 && path[1] == ':');
}

std::vector<ServiceDescription> ReadServices(const Json& list, const std::string& where) {
  if (!list.is_array()) {
    Fault(where, "give a list, [ ... ]");
  }
  if (list.size() > kMostServices) {
    Fault(where, std::to_string(list.size()) + " services: a transponder carries at most " +
                     std::to_string(kMostServices) +
                     ", so that its tables fit between their repeats");
  }
  std::vector<ServiceDescription> services;
  for (std::size_t i = 0; i < list.size(); ++i) {
    const Json& item = list[i];
    const std::string at = where + "[" + std::to_string(i) + "]";
    OnlyKeys(item, at, {"id", "name", "pmt", "video", "audio"});
    Require(item, at, {"id", "name", "pmt", "audio"});
    ServiceDescription service{0, 0, 0, 0, "", ""};
    Take(item, at, "id", 1, 65535, &service.service_id);
    TakeText(item, at, "name", &service.name);
    Take(item, at, "pmt", kLowestPid, kHighestPid, &service.pmt_pid);
    Take(item, at, "video", kLowestPid, kHighestPid, &service.video_pid);
    Take(item, at, "audio", kLowestPid, kHighestPid, &service.audio_pid);
    services.push_back(service);
  }
  return services;
}

// The fields an entry gives, over what `entry` holds already. `file` receives
// the recording it names, as a path from the lineup file's folder.
void ReadTransponder(const Json& item, const std::string& where, int satellites,
                     const std::string& folder, LineupTransponder* entry, std::string* file) {
  OnlyKeys(item, where,
           {"satellite", "frequency", "polarity", "symbol_rate", "fec", "level", "bit_error_rate",
            "transport_stream_id", "network_id", "provider", "services", "file", "stuffing"});
  Take(item, where, "satellite", 0, satellites - 1, &entry->satellite);
  Take(item, where, "frequency", kLowestFrequencyMhz, kHighestFrequencyMhz, &entry->frequency_mhz);
  std::string text;
  TakeText(item, where, "polarity", &text);
  if (item.contains("polarity")) {
    if (text != "H" && text != "V") {
      Fault(Key(where, "polarity"), "give \"H\" or \"V\"");
    }
    entry->polarity = text[0];
  }
  Take(item, where, "symbol_rate", kLowestSymbolRateKsps, kHighestSymbolRateKsps,
       &entry->symbol_rate_ksps);
  if (item.contains("fec")) {
    text.clear();
    TakeText(item, where, "fec", &text);
    const auto* fec = std::find_if(std::begin(kFecs), std::end(kFecs),
                                   [&](const FecName& known) { return text == known.name; });
    if (fec == std::end(kFecs)) {
      Fault(Key(where, "fec"), Quoted(text) + " is not one of 1/2, 2/3, 3/4, 5/6, 7/8");
    }
    entry->fec_code = fec->code;
  }
  Take(item, where, "level", 0, 100, &entry->level);
  Take(item, where, "bit_error_rate", 0, 0.5, &entry->bit_error_rate);
  Take(item, where, "transport_stream_id", 0, 65535, &entry->multiplex.transport_stream_id);
  Take(item, where, "network_id", 0, 65535, &entry->multiplex.original_network_id);
  if (item.contains("services")) {
    entry->multiplex.services = ReadServices(item["services"], Key(where, "services"));
  }
  std::string provider = entry->multiplex.services.empty()
                             ? std::string()
                             : entry->multiplex.services.front().provider;
  TakeText(item, where, "provider", &provider);
  for (ServiceDescription& service : entry->multiplex.services) {
    service.provider = provider;
  }
  if (item.contains("file")) {
    TakeText(item, where, "file", file);
    *file = IsAbsolute(*file) ? *file : folder + *file;
  }
  TakeFlag(item, where, "stuffing", &entry->stuffing);
}

std::string Describe(const LineupTransponder& entry) {
  return std::to_string(entry.frequency_mhz) + " " + entry.polarity;
}

// The lineup file's changes to `settings`. `files` receives the recording each
// transponder names (empty: none); `replay` the one for all the others.
void ApplyLineupFile(const Json& root, const std::string& folder, CardSettings* settings,
                     std::vector<std::string>* files, std::string* replay) {
  const std::string where;  // the file itself
  OnlyKeys(root, where, {"rate", "lock_polls", "tune_delay_ms", "replay", "transponders"});
  Take(root, where, "rate", 0, 4294967295.0, &settings->bits_per_second);
  Take(root, where, "lock_polls", 1, 1000, &settings->lock_polls);
  Take(root, where, "tune_delay_ms", 0, 60000, &settings->tune_delay_ms);
  if (root.contains("replay")) {
    TakeText(root, where, "replay", replay);
    *replay = IsAbsolute(*replay) ? *replay : folder + *replay;
  }
  if (!root.contains("transponders")) {
    return;
  }
  const Json& list = root["transponders"];
  if (!list.is_array()) {
    Fault("transponders", "give a list, [ ... ]");
  }
  const auto satellites = static_cast<int>(settings->satellites.size());
  for (std::size_t i = 0; i < list.size(); ++i) {
    const Json& item = list[i];
    const std::string at = "transponders[" + std::to_string(i) + "]";
    if (!item.is_object()) {
      Fault(at, "give an object, { ... }");
    }
    Require(item, at, {"frequency", "polarity"});
    // Matched by frequency and polarity (and satellite, where given);
    // otherwise a transponder of its own.
    LineupTransponder wanted{0, 0, ' ', 0, 0, 80, 0.0, {1, 1, {}, {}}, nullptr, false};
    std::string ignored;
    ReadTransponder(item, at, satellites, folder, &wanted, &ignored);
    auto& transponders = settings->transponders;
    auto found = std::find_if(transponders.begin(), transponders.end(), [&](const auto& entry) {
      return entry.frequency_mhz == wanted.frequency_mhz && entry.polarity == wanted.polarity &&
             (!item.contains("satellite") || entry.satellite == wanted.satellite);
    });
    if (found == transponders.end()) {
      if (!item.contains("symbol_rate") || !item.contains("fec") ||
          (!item.contains("file") && !item.contains("services"))) {
        Fault(at, Describe(wanted) +
                      " is not in the lineup; one of its own needs \"symbol_rate\", \"fec\" "
                      "and a \"file\" or \"services\"");
      }
      transponders.push_back(wanted);
      files->emplace_back();
      found = transponders.end() - 1;
    }
    ReadTransponder(item, at, satellites, folder, &*found,
                    &(*files)[static_cast<std::size_t>(found - transponders.begin())]);
  }
}

std::shared_ptr<const Recording> CheckOrFault(const std::string& path,
                                              const std::string& context = "") {
  std::string why;
  std::shared_ptr<const Recording> recording = CheckRecording(path, &why);
  if (recording == nullptr) {
    throw LineupFault(context + why);
  }
  if (recording->left_out_bytes != 0) {
    std::fprintf(stderr,
                 "ttlcdacc (stand-in card): %s: the last %llu bytes are not a whole packet "
                 "and are left out\n",
                 Quoted(path).c_str(), static_cast<unsigned long long>(recording->left_out_bytes));
  }
  return recording;
}

bool ReadFile(const std::string& path, std::string* text, std::string* error) {
  std::FILE* file = OpenRegularFile(path, error);
  if (file == nullptr) {
    return false;
  }
  char buffer[4096];
  std::size_t count = 0;
  while (text->size() <= kLongestLineupFile &&
         (count = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
    text->append(buffer, count);
  }
  const bool failed = std::ferror(file) != 0;
  std::fclose(file);
  if (failed) {
    *error = "cannot be read";
  } else if (text->size() > kLongestLineupFile) {
    *error = "is longer than 16 MiB: not a lineup file";
  }
  return !failed && text->size() <= kLongestLineupFile;
}

Json Parse(const std::string& text) {
  try {
    return Json::parse(text, nullptr, true, true);  // comments allowed
  } catch (const Json::parse_error& error) {
    // "[json.exception.parse_error.101] parse error at line 3, column 5: ...;
    // last read: '...'": what was last read is the whole token, however long.
    std::string what = error.what();
    const std::size_t end = what.find("] ");
    what = end == std::string::npos ? what : what.substr(end + 2);
    constexpr char kLastRead[] = "; last read: '";
    const std::size_t last = what.find(kLastRead);
    if (last != std::string::npos && what.back() == '\'') {
      const std::size_t token = last + sizeof kLastRead - 1;
      what = what.substr(0, token) + Excerpt(what.substr(token, what.size() - 1 - token)) + "'";
    }
    throw LineupFault(what);
  }
}

// Each transponder's network, as its NIT describes it: the transponders of
// its satellite, with the ids of that satellite's network.
void DescribeNetworks(CardSettings* settings) {
  for (LineupTransponder& entry : settings->transponders) {
    const LineupSatellite& satellite =
        settings->satellites.at(static_cast<std::size_t>(entry.satellite));
    NetworkDescription& network = entry.multiplex.network;
    network = {entry.multiplex.original_network_id, satellite.name, satellite.angle_tenths, {}};
    for (const LineupTransponder& other : settings->transponders) {
      if (other.satellite == entry.satellite) {
        network.transponders.push_back(
            {other.multiplex.transport_stream_id, other.multiplex.original_network_id,
             other.frequency_mhz, other.polarity, other.symbol_rate_ksps, other.fec_code, false});
      }
    }
    for (NetworkEntry announced : satellite.dvb_s2) {
      announced.original_network_id = network.network_id;
      network.transponders.push_back(announced);
    }
  }
}

CardSettings ParseBuiltIn() {
  const Json root = Parse(kBuiltInLineup);
  CardSettings settings;
  for (const Json& item : root.at("satellites")) {
    LineupSatellite& satellite = settings.satellites.emplace_back(
        LineupSatellite{item.at("name").get<std::string>(),
                        static_cast<int>(std::lround(item.at("position").get<double>() * 10)),
                        {}});
    for (const Json& other : item.value("dvb_s2", Json::array())) {
      satellite.dvb_s2.push_back({other.at("transport_stream_id").get<std::uint16_t>(), 0,
                                  other.at("frequency").get<std::uint32_t>(),
                                  other.at("polarity").get<std::string>().at(0),
                                  other.at("symbol_rate").get<std::uint32_t>(), 0, true});
    }
  }
  const Json& list = root.at("transponders");
  for (std::size_t i = 0; i < list.size(); ++i) {
    const std::string at = "transponders[" + std::to_string(i) + "]";
    LineupTransponder entry{0, 0, ' ', 0, 0, 0, 0.0, {0, 0, {}, {}}, nullptr, false};
    std::string file;
    ReadTransponder(list[i], at, static_cast<int>(settings.satellites.size()), "", &entry, &file);
    settings.transponders.push_back(entry);
  }
  DescribeNetworks(&settings);
  return settings;
}

int CopyText(const std::string& text, char* buffer, int capacity) {
  if (buffer != nullptr && capacity > 0) {
    const int copied = std::min(static_cast<int>(text.size()), capacity - 1);
    std::memcpy(buffer, text.data(), static_cast<std::size_t>(copied));
    buffer[copied] = '\0';
  }
  return static_cast<int>(text.size());
}

}  // namespace

const CardSettings& BuiltInSettings() {
  static const CardSettings* settings = [] {
    try {
      return new CardSettings(ParseBuiltIn());  // lives as long as the process
    } catch (const std::exception& error) {
      std::fprintf(stderr, "ttlcdacc (stand-in card): the built-in lineup: %s\n", error.what());
      std::abort();
    }
  }();
  return *settings;
}

bool LoadSettings(const std::string& path, const std::string& replay, CardSettings* settings,
                  std::string* error) {
  *settings = BuiltInSettings();
  std::vector<std::string> files(settings->transponders.size());
  std::string from_file;  // the lineup file's recording for every transponder
  std::string step = "lineup file " + Quoted(path);
  try {
    if (!path.empty()) {
      std::string text;
      std::string why;
      if (!ReadFile(path, &text, &why)) {
        throw LineupFault(why);
      }
      ApplyLineupFile(Parse(text), FolderOf(path), settings, &files, &from_file);
    }
    std::shared_ptr<const Recording> every;
    if (!replay.empty()) {
      step = "the recording to replay";
      every = CheckOrFault(replay);
      std::fill(files.begin(), files.end(), std::string());
    } else if (!from_file.empty()) {
      every = CheckOrFault(from_file, "replay: ");
    }
    const std::uint32_t rate = settings->bits_per_second;
    for (std::size_t i = 0; i < files.size(); ++i) {
      LineupTransponder& entry = settings->transponders[i];
      const std::string at = "transponder " + Describe(entry) + ": ";
      entry.recording = files[i].empty() ? every : CheckOrFault(files[i], at);
      // A recording replayed as it was recorded, or as the lineup file asks.
      entry.stuffing = entry.stuffing && entry.recording != nullptr && replay.empty();
      if (entry.stuffing && rate != 0 && entry.recording->BitsPerSecond(rate) > rate) {
        throw LineupFault(at + Quoted(entry.recording->path) + " runs at " +
                          std::to_string(entry.recording->BitsPerSecond(rate)) +
                          " bit/s, more than the card's rate of " + std::to_string(rate) +
                          " bit/s that stuffing fills up to");
      }
    }
  } catch (const std::exception& fault) {  // LineupFault, or the JSON reader's own
    *error = step + ": " + fault.what();
    *settings = BuiltInSettings();
    return false;
  }
  DescribeNetworks(settings);
  return true;
}

std::string LineupFileInUse() {
  std::string path;
  if (Environment(kLineupVariable, &path)) {
    return path;
  }
  std::string beside = FolderOf(LibraryPath()) + kLineupFileName;
  if (std::FILE* file = std::fopen(beside.c_str(), "rb")) {
    std::fclose(file);
    return beside;
  }
  return "";
}

std::string ReplayFileInUse() {
  std::string path;
  Environment(kReplayVariable, &path);
  return path;
}

const std::vector<LineupTransponder>& Lineup() { return TheCard().settings.transponders; }

const std::vector<LineupSatellite>& Satellites() { return TheCard().settings.satellites; }

}  // namespace sim

using sim::TheCard;

extern "C" {

SIM_API int SimLineupEntry(int index, struct SimTransponder* out) {
  auto& card = TheCard();
  std::lock_guard<std::mutex> hold(card.mutex);
  const auto& lineup = sim::Lineup();
  if (index < 0 || static_cast<std::size_t>(index) >= lineup.size() || out == nullptr) {
    return -1;
  }
  const sim::LineupTransponder& entry = lineup[static_cast<std::size_t>(index)];
  out->satellite = entry.satellite;
  out->frequency_mhz = entry.frequency_mhz;
  out->polarity = entry.polarity;
  out->symbol_rate_ksps = entry.symbol_rate_ksps;
  out->fec_code = entry.fec_code;
  std::string names;
  for (const sim::ServiceDescription& service : entry.multiplex.services) {
    names += (names.empty() ? "" : ";") + service.name;
  }
  sim::CopyText(names, out->services, sizeof out->services);
  return 0;
}

SIM_API int SimSatelliteName(int satellite, char* buffer, int capacity) {
  auto& card = TheCard();
  std::lock_guard<std::mutex> hold(card.mutex);
  const auto& satellites = sim::Satellites();
  if (satellite < 0 || static_cast<std::size_t>(satellite) >= satellites.size()) {
    return -1;
  }
  return sim::CopyText(satellites[static_cast<std::size_t>(satellite)].name, buffer, capacity);
}

SIM_API int SimLoadLineup(const char* path) {
  const std::string file = path != nullptr ? path : sim::LineupFileInUse();
  const std::string replay = path != nullptr ? std::string() : sim::ReplayFileInUse();
  auto& card = TheCard();
  std::lock_guard<std::mutex> hold(card.mutex);
  card.lineup_error.clear();
  const bool loaded = sim::LoadSettings(file, replay, &card.settings, &card.lineup_error);
  card.Reset();
  return loaded ? 0 : -1;
}

SIM_API int SimLineupError(char* buffer, int capacity) {
  auto& card = TheCard();
  std::lock_guard<std::mutex> hold(card.mutex);
  return sim::CopyText(card.lineup_error, buffer, capacity);
}

// abi/card_problem.h
SIM_API int CardLastProblem(char* buffer, int capacity) {
  auto& card = TheCard();
  std::lock_guard<std::mutex> hold(card.mutex);
  return sim::CopyText(card.said, buffer, capacity);
}

}  // extern "C"
