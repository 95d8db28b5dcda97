// The stand-in card's lineup: two satellites, six transponders in both
// polarities and both bands of a universal LNB, each with services of its own.
#include <cstring>

#include "sim/control.h"
#include "sim/frontend.h"

namespace sim {
namespace {

struct ServiceRow {
  const char* name;
  bool radio;
};

struct TransponderRow {
  int satellite;
  std::uint32_t frequency_mhz;
  char polarity;
  std::uint32_t symbol_rate_ksps;
  std::uint32_t fec_code;
  std::uint8_t level;
  double bit_error_rate;
  const char* provider;
  ServiceRow services[4];  // up to four; a null name ends the list
};

constexpr LineupSatellite kSatellites[] = {
    {"Kestrava 1", 114},  // 11.4 E
    {"Lumenor 4", 176},   // 17.6 E
};

// clang-format off
constexpr TransponderRow kTransponders[] = {
    {0, 10773, 'H', 22000, 0x56, 88, 0.0,  "Tervo Media",
     {{"Tervo One", false}, {"Tervo Kids", false}, {"Tervo Radio", true}}},
    {0, 11258, 'V', 27500, 0x34, 74, 2e-5, "Amblewick",
     {{"Amblewick News", false}, {"Amblewick Weather", false}}},
    {0, 11778, 'V', 27500, 0x34, 81, 1e-6, "Pellam",
     {{"Pellam Sport", false}, {"Pellam Sport Extra", false}, {"Pellam Talk", true},
      {"Pellam Classics", false}}},
    {0, 12344, 'H', 29700, 0x23, 62, 4e-4, "Orrin",
     {{"Orrin Cinema", false}, {"Orrin Music", true}}},
    {1, 11095, 'H', 27500, 0x34, 79, 5e-6, "Saffa",
     {{"Saffa TV", false}, {"Saffa Story", false}, {"Saffa Folk", true}}},
    {1, 12012, 'V', 30000, 0x56, 70, 8e-5, "Drossel",
     {{"Drossel Nature", false}, {"Drossel Voices", true}}},
};
// clang-format on

// Distinct PIDs across the whole lineup, so that a capture tells which
// transponder it came from: transponder t, service s has its PMT on
// 0x1000 + 0x100 t + 0x10 s, its video one PID above and its audio two above.
MultiplexDescription MultiplexOf(int index, const TransponderRow& row) {
  MultiplexDescription multiplex{static_cast<std::uint16_t>(2001 + index),
                                 static_cast<std::uint16_t>(0x2C1 + row.satellite),
                                 {}};
  for (int s = 0; s < 4 && row.services[s].name != nullptr; ++s) {
    const auto pmt = static_cast<std::uint16_t>(0x1000 + 0x100 * index + 0x10 * s);
    multiplex.services.push_back({static_cast<std::uint16_t>(1000 * (index + 1) + s + 1), pmt,
                                  static_cast<std::uint16_t>(row.services[s].radio ? 0 : pmt + 1),
                                  static_cast<std::uint16_t>(pmt + 2), row.services[s].name,
                                  row.provider});
  }
  return multiplex;
}

int CopyText(const char* text, char* buffer, int capacity) {
  const auto length = static_cast<int>(std::strlen(text));
  if (buffer != nullptr && capacity > 0) {
    const int copied = length < capacity - 1 ? length : capacity - 1;
    std::memcpy(buffer, text, static_cast<std::size_t>(copied));
    buffer[copied] = '\0';
  }
  return length;
}

}  // namespace

const std::vector<LineupTransponder>& Lineup() {
  static const std::vector<LineupTransponder>* lineup = [] {
    auto* built = new std::vector<LineupTransponder>;  // lives as long as the process
    int index = 0;
    for (const TransponderRow& row : kTransponders) {
      built->push_back({row.satellite, row.frequency_mhz, row.polarity, row.symbol_rate_ksps,
                        row.fec_code, row.level, row.bit_error_rate, MultiplexOf(index++, row)});
    }
    return built;
  }();
  return *lineup;
}

const std::vector<LineupSatellite>& Satellites() {
  static const std::vector<LineupSatellite> satellites(std::begin(kSatellites),
                                                       std::end(kSatellites));
  return satellites;
}

}  // namespace sim

extern "C" {

SIM_API int SimLineupEntry(int index, struct SimTransponder* out) {
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
  sim::CopyText(names.c_str(), out->services, sizeof out->services);
  return 0;
}

SIM_API int SimSatelliteName(int satellite, char* buffer, int capacity) {
  const auto& satellites = sim::Satellites();
  if (satellite < 0 || static_cast<std::size_t>(satellite) >= satellites.size()) {
    return -1;
  }
  return sim::CopyText(satellites[static_cast<std::size_t>(satellite)].name, buffer, capacity);
}

}  // extern "C"
