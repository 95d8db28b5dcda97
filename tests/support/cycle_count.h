// How many cycles a test of open-and-close cycles runs: 1,000 natively and 100
// under Wine, where each costs more; MORVALIND_CYCLES sets the count.
#pragma once

#include <cstdlib>

inline int CycleCount() {
  const char* text = std::getenv("MORVALIND_CYCLES");
  const int cycles = text != nullptr ? std::atoi(text) : 0;
#ifdef _WIN32
  return cycles > 0 ? cycles : 100;
#else
  return cycles > 0 ? cycles : 1000;
#endif
}
