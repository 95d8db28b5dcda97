// The host unloads the module right after a close that met a slow callback:
// the close gives up on the capture thread inside the host's callback after
// its 200 ms limit, and the thread leaves the callback only after the unload.
// The module must stay loaded until that thread has left it, and then go.
// A process of its own, so that nothing else holds the module loaded.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "loader/module.h"
#include "platform/testing.h"
#include "sim/control.h"
#include "tests/support/cycle_count.h"
#include "tests/support/tuning_records.h"

namespace {

const char* const kModulePath = MORVALIND_BIN_DIR "/Morvalind.dev";

// The host's callback waits at the gate from its first packet until the test
// opens it.
struct Gate {
  std::mutex mutex;
  std::condition_variable changed;
  bool entered = false;
  bool open = false;
} gate;

std::int32_t MV_STDCALL WaitAtGate(const std::uint8_t* /*packet*/, std::int32_t /*length*/) {
  std::unique_lock<std::mutex> hold(gate.mutex);
  gate.entered = true;
  gate.changed.notify_all();
  gate.changed.wait(hold, [] { return gate.open; });
  return 0;
}

// Natively every yield of the close's wait moves the virtual clock by 50 ms, so
// that its limit passes at once in real time.
void JumpClock(std::uint32_t /*milliseconds*/) { PlatformUseVirtualClock(1, GetTickCount() + 50); }

// Whether the module left the process within 20 s.
bool ModuleLeaves() {
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (LoadedLibrary(kModulePath) != nullptr) {
    if (std::chrono::steady_clock::now() > give_up) {
      return false;
    }
    std::this_thread::yield();
  }
  return true;
}

class ModuleUnload : public ::testing::Test {
 protected:
  void SetUp() override {
    PlatformUseVirtualClock(1, 1000);
    SimReset();
    SimSetGeneratedStream(0);  // the queued packet alone
    SimSetLockPolls(1);
    packet_[0] = 0x47;
  }
  void TearDown() override { PlatformUseVirtualClock(0, 0); }

  // Loads the module, captures until the callback waits at the gate, closes
  // and unloads. The gate is still shut when it returns.
  void CloseOnASlowCallbackAndUnload() {
    {
      std::lock_guard<std::mutex> hold(gate.mutex);
      gate.entered = false;
      gate.open = false;
    }
    Module module;
    ASSERT_EQ(module.Load(kModulePath), LoadStatus::kOk) << module.error();
    const DeviceInterface& entries = module.entries();
    entries.set_callback(WaitAtGate);
    ASSERT_EQ(entries.open(), 0);
    SimQueueChunk(packet_, sizeof packet_);
    ASSERT_EQ(entries.tune(&tuning_), 0);
    {
      std::unique_lock<std::mutex> hold(gate.mutex);
      ASSERT_TRUE(
          gate.changed.wait_for(hold, std::chrono::seconds(20), [] { return gate.entered; }));
    }
    PlatformSetSleepHook(JumpClock);
    EXPECT_EQ(entries.close(), 0);
    PlatformSetSleepHook(nullptr);
    module.Unload();
  }

  static void OpenGate() {
    std::lock_guard<std::mutex> hold(gate.mutex);
    gate.open = true;
    gate.changed.notify_all();
  }

  std::uint8_t packet_[188] = {};
  const TuningRecord tuning_ = LineupRecord(2);
};

TEST_F(ModuleUnload, ModuleStaysWhileTheThreadLeftInTheCallbackRunsAndGoesWhenItEnds) {
  CloseOnASlowCallbackAndUnload();
  const bool held = LoadedLibrary(kModulePath) != nullptr;  // by the thread in the callback
  OpenGate();
  ASSERT_FALSE(HasFatalFailure());
  EXPECT_TRUE(held);
  EXPECT_TRUE(ModuleLeaves());
}

TEST_F(ModuleUnload, AThousandCyclesOfSlowCloseUnloadAndLoad) {
  const int cycles = CycleCount();
  for (int i = 0; i < cycles; ++i) {
    CloseOnASlowCallbackAndUnload();
    OpenGate();
    ASSERT_FALSE(HasFatalFailure()) << "cycle " << i;
    ASSERT_TRUE(ModuleLeaves()) << "cycle " << i;
  }
}

}  // namespace
