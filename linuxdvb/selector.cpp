// MORVALIND_DVB: see selector.h.
#include "linuxdvb/selector.h"

#include <cerrno>
#include <cstdlib>
#include <vector>

namespace linuxdvb {
namespace {

constexpr unsigned kHighestAdapter = 255;
constexpr long kHighestPort = 65535;

bool ParseUnsigned(const std::string& text, long highest, long* value) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) {
    return false;
  }
  errno = 0;
  const long parsed = std::strtol(text.c_str(), nullptr, 10);
  if (errno != 0 || parsed > highest) {
    return false;
  }
  *value = parsed;
  return true;
}

bool ParseAdapter(const std::string& text, unsigned* adapter) {
  const std::string prefix = "adapter";
  const std::string number =
      text.compare(0, prefix.size(), prefix) == 0 ? text.substr(prefix.size()) : text;
  long value = 0;
  if (!ParseUnsigned(number, kHighestAdapter, &value)) {
    return false;
  }
  *adapter = static_cast<unsigned>(value);
  return true;
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = text.find(separator, start);
    parts.push_back(text.substr(start, end - start));
    if (end == std::string::npos) {
      return parts;
    }
    start = end + 1;
  }
}

}  // namespace

bool ParseSelector(const char* text, DeviceSelector* out, std::string* error) {
  DeviceSelector selector;
  const std::string given = text != nullptr ? text : "";
  const std::vector<std::string> parts = Split(given, ':');
  bool good = false;
  if (given.empty()) {
    good = true;
  } else if (parts[0] != "remote") {
    good = parts.size() == 1 && ParseAdapter(parts[0], &selector.adapter);
  } else if (parts.size() == 3 || parts.size() == 4) {
    long port = 0;
    selector.server = parts[1];
    good = !selector.server.empty() && ParseUnsigned(parts[2], kHighestPort, &port) && port != 0 &&
           (parts.size() == 3 || ParseAdapter(parts[3], &selector.adapter));
    selector.port = static_cast<int>(port);
  }
  if (!good) {
    *error = std::string(kSelectorVariable) + "=" + given +
             ": give adapterN, remote:HOST:PORT or remote:HOST:PORT:adapterN";
    return false;
  }
  *out = selector;
  return true;
}

std::string SelectorText(const DeviceSelector& selector) {
  std::string text = "adapter" + std::to_string(selector.adapter);
  if (!selector.server.empty()) {
    text += " on " + selector.server + ":" + std::to_string(selector.port);
  }
  return text;
}

}  // namespace linuxdvb
