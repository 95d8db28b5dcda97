// Numbers as people write them on a command line or in a channel file: digits
// with up to three decimals, nothing else (no sign, exponent, hex or spaces),
// held exactly as whole thousandths, so that 11778.125 MHz stays 11778125 kHz.
#pragma once
#include <cstdint>
#include <string>

// "11778.125" -> 11778125; false for anything else, or beyond 32 bits.
bool ParseThousandths(const std::string& text, std::uint32_t* thousandths);

// 11778125 -> "11778.125", 11778000 -> "11778".
std::string ThousandthsText(std::uint64_t thousandths);

// Digits only, within [low, high].
bool ParseWhole(const std::string& text, long low, long high, long* value);
