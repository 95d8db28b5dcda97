// The stand-in card's journals as lists of lines (sim/control.h describes
// them): the vendor calls, the bus transactions and the dish's events.
#pragma once

#include <string>
#include <vector>

#include "sim/control.h"

// Every line one of the journals holds, oldest first; `line_of` is
// SimJournalLine, SimBusJournalLine or SimDishJournalLine.
inline std::vector<std::string> JournalLines(int (*line_of)(int index, char* buffer,
                                                            int capacity)) {
  std::vector<std::string> lines;
  char line[512];
  for (int i = 0; line_of(i, line, sizeof line) >= 0; ++i) {
    lines.emplace_back(line);
  }
  return lines;
}

inline std::vector<std::string> Journal() { return JournalLines(SimJournalLine); }
inline std::vector<std::string> BusJournal() { return JournalLines(SimBusJournalLine); }
inline std::vector<std::string> DishJournal() { return JournalLines(SimDishJournalLine); }

// The vendor journal's calls of `member`, e.g. "TSRecordOnOff".
inline std::vector<std::string> JournalOf(const std::string& member) {
  std::vector<std::string> lines;
  for (const std::string& line : Journal()) {
    if (line.find("::" + member + "(") != std::string::npos || line.rfind(member + "(", 0) == 0) {
      lines.push_back(line);
    }
  }
  return lines;
}
