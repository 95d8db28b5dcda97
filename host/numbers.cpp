// Numbers as people write them: see numbers.h.
#include "host/numbers.h"

#include <cstdlib>

namespace {

bool Digits(const std::string& text, std::size_t longest) {
  return !text.empty() && text.size() <= longest &&
         text.find_first_not_of("0123456789") == std::string::npos;
}

}  // namespace

bool ParseThousandths(const std::string& text, std::uint32_t* thousandths) {
  const std::size_t point = text.find('.');
  std::string decimals = point == std::string::npos ? "000" : text.substr(point + 1);
  const std::string whole = text.substr(0, point);
  if (!Digits(whole, 7) || !Digits(decimals, 3)) {
    return false;
  }
  decimals.resize(3, '0');
  const unsigned long long value = std::strtoull((whole + decimals).c_str(), nullptr, 10);
  if (value > UINT32_MAX) {
    return false;
  }
  *thousandths = static_cast<std::uint32_t>(value);
  return true;
}

std::string ThousandthsText(std::uint64_t thousandths) {
  std::string decimals = std::to_string(thousandths % 1000 + 1000).substr(1);
  decimals.erase(decimals.find_last_not_of('0') + 1);
  return std::to_string(thousandths / 1000) + (decimals.empty() ? "" : "." + decimals);
}

bool ParseWhole(const std::string& text, long low, long high, long* value) {
  const long parsed = Digits(text, 9) ? std::strtol(text.c_str(), nullptr, 10) : low - 1;
  if (parsed < low || parsed > high) {
    return false;
  }
  *value = parsed;
  return true;
}
