// The stand-in card's frontend and dish side: the lineup of transponders on two
// satellites, the tuner that reads the channel words and locks, the LNB supply,
// the committed switch and tone burst, and the positioner. Part of the card's
// state, guarded by the card's mutex. sim/README.md describes the behaviour.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/journal.h"
#include "sim/lineup.h"

namespace sim {

struct Bus;

struct Frontend {
  static constexpr int kNone = -1;

  // Tuning, as the last accepted SetChannel left it.
  bool tuned = false;
  std::uint32_t words[8] = {};
  int lock_polls = 2;         // the poll, counted from the first that sees the signal, that locks
  int seen_polls = 0;         // consecutive polls that have seen the tuned transponder
  int locked = kNone;         // transponder index while locked
  int stream_source = kNone;  // transponder whose multiplex the stream carries; none: the default
  std::vector<std::uint8_t> levels;
  std::vector<double> bit_error_rates;

  // Dish side.
  int voltage = 18;      // LNB supply: 13, 18, or 0 when off
  int satellite = 0;     // satellite the dish sees; kNone when none
  int angle_tenths = 0;  // where the positioner points
  int travel_polls = 0;  // GetState polls until the positioner arrives
  Journal<std::string> journal;

  void Reset(const CardSettings& settings);
  void SetChannel(const std::uint32_t (&channel)[8]);
  // One poll of the lock state: the lock value and, when `signal` is given,
  // the 24-byte vendor signal record. Updates the demodulator's level register.
  void Poll(std::int32_t* lock, std::uint8_t* signal, Bus& bus);
  // A DiSEqC message (count > 0) and a tone burst (0: A, 1: B; other: none),
  // the burst after the message as on the cable.
  void Diseqc(const std::uint8_t* message, int count, int burst);
  void LnbControl(std::uint8_t control);
  // Hands on what the card's bus delivered: a DiSEqC message started through
  // the demodulator's registers, and LNB control bytes.
  void TakeBusEvents(Bus& bus);
  // What the tuner sees now: the transponder index, or kNone.
  int Visible() const;
  void ShowLevel(Bus& bus) const;

 private:
  void Select(int satellite_index, const std::string& why);
  void Drive(int angle_tenths, const std::string& why);
  void Arrive();  // the positioner stops: the satellite it points at, if any
};

}  // namespace sim
