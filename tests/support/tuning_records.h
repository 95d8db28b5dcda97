// Host records for the stand-in card's lineup: a tuning record that locks on
// a listed transponder, and DiSEqC records in the host's layout.
#pragma once

#include <cstdint>
#include <cstring>

#include "abi/records.h"
#include "sim/control.h"

// The tuning record the host sends for lineup entry `index` behind a universal
// LNB (9.75 GHz below 11.7 GHz, 10.6 GHz with the 22 kHz tone above), with
// passthrough words of its own. An index past the lineup's end gives frequency
// 0, which the module refuses.
inline TuningRecord LineupRecord(int index) {
  SimTransponder entry{};
  SimLineupEntry(index, &entry);
  const bool high_band = entry.frequency_mhz >= 11700;
  TuningRecord record{};
  record.passthrough_0 = 0xA1B2C3D4;
  record.primary_value = entry.frequency_mhz * 1000;  // kHz
  record.polarity = entry.polarity == 'V' ? 1 : 0;
  record.word2_value = entry.symbol_rate_ksps * 1000;   // symbols per second
  record.word3_value = high_band ? 10600000 : 9750000;  // oscillator, kHz
  record.word4_value = high_band ? 1 : 0;               // 22 kHz tone
  record.passthrough_25 = 0x5A6B7C8D;
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
