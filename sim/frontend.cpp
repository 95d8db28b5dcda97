// The stand-in card's frontend and dish side (sim/README.md), and their
// control-panel calls.
#include "sim/frontend.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "sim/bus.h"
#include "sim/card.h"
#include "sim/stream.h"

namespace sim {
namespace {

constexpr std::uint8_t kSignalLevelRegister = 0x1C;
constexpr std::uint8_t kNoSignalLevel = 0xFF;  // the register reads low for a strong signal

// A universal LNB: the 22 kHz tone selects the high band's oscillator, and the
// tuner takes intermediate frequencies from 950 to 2150 MHz.
constexpr std::int64_t kLowBandOscillatorKhz = 9750000;
constexpr std::int64_t kHighBandOscillatorKhz = 10600000;
constexpr std::int64_t kLowestIfKhz = 950000;
constexpr std::int64_t kHighestIfKhz = 2150000;
constexpr std::int64_t kCaptureRangeKhz = 2000;      // the tuner finds a carrier this far off
constexpr std::uint32_t kHighestVerticalVolts = 15;  // channel word 5: 13 vertical, 18 horizontal

// LNB power controller control byte: bit 2 powers the LNB, bit 3 selects 18 V.
constexpr std::uint8_t kLnbPowerBit = 0x04;
constexpr std::uint8_t kLnbHighVoltageBit = 0x08;

// DiSEqC commands the dish acts on (third message byte).
constexpr std::uint8_t kCommittedSwitch = 0x38;
constexpr std::uint8_t kDriveToStoredPosition = 0x6B;
constexpr std::uint8_t kDriveToAngle = 0x6E;
constexpr std::uint8_t kAngleWestNibble = 0xE0;  // first data byte of a drive to an angle

constexpr int kArrivalToleranceTenths = 5;  // a satellite is seen within half a degree
constexpr int kTenthsPerTravelPoll = 10;    // the positioner turns a degree per poll

// The positioner's stored positions: 0 the reference, then one per satellite.
// False when nothing is stored at `position`.
bool StoredPosition(int position, int* tenths) {
  const auto& satellites = Satellites();
  if (position > static_cast<int>(satellites.size())) {
    return false;
  }
  *tenths = position == 0 ? 0 : satellites[static_cast<std::size_t>(position - 1)].angle_tenths;
  return true;
}

std::string Angle(int tenths) {
  char text[24];
  std::snprintf(text, sizeof text, "%d.%d %s", std::abs(tenths) / 10, std::abs(tenths) % 10,
                tenths < 0 ? "W" : "E");
  return text;
}

std::string Describe(int index) {
  if (index == Frontend::kNone) {
    return "nothing";
  }
  const LineupTransponder& entry = Lineup()[static_cast<std::size_t>(index)];
  return std::to_string(entry.frequency_mhz) + " " + entry.polarity + " on " +
         Satellites()[static_cast<std::size_t>(entry.satellite)].name;
}

}  // namespace

void Frontend::Reset(const CardSettings& settings) {
  tuned = false;
  std::fill(std::begin(words), std::end(words), 0U);
  lock_polls = settings.lock_polls;
  seen_polls = 0;
  locked = kNone;
  stream_source = kNone;
  levels.clear();
  bit_error_rates.clear();
  for (const LineupTransponder& entry : settings.transponders) {
    levels.push_back(entry.level);
    bit_error_rates.push_back(entry.bit_error_rate);
  }
  voltage = 0;
  satellite = 0;
  angle_tenths = settings.satellites[0].angle_tenths;
  travel_polls = 0;
  journal.Clear();
}

void Frontend::SetChannel(const std::uint32_t (&channel)[8]) {
  std::copy(std::begin(channel), std::end(channel), std::begin(words));
  tuned = true;
  seen_polls = 0;
  locked = kNone;
  voltage = words[5] > kHighestVerticalVolts ? 18 : 13;
  journal.Add("tune " + std::to_string(words[0]) + " kHz, LO " + std::to_string(words[3]) +
              " kHz, tone " + (words[4] != 0 ? "on" : "off") + ", " + std::to_string(voltage) +
              " V, " + std::to_string(words[2]) + " sym/s, FEC " + std::to_string(words[6]) +
              " -> " + Describe(Visible()));
}

int Frontend::Visible() const {
  if (!tuned || satellite == kNone || travel_polls > 0 || voltage == 0) {
    return kNone;
  }
  const std::int64_t intermediate = static_cast<std::int64_t>(words[0]) - words[3];
  if (intermediate < kLowestIfKhz || intermediate > kHighestIfKhz) {
    return kNone;
  }
  const std::int64_t received =
      intermediate + (words[4] != 0 ? kHighBandOscillatorKhz : kLowBandOscillatorKhz);
  const char polarity = voltage == 13 ? 'V' : 'H';
  const auto& lineup = Lineup();
  for (std::size_t i = 0; i < lineup.size(); ++i) {
    const LineupTransponder& entry = lineup[i];
    const std::int64_t rate = static_cast<std::int64_t>(entry.symbol_rate_ksps) * 1000;
    if (entry.satellite == satellite && entry.polarity == polarity &&
        std::llabs(received - static_cast<std::int64_t>(entry.frequency_mhz) * 1000) <=
            kCaptureRangeKhz &&
        std::llabs(static_cast<std::int64_t>(words[2]) - rate) <= rate / 100 &&
        (words[6] == 0 || words[6] == entry.fec_code >> 4)) {
      return static_cast<int>(i);
    }
  }
  return kNone;
}

void Frontend::Poll(std::int32_t* lock, std::uint8_t* signal, Bus& bus) {
  if (travel_polls > 0 && --travel_polls == 0) {
    Arrive();
  }
  const int visible = Visible();
  seen_polls = visible == kNone ? 0 : seen_polls + 1;
  const int now = visible != kNone && seen_polls >= std::max(1, lock_polls) ? visible : kNone;
  if (now != locked) {
    journal.Add(now != kNone ? "lock " + Describe(now) : "lock lost");
    locked = now;
    ShowLevel(bus);
  }
  if (locked != kNone && stream_source != locked) {
    const LineupTransponder& entry = Lineup()[static_cast<std::size_t>(locked)];
    TheStream().SetSource(entry.multiplex, entry.recording, entry.stuffing);
    stream_source = locked;
  }
  if (lock != nullptr) {
    *lock = locked != kNone ? 1 : 0;
  }
  if (signal != nullptr) {
    const double rate = locked != kNone ? bit_error_rates[static_cast<std::size_t>(locked)] : 0.5;
    const std::uint32_t level = locked != kNone ? levels[static_cast<std::size_t>(locked)] : 0U;
    std::memset(signal, 0, 24);
    std::memcpy(signal + 8, &rate, sizeof rate);
    std::memcpy(signal + 20, &level, sizeof level);
  }
}

void Frontend::ShowLevel(Bus& bus) const {
  int value = kNoSignalLevel;
  if (locked != kNone) {
    // Rounded up, so that the strength read back, (255 - value) * 100 / 255,
    // is the level again for every level up to 100.
    const int level = levels[static_cast<std::size_t>(locked)];
    value = std::max(0, 255 - (level * 255 + 99) / 100);
  }
  bus.registers[kSignalLevelRegister] = static_cast<std::uint8_t>(value);
}

void Frontend::Diseqc(const std::uint8_t* message, int count, int burst) {
  if (count > 0 && message != nullptr) {
    const std::string text = "message " + Hex(message, count);
    const std::uint8_t command = count >= 3 ? message[2] : 0;
    if (command == kCommittedSwitch && count >= 4) {
      const int port = ((message[3] >> 2) & 3) + 1;
      Select(port <= 2 ? port - 1 : kNone, text + ": switch port " + std::to_string(port));
    } else if (command == kDriveToStoredPosition && count >= 4) {
      int target = 0;
      if (!StoredPosition(message[3], &target)) {
        journal.Add(text + ": no stored position " + std::to_string(message[3]));
      } else {
        Drive(target, text + ": positioner to stored position " + std::to_string(message[3]));
      }
    } else if (command == kDriveToAngle && count >= 5) {
      // Sixteenths of a degree in the low 12 bits; the high nibble gives the side.
      const int sixteenths = ((message[3] & 0x0F) << 8) | message[4];
      const int tenths = (sixteenths * 10 + 8) / 16;
      Drive((message[3] & 0xF0) == kAngleWestNibble ? -tenths : tenths,
            text + ": positioner to " + Angle(tenths));
    } else {
      journal.Add(text);
    }
  }
  if (burst == 0 || burst == 1) {
    Select(burst, std::string("burst ") + (burst == 0 ? "A" : "B"));
  }
}

void Frontend::LnbControl(std::uint8_t control) {
  voltage = (control & kLnbPowerBit) == 0 ? 0 : (control & kLnbHighVoltageBit) != 0 ? 18 : 13;
  char text[40];
  std::snprintf(text, sizeof text, "LNB control %02X: %d V", control, voltage);
  journal.Add(text);
}

void Frontend::TakeBusEvents(Bus& bus) {
  for (const std::uint8_t control : bus.lnb_written) {
    LnbControl(control);
  }
  bus.lnb_written.clear();
  if (!bus.diseqc_sent.empty()) {
    const std::vector<std::uint8_t> message = std::move(bus.diseqc_sent);
    bus.diseqc_sent.clear();
    Diseqc(message.data(), static_cast<int>(message.size()), -1);
  }
}

void Frontend::Select(int satellite_index, const std::string& why) {
  satellite = satellite_index;
  journal.Add(why + " -> " +
              (satellite_index == kNone
                   ? std::string("no satellite")
                   : Satellites()[static_cast<std::size_t>(satellite_index)].name));
}

void Frontend::Drive(int target_tenths, const std::string& why) {
  const int distance = std::abs(target_tenths - angle_tenths);
  travel_polls = (distance + kTenthsPerTravelPoll - 1) / kTenthsPerTravelPoll;
  angle_tenths = target_tenths;
  journal.Add(why + ", " + std::to_string(travel_polls) + " polls");
  if (travel_polls == 0) {
    Arrive();
  }
}

void Frontend::Arrive() {
  int seen = kNone;
  const auto& satellites = Satellites();
  for (std::size_t i = 0; i < satellites.size(); ++i) {
    if (std::abs(satellites[i].angle_tenths - angle_tenths) <= kArrivalToleranceTenths) {
      seen = static_cast<int>(i);
    }
  }
  Select(seen, "positioner arrived at " + Angle(angle_tenths));
}

}  // namespace sim

using sim::TheCard;

extern "C" {

SIM_API void SimSetLockPolls(int polls) {
  auto& card = TheCard();
  std::lock_guard<std::mutex> hold(card.mutex);
  card.frontend.lock_polls = polls;
}

SIM_API void SimSetTransponderSignal(int index, int level, double bit_error_rate) {
  auto& card = TheCard();
  std::lock_guard<std::mutex> hold(card.mutex);
  sim::Frontend& frontend = card.frontend;
  if (index < 0 || static_cast<std::size_t>(index) >= frontend.levels.size()) {
    return;
  }
  frontend.levels[static_cast<std::size_t>(index)] = static_cast<std::uint8_t>(level);
  frontend.bit_error_rates[static_cast<std::size_t>(index)] = bit_error_rate;
  if (frontend.locked == index) {
    frontend.ShowLevel(card.bus);
  }
}

SIM_API int SimLockedTransponder(void) {
  auto& card = TheCard();
  std::lock_guard<std::mutex> hold(card.mutex);
  return card.frontend.locked;
}

SIM_API int SimDishSatellite(void) {
  auto& card = TheCard();
  std::lock_guard<std::mutex> hold(card.mutex);
  return card.frontend.travel_polls > 0 ? -1 : card.frontend.satellite;
}

SIM_API int SimLnbVoltage(void) {
  auto& card = TheCard();
  std::lock_guard<std::mutex> hold(card.mutex);
  return card.frontend.voltage;
}

SIM_API int SimDishJournalSize(void) {
  auto& card = TheCard();
  std::lock_guard<std::mutex> hold(card.mutex);
  return static_cast<int>(card.frontend.journal.size());
}

SIM_API int SimDishJournalLine(int index, char* buffer, int capacity) {
  auto& card = TheCard();
  std::lock_guard<std::mutex> hold(card.mutex);
  return sim::CopyJournalLine(
      card.frontend.journal, index,
      [](const std::string& line) -> const std::string& { return line; }, buffer, capacity);
}

}  // extern "C"
