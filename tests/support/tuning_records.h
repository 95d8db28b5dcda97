// Host records for the stand-in card's lineup: a tuning record that locks on
// a listed transponder, and DiSEqC records in the host's layout.
#pragma once

#include <cstdint>
#include <cstring>

#include "plugin/records.h"
#include "sim/control.h"

// The tuning record the host sends for lineup entry `index` behind a universal
// LNB (9.75 GHz below 11.7 GHz, 10.6 GHz with the 22 kHz tone above). An index
// past the lineup's end gives a record for an empty frequency.
inline TuningRecord TuningForLineup(int index) {
  SimTransponder entry{};
  if (SimLineupEntry(index, &entry) != 0) {
    entry.frequency_mhz = 10700;
    entry.polarity = 'H';
    entry.symbol_rate_ksps = 27500;
    entry.fec_code = 0x34;
  }
  const bool high_band = entry.frequency_mhz >= 11700;
  TuningRecord record{};
  record.primary_value = entry.frequency_mhz * 1000;  // kHz
  record.polarity = entry.polarity == 'H' ? 0 : 1;
  record.word2_value = entry.symbol_rate_ksps * 1000;   // symbols per second
  record.word3_value = high_band ? 10600000 : 9750000;  // oscillator, kHz
  record.word4_value = high_band ? 1 : 0;               // 22 kHz tone
  record.fec_code = entry.fec_code;
  return record;
}

// A DiSEqC record with room for the longest message the host sends.
struct DiseqcMessage {
  DiseqcRecord record;
  std::uint8_t rest[16];
};

inline DiseqcMessage DiseqcOf(const std::uint8_t* bytes, std::uint8_t length) {
  DiseqcMessage message{};
  message.record.length = length;
  std::memcpy(message.record.message, bytes, length);
  return message;
}

// Committed switch, port 1: the satellite in view after a reset.
constexpr std::uint8_t kCommittedPort1[] = {0xE0, 0x10, 0x38, 0xF0};
