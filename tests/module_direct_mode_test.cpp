// Direct mode through the loaded module: open identifies the demodulator over
// the card's bus and programmes it, transaction by transaction, between the
// frontend's start-up and switching recording off.
#include <string>
#include <vector>

#include "tests/support/module_fixture.h"

namespace {

using Strings = std::vector<std::string>;
using DirectMode = ModuleTest;

// The demodulator's start-up programme as the card's bus sees it, with the
// stand-in's registers reading back what the programme wrote.
const Strings kProgramme = {
    "write 1C 00 00", "write 1C 01 94", "write 1C 02 35", "write 1C 03 E4",   "write 1C 04 43",
    "write 1C 0C 0C", "write 1C 1B B0", "write 1C 20 89", "write 1C 30 01",   "write 1C 32 00",
    "write 1C 31 56", "write 1C 55 2C", "write 1C 3A 0B", "write 1C 3B 01",   "read 1C 55 -> 2C",
    "write 1C 55 0C", "write 1C 11 81", "write 1C 12 81", "write 1C 19 40",   "write 1C 56 80",
    "write 1C 57 08", "write 1C 10 2A", "write 1C 58 61", "read 1C 58 -> 61", "write 1C 58 60",
    "write 1C 05 0B", "write 1C 37 63", "write 1C 3F 0A", "write 1C 40 64",   "write 1C 41 4F",
    "write 1C 42 43", "write 1C 1A 61", "write 1C 3D 80", "write 1C 36 00",   "write 1C 34 78",
    "write 1C 35 00",
};

Strings Identified(const char* answer, const Strings& then) {
  Strings lines{std::string("read 1C 1E") + answer};
  lines.insert(lines.end(), then.begin(), then.end());
  return lines;
}

TEST_F(DirectMode, OpenIdentifiesAndProgrammesTheDemodulatorBeforeRecordingIsSwitchedOff) {
  ASSERT_EQ(Entries().open(), 0);
  EXPECT_EQ(BusJournal(), Identified(" -> E1", kProgramme));
  EXPECT_EQ(SimBusRegister(0x55), 0x0C);
  EXPECT_EQ(SimBusRegister(0x58), 0x60);

  // All of it after the frontend's Init, before TSRecordOnOff(0).
  const Strings vendor = Journal();
  ASSERT_GE(vendor.size(), 8U);
  EXPECT_EQ(vendor[6], "CDVBFrontend::Init()");
  EXPECT_EQ(vendor[7], "CDVBBoardControl::TSRecordOnOff(0)");
  for (int i = 0; i < SimBusJournalSize(); ++i) {
    EXPECT_EQ(SimBusJournalPosition(i), 7) << i;
  }
}

TEST_F(DirectMode, AnyOtherDemodulatorOrAFailedIdentificationLeavesItAlone) {
  SimBusSetRegister(0x1E, 0xE0);
  ASSERT_EQ(Entries().open(), 0);
  EXPECT_EQ(BusJournal(), Strings{"read 1C 1E -> E0"});
  ASSERT_EQ(Entries().close(), 0);

  SimJournalClear();
  SimBusJournalClear();
  SimBusSetRegister(0x1E, 0xE1);
  SimBusFailAll(1);
  ASSERT_EQ(Entries().open(), 0);
  EXPECT_EQ(BusJournal(), Strings{"read 1C 1E failed"});
  EXPECT_EQ(JournalOf("TSRecordOnOff"), Strings{"CDVBBoardControl::TSRecordOnOff(0)"});
}

TEST_F(DirectMode, TheWholeProgrammeIsAttemptedOnAFailingBusAndOpenGoesOn) {
  for (int line = 1; line <= 40; ++line) {  // all but the identification
    SimBusFailLine(line);
  }
  ASSERT_EQ(Entries().open(), 0);
  Strings expected;
  for (const std::string& transaction : kProgramme) {
    if (transaction == "write 1C 55 0C" || transaction == "write 1C 58 60") {
      continue;  // an update whose read failed writes nothing
    }
    const std::size_t arrow = transaction.find(" ->");
    expected.push_back(transaction.substr(0, arrow) + " failed");
  }
  EXPECT_EQ(BusJournal(), Identified(" -> E1", expected));
  EXPECT_EQ(JournalOf("TSRecordOnOff"), Strings{"CDVBBoardControl::TSRecordOnOff(0)"});
}

TEST_F(DirectMode, ReopeningIdentifiesAgainAndProgrammesOnlyTheSupportedDemodulator) {
  ASSERT_EQ(Entries().open(), 0);
  ASSERT_EQ(Entries().close(), 0);
  EXPECT_EQ(BusJournal(), Identified(" -> E1", kProgramme)) << "close adds no bus traffic";

  SimBusJournalClear();
  SimBusSetRegister(0x1E, 0xE0);
  ASSERT_EQ(Entries().open(), 0);
  ASSERT_EQ(Entries().close(), 0);
  EXPECT_EQ(BusJournal(), Strings{"read 1C 1E -> E0"});

  SimBusJournalClear();
  SimBusSetRegister(0x1E, 0xE1);
  ASSERT_EQ(Entries().open(), 0);
  EXPECT_EQ(BusJournal(), Identified(" -> E1", kProgramme));
}

}  // namespace
