// Which DVB adapter the card library opens. The module always asks for card
// 0; the adapter is chosen outside it, by the environment variable
// MORVALIND_DVB, read at every OpenDevice:
//   (unset or empty)          adapter 0 of this machine
//   adapterN, or N            adapter N of this machine
//   remote:HOST:PORT          adapter 0 served by dvbv5-daemon on HOST:PORT
//   remote:HOST:PORT:adapterN adapter N served there
#pragma once

#include <string>

namespace linuxdvb {

constexpr const char* kSelectorVariable = "MORVALIND_DVB";
// Set (not "0"): libdvbv5's own messages too, and the figures at close.
constexpr const char* kVerboseVariable = "MORVALIND_DVB_VERBOSE";

struct DeviceSelector {
  std::string server;  // empty: this machine
  int port = 0;
  unsigned adapter = 0;
};

// Reads a selector; on a malformed one says why in `error`.
bool ParseSelector(const char* text, DeviceSelector* out, std::string* error);

// "adapter0", or "adapter0 on 127.0.0.1:5555" for a remote one.
std::string SelectorText(const DeviceSelector& selector);

}  // namespace linuxdvb
