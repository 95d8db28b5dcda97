// The demodulator's registers and the LNB power controller's control byte, as
// the module uses them: the two devices on the card's internal bus, the
// registers the module reads or writes outside the start-up programme, and
// the bits and values it writes. The start-up programme itself is a table of
// its own (register_access.cpp).
#pragma once

#include <cstdint>

namespace demod {

// Bus device addresses.
constexpr std::int32_t kBusAddress = 0x1C;     // the demodulator
constexpr std::int32_t kLnbBusAddress = 0x10;  // the LNB power controller

// Each register, then indented the bits and values the module writes to it or
// tests in it.
// clang-format off
constexpr std::uint8_t kControl        = 0x00;
constexpr std::uint8_t   kControlBit0  =   0x01;  // cleared after SetChannel, before the lock wait
constexpr std::uint8_t kTuning         = 0x02;
constexpr std::uint8_t   kTuningHold   =   0x35;  // from recording off until lock
constexpr std::uint8_t   kTuningLocked =   0x00;  // once locked
constexpr std::uint8_t kOutput         = 0x10;
constexpr std::uint8_t   kOutputBit6   =   0x40;  // set after SetChannel
constexpr std::uint8_t kSignalLevel    = 0x1C;    // read: 0 strongest, 0xFF weakest
constexpr std::uint8_t kIdentification = 0x1E;    // read
constexpr std::uint8_t   kIdSupported  =   0xE1;  // the supported demodulator
constexpr std::uint8_t kDiseqcControl  = 0x36;
constexpr std::uint8_t   kDiseqcStart  =   0x08;  // bit 3: send the message bytes
constexpr unsigned       kDiseqcLengthShift = 4;  // bits 4..6: message length less one
constexpr std::uint8_t kDiseqcMessage  = 0x48;    // 0x48..0x4D: message bytes 0..5
constexpr std::uint32_t  kDiseqcLongestMessage = 6;
constexpr std::uint8_t kDiseqcStatus   = 0x50;    // read
constexpr std::uint8_t   kDiseqcIdle   =   0x01;  // bit 0: the transmission has ended

// LNB power controller: its one control byte, chosen by the polarity of the
// last tuned transponder.
constexpr std::uint8_t kLnbPolarity0   = 0x0C;    // horizontal: 18 V
constexpr std::uint8_t kLnbPolarity1   = 0x04;    // vertical: 13 V
// clang-format on

}  // namespace demod
