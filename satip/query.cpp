// The query's keys: one table of names with the routine that reads each
// value into its field and the one that writes it back, and tables of the
// values' names (the first name of a value is the one written).
#include "satip/query.h"

#include <cstddef>
#include <cstdint>

#include "satip/text.h"

namespace satip {

using dvb::CodeRate;
using dvb::DeliverySystem;
using dvb::Modulation;
using dvb::ParseThousandths;
using dvb::Polarization;
using dvb::Rolloff;
using dvb::ThousandthsText;

namespace {

template <typename T>
struct Name {
  const char* text;
  T value;
};

constexpr Name<Polarization> kPolarizations[] = {
    {"h", Polarization::kHorizontal},
    {"v", Polarization::kVertical},
    {"l", Polarization::kLeft},
    {"r", Polarization::kRight},
};
constexpr Name<DeliverySystem> kSystems[] = {
    {"dvbs", DeliverySystem::kDvbS},
    {"dvbs2", DeliverySystem::kDvbS2},
};
constexpr Name<Modulation> kModulations[] = {
    {"qpsk", Modulation::kQpsk},
    {"8psk", Modulation::kPsk8},
    {"16apsk", Modulation::kApsk16},
    {"32apsk", Modulation::kApsk32},
};
constexpr Name<CodeRate> kCodeRates[] = {
    {"12", CodeRate::k1_2},    {"23", CodeRate::k2_3}, {"34", CodeRate::k3_4},
    {"56", CodeRate::k5_6},    {"78", CodeRate::k7_8}, {"89", CodeRate::k8_9},
    {"35", CodeRate::k3_5},    {"45", CodeRate::k4_5}, {"910", CodeRate::k9_10},
    {"auto", CodeRate::kAuto},
};
// Servers and clients write the roll-off both ways.
constexpr Name<Rolloff> kRolloffs[] = {
    {"0.35", Rolloff::k35}, {"0.25", Rolloff::k25},   {"0.20", Rolloff::k20},
    {"35", Rolloff::k35},   {"25", Rolloff::k25},     {"20", Rolloff::k20},
    {"0.2", Rolloff::k20},  {"auto", Rolloff::kAuto},
};
constexpr Name<Pilots> kPilots[] = {
    {"on", Pilots::kOn},
    {"off", Pilots::kOff},
    {"auto", Pilots::kAuto},
};

constexpr long kMaxSource = 255;
constexpr long kMaxFrontend = 65535;
constexpr long kMaxSymbolRate = 100000;  // kSym/s

template <typename T, std::size_t N>
std::string NameOf(const Name<T> (&table)[N], const std::optional<T>& value) {
  for (const Name<T>& name : table) {
    if (value && name.value == *value) {
      return name.text;
    }
  }
  return "";
}

// "must be h, v, l or r": each value's first name.
template <typename T, std::size_t N>
std::string Choices(const Name<T> (&table)[N]) {
  std::string names;
  for (std::size_t i = 0; i < N; ++i) {
    bool first = true;
    for (std::size_t j = 0; j < i; ++j) {
      first = first && table[j].value != table[i].value;
    }
    if (first) {
      names += (names.empty() ? "" : ", ") + std::string(table[i].text);
    }
  }
  return names;
}

template <typename T, std::size_t N>
bool ParseName(const Name<T> (&table)[N], std::string_view value, std::optional<T>* field,
               std::string* error) {
  for (const Name<T>& name : table) {
    if (EqualsIgnoringCase(value, name.text)) {
      *field = name.value;
      return true;
    }
  }
  *error = Quoted(value) + " is not one of " + Choices(table);
  return false;
}

bool ParseFrequency(std::string_view value, Query* query, std::string* error) {
  std::uint32_t khz = 0;
  if (!ParseThousandths(std::string(value), &khz) || khz == 0) {
    *error = Quoted(value) + " is not a frequency in MHz";
    return false;
  }
  query->frequency_khz = khz;
  return true;
}

std::string FrequencyText(const Query& query) {
  return query.frequency_khz ? ThousandthsText(*query.frequency_khz) : "";
}

bool ParseSymbolRate(std::string_view value, Query* query, std::string* error) {
  long ksym = 0;
  if (!ParseNumber(value, 1, kMaxSymbolRate, &ksym)) {
    *error = Quoted(value) + " is not a symbol rate in kSym/s";
    return false;
  }
  query->symbol_rate_ksym = static_cast<std::uint32_t>(ksym);
  return true;
}

std::string SymbolRateText(const Query& query) {
  return query.symbol_rate_ksym ? std::to_string(*query.symbol_rate_ksym) : "";
}

struct Key {
  const char* name;
  bool (*parse)(std::string_view value, Query* query, std::string* error);
  std::string (*format)(const Query& query);
  bool (*given)(const Query& query);
};

template <auto kField>
bool Given(const Query& query) {
  return (query.*kField).has_value();
}

template <auto kField, const auto& kTable>
constexpr Key NamedKey(const char* name) {
  return {name,
          [](std::string_view value, Query* query, std::string* error) {
            return ParseName(kTable, value, &(query->*kField), error);
          },
          [](const Query& query) { return NameOf(kTable, query.*kField); }, Given<kField>};
}

template <auto kField, long kHigh>
constexpr Key NumberKey(const char* name) {
  return {name,
          [](std::string_view value, Query* query, std::string* error) {
            long number = 0;
            if (!ParseNumber(value, 1, kHigh, &number)) {
              *error = Quoted(value) + " is not a number 1.." + std::to_string(kHigh);
              return false;
            }
            query->*kField = static_cast<int>(number);
            return true;
          },
          [](const Query& query) {
            return Given<kField>(query) ? std::to_string(*(query.*kField)) : "";
          },
          Given<kField>};
}

template <auto kField>
constexpr Key PidKey(const char* name) {
  return {name,
          [](std::string_view value, Query* query, std::string* error) {
            PidSet pids;
            if (!ParsePids(value, &pids, error)) {
              return false;
            }
            query->*kField = pids;
            return true;
          },
          [](const Query& query) { return Given<kField>(query) ? (query.*kField)->Text() : ""; },
          Given<kField>};
}

// In the order SAT>IP 1.2.2's examples write them.
constexpr Key kKeys[] = {
    NumberKey<&Query::src, kMaxSource>("src"),
    NumberKey<&Query::fe, kMaxFrontend>("fe"),
    {"freq", ParseFrequency, FrequencyText, Given<&Query::frequency_khz>},
    NamedKey<&Query::polarization, kPolarizations>("pol"),
    NamedKey<&Query::rolloff, kRolloffs>("ro"),
    NamedKey<&Query::system, kSystems>("msys"),
    NamedKey<&Query::modulation, kModulations>("mtype"),
    NamedKey<&Query::pilots, kPilots>("plts"),
    {"sr", ParseSymbolRate, SymbolRateText, Given<&Query::symbol_rate_ksym>},
    NamedKey<&Query::fec, kCodeRates>("fec"),
    PidKey<&Query::pids>("pids"),
    PidKey<&Query::add_pids>("addpids"),
    PidKey<&Query::del_pids>("delpids"),
};

const Key* FindKey(std::string_view name) {
  for (const Key& key : kKeys) {
    if (EqualsIgnoringCase(name, key.name)) {
      return &key;
    }
  }
  return nullptr;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  if ((c | 0x20) >= 'a' && (c | 0x20) <= 'f') {
    return (c | 0x20) - 'a' + 10;
  }
  return -1;
}

bool PercentDecode(std::string_view text, std::string* decoded) {
  decoded->clear();
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      *decoded += text[i];
      continue;
    }
    const int high = i + 2 < text.size() ? HexDigit(text[i + 1]) : -1;
    const int low = high >= 0 ? HexDigit(text[i + 2]) : -1;
    if (low < 0) {
      return false;
    }
    *decoded += static_cast<char>(high * 16 + low);
    i += 2;
  }
  return true;
}

// A key given a second time: the same value again, or more PIDs to add or remove.
bool MergeRepeated(const Key& key, std::string_view value, Query* query, std::string* error) {
  const bool adding = std::string_view(key.name) == "addpids";
  if (adding || std::string_view(key.name) == "delpids") {
    Query more;
    if (!key.parse(value, &more, error)) {
      return false;
    }
    if (!(adding ? query->add_pids : query->del_pids)
             ->Add(adding ? *more.add_pids : *more.del_pids)) {
      *error = "more than " + std::to_string(kMaxListedPids) + " PIDs";
      return false;
    }
    return true;
  }
  Query again = *query;
  if (!key.parse(value, &again, error)) {
    return false;
  }
  if (key.format(again) != key.format(*query)) {
    *error = "given twice, as " + Quoted(key.format(*query)) + " and " + Quoted(key.format(again));
    return false;
  }
  return true;
}

}  // namespace

bool Query::operator==(const Query& other) const {
  for (const Key& key : kKeys) {
    if (key.given(*this) != key.given(other) || key.format(*this) != key.format(other)) {
      return false;
    }
  }
  return true;
}

bool ParseKey(std::string_view key, std::string_view value, Query* query, std::string* error) {
  const Key* known = FindKey(key);
  if (known == nullptr) {
    return true;
  }
  std::string reason;
  if (!known->parse(value, query, &reason)) {
    *error = std::string(known->name) + ": " + reason;
    return false;
  }
  return true;
}

bool ParseQuery(std::string_view text, Query* query, std::string* error) {
  Query parsed;
  std::string key;
  std::string value;
  for (std::string_view item : Split(text, '&')) {
    if (StartsWithIgnoringCase(item, "amp;")) {
      item.remove_prefix(4);
    }
    if (item.empty()) {
      continue;
    }
    const std::size_t equals = item.find('=');
    const std::string_view raw_value =
        equals == std::string_view::npos ? std::string_view() : item.substr(equals + 1);
    if (!PercentDecode(item.substr(0, equals), &key) || !PercentDecode(raw_value, &value)) {
      *error = "query: " + Quoted(item) + " has a malformed percent-encoding";
      return false;
    }
    const Key* known = FindKey(key);
    if (known == nullptr) {
      continue;
    }
    std::string reason;
    if (known->given(parsed) ? !MergeRepeated(*known, value, &parsed, &reason)
                             : !known->parse(value, &parsed, &reason)) {
      *error = std::string(known->name) + ": " + reason;
      return false;
    }
  }
  *query = parsed;
  return true;
}

std::string FormatKey(std::string_view key, const Query& query) {
  const Key* known = FindKey(key);
  return known != nullptr ? known->format(query) : "";
}

std::string FormatQuery(const Query& query) {
  std::string text;
  for (const Key& key : kKeys) {
    if (key.given(query)) {
      text += (text.empty() ? "" : "&") + std::string(key.name) + "=" + key.format(query);
    }
  }
  return text;
}

bool Tuning::operator==(const Tuning& other) const {
  return TuningQuery(*this) == TuningQuery(other);
}

bool SameTransponder(const Tuning& a, const Tuning& b) {
  return a.src == b.src && a.frequency_khz == b.frequency_khz && a.polarization == b.polarization &&
         a.symbol_rate_ksym == b.symbol_rate_ksym && a.system == b.system;
}

bool HasTuning(const Query& query) {
  return query.src || query.fe || query.frequency_khz || query.polarization || query.system ||
         query.modulation || query.symbol_rate_ksym || query.fec || query.rolloff || query.pilots;
}

bool ApplyTuning(const Query& query, std::optional<Tuning>* tuning, std::string* error) {
  if (!HasTuning(query)) {
    return true;
  }
  Tuning changed;
  if (query.frequency_khz) {
    if (!query.polarization || !query.symbol_rate_ksym) {
      *error = std::string(query.polarization ? "sr" : "pol") +
               ": missing (a tuning with freq needs pol and sr)";
      return false;
    }
  } else if (tuning->has_value()) {
    changed = **tuning;
  } else {
    *error = "freq: missing (the stream has no tuning to change)";
    return false;
  }
  changed.src = query.src.value_or(changed.src);
  changed.fe = query.fe ? query.fe : changed.fe;
  changed.frequency_khz = query.frequency_khz.value_or(changed.frequency_khz);
  changed.polarization = query.polarization.value_or(changed.polarization);
  changed.system = query.system.value_or(changed.system);
  changed.modulation = query.modulation ? query.modulation : changed.modulation;
  changed.symbol_rate_ksym = query.symbol_rate_ksym.value_or(changed.symbol_rate_ksym);
  changed.fec = query.fec ? query.fec : changed.fec;
  changed.rolloff = query.rolloff ? query.rolloff : changed.rolloff;
  changed.pilots = query.pilots ? query.pilots : changed.pilots;
  *tuning = changed;
  return true;
}

bool ApplyPids(const Query& query, PidSet* pids, std::string* error) {
  PidSet changed = query.pids.value_or(*pids);
  if (query.add_pids && !changed.Add(*query.add_pids)) {
    *error = "addpids: more than " + std::to_string(kMaxListedPids) + " PIDs";
    return false;
  }
  if (query.del_pids) {
    changed.Remove(*query.del_pids);
  }
  *pids = changed;
  return true;
}

Query TuningQuery(const Tuning& tuning) {
  Query query;
  query.src = tuning.src;
  query.fe = tuning.fe;
  query.frequency_khz = tuning.frequency_khz;
  query.polarization = tuning.polarization;
  query.system = tuning.system;
  query.modulation = tuning.modulation;
  query.symbol_rate_ksym = tuning.symbol_rate_ksym;
  query.fec = tuning.fec;
  query.rolloff = tuning.rolloff;
  query.pilots = tuning.pilots;
  return query;
}

}  // namespace satip
