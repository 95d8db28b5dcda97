#include "tests/support/module_fixture.h"

#include <cstring>

#include "loader/module.h"
#include "platform/testing.h"

namespace {

Module& TheModule() {
  static Module* module = [] {
    auto* loaded = new Module;
    if (loaded->Load(MORVALIND_BIN_DIR "/Morvalind.dev") != LoadStatus::kOk) {
      ADD_FAILURE() << loaded->error();
    }
    return loaded;
  }();
  return *module;
}

}  // namespace

const DeviceInterface& ModuleTest::Entries() { return TheModule().entries(); }

DeviceInterfaceInfo ModuleTest::Descriptor(unsigned char fill) {
  DeviceInterfaceInfo info;
  std::memset(&info, fill, sizeof info);
  TheModule().get_interface_info()(&info);
  return info;
}

void ModuleTest::SetUp() {
  SimReset();
  PlatformUseVirtualClock(1, 1000);
}

void ModuleTest::TearDown() {
  Entries().close();
  Entries().set_callback(nullptr);
  PlatformUseVirtualClock(0, 0);
}

void ModuleTest::CloseWhileCapturing() {
  PlatformHoldClock(1);  // close waits for the capture thread's own end
  EXPECT_EQ(Entries().close(), 0);
  PlatformHoldClock(0);
}
