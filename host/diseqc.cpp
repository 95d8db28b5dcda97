// DiSEqC messages: see diseqc.h.
#include "host/diseqc.h"

#include <algorithm>
#include <cctype>

namespace {

constexpr std::uint8_t kFraming = 0xE0;  // from the master, no reply wanted
constexpr std::uint8_t kAnySwitch = 0x10;
constexpr std::uint8_t kCommitted = 0x38;
constexpr std::uint8_t kPositioner = 0x31;
constexpr std::uint8_t kGotoStored = 0x6B;
constexpr std::size_t kShortest = 3;
constexpr std::size_t kLongest = 6;

int HexDigit(char c) {
  const int lower = std::tolower(static_cast<unsigned char>(c));
  if (lower >= '0' && lower <= '9') {
    return lower - '0';
  }
  return lower >= 'a' && lower <= 'f' ? lower - 'a' + 10 : -1;
}

}  // namespace

const char* BurstName(int burst) { return burst == 1 ? "A" : burst == 2 ? "B" : ""; }

std::vector<std::uint8_t> SwitchMessage(int port, bool horizontal, bool high_band) {
  const int bits = ((port - 1) & 3) << 2 | (horizontal ? 2 : 0) | (high_band ? 1 : 0);
  return {kFraming, kAnySwitch, kCommitted, static_cast<std::uint8_t>(0xF0 | bits)};
}

std::vector<std::uint8_t> GotoMessage(int position) {
  return {kFraming, kPositioner, kGotoStored, static_cast<std::uint8_t>(position)};
}

bool ParseMessage(const std::vector<std::string>& words, std::vector<std::uint8_t>* message,
                  std::string* error) {
  std::string text;
  for (const std::string& word : words) {
    text += word + " ";
  }
  std::replace(text.begin(), text.end(), ',', ' ');
  std::vector<std::uint8_t> bytes;
  std::size_t at = 0;
  while ((at = text.find_first_not_of(" \t", at)) != std::string::npos) {
    const std::size_t end = text.find_first_of(" \t", at);
    std::string word = text.substr(at, end - at);
    at = end;
    if (word.size() > 2 && word[0] == '0' && (word[1] == 'x' || word[1] == 'X')) {
      word.erase(0, 2);
    }
    // One digit is a byte; a longer run is read two digits a byte.
    if (word.size() > 1 && word.size() % 2 != 0) {
      *error = "'" + word + "' is not whole bytes of hex";
      return false;
    }
    for (std::size_t i = 0; i < word.size(); i += 2) {
      const int high = word.size() == 1 ? 0 : HexDigit(word[i]);
      const int low = HexDigit(word[word.size() == 1 ? i : i + 1]);
      if (high < 0 || low < 0) {
        *error = "'" + word + "' is not hex bytes";
        return false;
      }
      bytes.push_back(static_cast<std::uint8_t>(high << 4 | low));
    }
  }
  if (bytes.size() < kShortest || bytes.size() > kLongest) {
    *error =
        "a DiSEqC message has 3 to 6 bytes (framing, address, command and up to three "
        "data bytes), not " +
        std::to_string(bytes.size());
    return false;
  }
  *message = bytes;
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

std::int32_t SendDiseqc(const DeviceInterface& entries, const std::vector<std::uint8_t>& message,
                        int burst) {
  // The record holds at least 8 bytes and at least 5 + length.
  std::vector<std::uint8_t> record(std::max<std::size_t>(8, 5 + message.size()), 0);
  record[4] = static_cast<std::uint8_t>(message.size());
  std::copy(message.begin(), message.end(), record.begin() + 5);
  return entries.send_diseqc(reinterpret_cast<DiseqcRecord*>(record.data()),
                             static_cast<std::uint32_t>(burst));
}
