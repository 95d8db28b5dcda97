// Tests that drive the built module as the host does, on the stand-in card.
#pragma once

#include <gtest/gtest.h>

#include "abi/records.h"
#include "sim/control.h"
#include "tests/support/journals.h"
#include "tests/support/tuning_records.h"

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
};
