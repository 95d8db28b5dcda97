// How a name that a person typed picks one of several: a channel of a
// channel file (`--channel`), a service of the stream (`--service`). The
// exact name first, else the only one that matches ignoring ASCII case.
#pragma once

#include <cctype>
#include <string>
#include <vector>

namespace dvb {

inline bool SameIgnoringCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) {
    return false;
  }
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(a[i])) !=
        std::toupper(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

// The item whose `name_of(item)` matches `name`; nullptr when none does, or
// several do ignoring case and none exactly.
template <typename Item, typename NameOf>
const Item* MatchName(const std::vector<Item>& items, const std::string& name, NameOf name_of) {
  const Item* found = nullptr;
  int matches = 0;
  for (const Item& item : items) {
    if (name_of(item) == name) {
      return &item;
    }
    if (SameIgnoringCase(name_of(item), name)) {
      found = &item;
      ++matches;
    }
  }
  return matches == 1 ? found : nullptr;
}

}  // namespace dvb
