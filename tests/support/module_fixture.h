// Tests that drive the built module as the host does, on the stand-in card.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "plugin/records.h"
#include "sim/control.h"

class ModuleTest : public ::testing::Test {
 protected:
  // The module's entry table; the module is loaded once per process.
  static const DeviceInterface& Entries();
  static DeviceInterfaceInfo Descriptor(unsigned char fill);

  // A new card and an empty journal; on native, a virtual clock.
  void SetUp() override;
  // Leaves the card closed for the next test.
  void TearDown() override;

  // Closes the card while its capture thread runs: on native the virtual
  // clock holds still meanwhile, so that close waits for the thread's own end.
  static void CloseWhileCapturing();

  static std::vector<std::string> Journal();
  // The journal lines that name `member`, e.g. "TSRecordOnOff".
  static std::vector<std::string> JournalOf(const std::string& member);
  // The card's bus journal and its dish journal.
  static std::vector<std::string> BusJournal();
  static std::vector<std::string> DishJournal();

  // A tuning record for lineup entry `index` as a host fills it for a
  // universal LNB, with passthrough words of its own.
  static TuningRecord LineupRecord(int index);
};
