// DiSEqC messages: see diseqc.h.
#include "dvb/diseqc.h"

#include <algorithm>
#include <sstream>

namespace dvb {

namespace {

constexpr std::uint8_t kFraming = 0xE0;  // from the master, no reply wanted
constexpr std::uint8_t kAnySwitch = 0x10;
constexpr std::uint8_t kCommitted = 0x38;
constexpr std::uint8_t kPositioner = 0x31;
constexpr std::uint8_t kGotoStored = 0x6B;

}  // namespace

std::vector<std::uint8_t> SwitchMessage(int port, bool horizontal, bool high_band) {
  const int bits = ((port - 1) & 3) << 2 | (horizontal ? 2 : 0) | (high_band ? 1 : 0);
  return {kFraming, kAnySwitch, kCommitted, static_cast<std::uint8_t>(0xF0 | bits)};
}

std::vector<std::uint8_t> GotoMessage(int position) {
  return {kFraming, kPositioner, kGotoStored, static_cast<std::uint8_t>(position)};
}

bool ParseMessage(const std::vector<std::string>& words, std::vector<std::uint8_t>* message,
                  std::string* error) {
  std::string digits;
  for (std::string word : words) {
    std::replace(word.begin(), word.end(), ',', ' ');
    std::istringstream parts(word);
    for (std::string part; parts >> part;) {
      digits += part.size() > 2 && part[0] == '0' && (part[1] == 'x' || part[1] == 'X')
                    ? part.substr(2)
                    : part;
    }
  }
  if (digits.size() % 2 != 0 ||
      digits.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
    *error = "the message is not whole bytes of hex, e.g. E0 10 38 F3";
    return false;
  }
  if (digits.size() < 6 || digits.size() > 12) {  // 3 to 6 bytes
    *error =
        "a DiSEqC message has 3 to 6 bytes (framing, address, command and up to three "
        "data bytes), not " +
        std::to_string(digits.size() / 2);
    return false;
  }
  message->clear();
  for (std::size_t at = 0; at < digits.size(); at += 2) {
    message->push_back(static_cast<std::uint8_t>(std::stoul(digits.substr(at, 2), nullptr, 16)));
  }
  return true;
}

std::string HexBytes(const std::vector<std::uint8_t>& bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (const std::uint8_t byte : bytes) {
    text += (text.empty() ? "" : " ") + std::string{kDigits[byte >> 4], kDigits[byte & 0xF]};
  }
  return text;
}

}  // namespace dvb
