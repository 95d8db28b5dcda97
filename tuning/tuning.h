// Tuning and signal figures: the pure parts, kept apart from the entries so
// that they can be checked on their own.
#pragma once

#include <cstdint>

#include "abi/records.h"
#include "card/vendor.h"

// The vendor's channel record for a host tuning record, given the frontend's
// flags word (bits 0, 4 and 20 steer it). Every word is written.
CDVBFrontend::_CHANNEL_TYPE BuildChannelRecord(const TuningRecord& request,
                                               std::uint32_t frontend_flags);

// Polls the frontend's lock each time more than 100 ms have passed since the
// last poll; true when one of the first 30 polls reports lock.
bool WaitForLock(CDVBFrontend& frontend);

// x mapped from x0..x1 onto y0..y1, linearly or on a logarithmic scale; no
// clamping, no checks.
double MapRange(double x, double x0, double x1, double y0, double y1, bool logarithmic);

// Truncation toward zero as the 32-bit x86 conversion does it: a value that is
// not a number or lies outside the 32-bit range gives 0x80000000.
std::int32_t TruncateToInt32(double value);

struct SignalFigures {
  std::uint8_t strength;
  std::uint8_t quality;
};

// Vendor mode: the vendor's level byte and a coarse grade of the bit-error rate.
SignalFigures VendorSignalFigures(std::uint32_t level_word, double bit_error_rate);
// Direct mode: the demodulator's level register and a logarithmic quality.
SignalFigures DirectSignalFigures(std::uint8_t level_register, double bit_error_rate);
