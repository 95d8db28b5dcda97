// The status string: the tuner field's order, and the lenient reading of it.
#include "satip/status.h"

#include <algorithm>
#include <vector>

#include "satip/text.h"

namespace satip {

namespace {

// The tuning fields of tuner=, after frontend, level, lock and quality.
constexpr const char* kTunerKeys[] = {"freq", "pol", "msys", "mtype", "plts", "ro", "sr", "fec"};
constexpr std::size_t kSignalFields = 4;

// "11778.00", "11778.25", "11778.125": MHz with two decimals at least.
std::string FrequencyText(std::uint32_t khz) {
  std::string decimals = std::to_string(khz % 1000 + 1000).substr(1);
  if (decimals.back() == '0') {
    decimals.pop_back();
  }
  return std::to_string(khz / 1000) + "." + decimals;
}

// The tuning fields as the report writes them: for DVB-S the modulation,
// pilots and roll-off it always has.
std::string TuningFields(const std::optional<Tuning>& tuning) {
  if (!tuning) {
    return ",,,,,,,";
  }
  Query values = TuningQuery(*tuning);
  if (tuning->system == dvb::DeliverySystem::kDvbS) {
    values.modulation = values.modulation.value_or(dvb::Modulation::kQpsk);
    values.pilots = values.pilots.value_or(Pilots::kOff);
    values.rolloff = values.rolloff.value_or(dvb::Rolloff::k35);
  }
  std::string fields;
  for (const char* key : kTunerKeys) {
    fields += (fields.empty() ? "" : ",") + (std::string_view(key) == "freq"
                                                 ? FrequencyText(tuning->frequency_khz)
                                                 : FormatKey(key, values));
  }
  return fields;
}

bool SignalField(std::string_view text, int high, int* value) {
  long number = 0;
  if (!ParseNumber(Trim(text), 0, 999999999, &number)) {
    return false;
  }
  *value = static_cast<int>(std::min<long>(number, high));
  return true;
}

bool ParseTuner(std::string_view text, Status* status, std::string* error) {
  const std::vector<std::string_view> fields = Split(text, ',');
  int lock = 0;
  if (fields.size() < kSignalFields || !SignalField(fields[0], 65535, &status->frontend) ||
      !SignalField(fields[1], kMaxLevel, &status->signal.level) ||
      !SignalField(fields[2], 1, &lock) ||
      !SignalField(fields[3], kMaxQuality, &status->signal.quality)) {
    *error = "tuner: " + Quoted(text) + " does not begin with frontend, level, lock, quality";
    return false;
  }
  status->signal.lock = lock != 0;
  for (std::size_t i = 0; i < std::size(kTunerKeys) && kSignalFields + i < fields.size(); ++i) {
    std::string ignored;  // a field that does not read stays absent
    ParseKey(kTunerKeys[i], Trim(fields[kSignalFields + i]), &status->values, &ignored);
  }
  return true;
}

}  // namespace

std::string StatusText(int frontend, const std::optional<Tuning>& tuning, const Signal& signal,
                       const PidSet& pids) {
  const int level = std::clamp(signal.level, 0, kMaxLevel);
  const int quality = std::clamp(signal.quality, 0, kMaxQuality);
  return "ver=1.0;src=" + std::to_string(tuning ? tuning->src : 1) +
         ";tuner=" + std::to_string(frontend) + "," + std::to_string(level) + "," +
         (signal.lock ? "1" : "0") + "," + std::to_string(quality) + "," + TuningFields(tuning) +
         ";pids=" + pids.Text();
}

bool ParseStatus(std::string_view text, Status* status, std::string* error) {
  Status parsed;
  bool tuner = false;
  for (const std::string_view item : Split(text, ';')) {
    const std::size_t equals = item.find('=');
    const std::string_view key = Trim(item.substr(0, equals));
    const std::string_view value =
        equals == std::string_view::npos ? std::string_view() : Trim(item.substr(equals + 1));
    std::string ignored;
    if (EqualsIgnoringCase(key, "ver")) {
      parsed.version = std::string(value);
    } else if (EqualsIgnoringCase(key, "tuner")) {
      if (!ParseTuner(value, &parsed, error)) {
        return false;
      }
      tuner = true;
    } else if (EqualsIgnoringCase(key, "src") || EqualsIgnoringCase(key, "pids")) {
      ParseKey(key, value, &parsed.values, &ignored);  // absent when it does not read
    }
  }
  if (!tuner) {
    *error = "tuner: missing";
    return false;
  }
  *status = parsed;
  return true;
}

}  // namespace satip
