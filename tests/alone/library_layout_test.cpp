// Opening the card with a build of its library other than the one beside the
// module: the other known layout gives direct mode, an unknown one leaves the
// card to the library's public entries, with no bus traffic at all. Built once
// per layout, into a folder of its own beside that build of the library.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "loader/module.h"
#include "platform/testing.h"
#include "sim/control.h"
#include "tests/support/journals.h"

namespace {

using Strings = std::vector<std::string>;

TEST(LIBRARY_LAYOUT, DecidesTheModeAtEveryOpen) {
  PlatformUseVirtualClock(1, 1000);
  Module module;
  ASSERT_EQ(module.Load(MORVALIND_BIN_DIR "/Morvalind.dev"), LoadStatus::kOk) << module.error();
  const DeviceInterface& entries = module.entries();
  SimReset();
  for (int open = 0; open < 2; ++open) {
    SimJournalClear();
    SimBusJournalClear();
    ASSERT_EQ(entries.open(), 0);
    const Strings bus = BusJournal();
#if EXPECT_DIRECT_MODE
    ASSERT_EQ(bus.size(), 1U + 36U);  // identification and the programme
    EXPECT_EQ(bus.front(), "read 1C 1E -> E1");
    EXPECT_EQ(bus.back(), "write 1C 35 00");
#else
    EXPECT_TRUE(bus.empty()) << bus.front();
#endif
    const Strings vendor = Journal();
    ASSERT_GE(vendor.size(), 8U);
    EXPECT_EQ(vendor[7], "CDVBBoardControl::TSRecordOnOff(0)");
    ASSERT_EQ(entries.close(), 0);
  }
  PlatformUseVirtualClock(0, 0);
}

}  // namespace
