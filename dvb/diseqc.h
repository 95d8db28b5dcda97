// DiSEqC messages: those for a committed switch port and a positioner, and
// messages written as hex bytes.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace dvb {

// The committed switch message for `port` (1..4): E0 10 38 Fx, x carrying the
// port and the polarisation (bit 1 horizontal) and band (bit 0 high) bits.
std::vector<std::uint8_t> SwitchMessage(int port, bool horizontal, bool high_band);
// The positioner's "go to stored position" message: E0 31 6B nn.
std::vector<std::uint8_t> GotoMessage(int position);

// Hex bytes in words, with or without "0x", separated by spaces or commas or
// run together ("E01038F3"): a message of 3 to 6 bytes.
bool ParseMessage(const std::vector<std::string>& words, std::vector<std::uint8_t>* message,
                  std::string* error);
std::string HexBytes(const std::vector<std::uint8_t>& bytes);

}  // namespace dvb
