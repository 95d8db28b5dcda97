// The stand-in card's stream reaches the host's callback through the loaded
// module packet for packet: nothing lost, duplicated or reordered, and the
// tables name the services.
#include <chrono>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/testing.h"
#include "tests/support/module_fixture.h"
#include "tests/support/stream_check.h"

namespace {

StreamCheck* check = nullptr;

class CaptureStream : public ModuleTest, public ::testing::WithParamInterface<std::uint32_t> {
 protected:
  void SetUp() override {
    ModuleTest::SetUp();
    check = new StreamCheck;
    StreamCheck::Current() = check;
    PlatformHoldClock(1);  // close waits for the thread's own end
  }
  void TearDown() override {
    ModuleTest::TearDown();
    PlatformHoldClock(0);
    delete check;
    check = nullptr;
  }
};

TEST_P(CaptureStream, EveryPacketTheCardRecordedReachesTheHostOnceAndInOrder) {
  const std::uint32_t rate = GetParam();
  const std::int64_t wanted = rate == 0 ? 40000 : 6000;
  SimSetPacing(rate);
  Entries().set_callback(StreamCheck::Callback);
  ASSERT_EQ(Entries().open(), 0);
  EXPECT_EQ(SimRecording(), 0);
  SimSetRecording(1);
  ASSERT_TRUE(check->WaitFor(wanted));
  SimSetRecording(0);
  ASSERT_EQ(Entries().close(), 0);

  std::lock_guard<std::mutex> hold(check->mutex);
  EXPECT_EQ(check->packets, SimGeneratedPackets());
  EXPECT_GE(check->packets, wanted);
  EXPECT_EQ(check->bad_packets, 0);
  EXPECT_EQ(check->continuity_errors, 0);
  EXPECT_EQ(check->order_errors, 0);
  EXPECT_GT(check->numbered, wanted / 2);
  EXPECT_EQ(check->bad_sdt_sections, 0);
  EXPECT_TRUE(check->tables.pat_read());
  EXPECT_EQ(check->ServiceNames(),
            (std::set<std::string>{"Morvalind One", "Morvalind Two", "Morvalind Radio"}));
}

INSTANTIATE_TEST_SUITE_P(Pacing, CaptureStream,
                         ::testing::Values(0U /* unpaced */, 38014705U /* DVB-S */));

// One read whose size is not a whole number of packets (the head of a packet
// whose rest never comes), then the card's whole packets: every packet after
// the damage arrives.
class OddRead : public CaptureStream {};

TEST_P(OddRead, EveryWholePacketAfterItArrives) {
  const std::uint32_t size = GetParam();
  std::vector<std::uint8_t> odd(size, 0xFF);  // null packets, the last one cut short
  for (std::size_t i = 0; i < size; ++i) {
    const std::uint8_t header[4] = {0x47, 0x1F, 0xFF, 0x10};
    odd[i] = i % 188 < 4 ? header[i % 188] : 0xFF;
  }
  SimSetPacing(0);
  SimQueueChunk(odd.data(), static_cast<std::int32_t>(size));
  Entries().set_callback(StreamCheck::Callback);
  ASSERT_EQ(Entries().open(), 0);
  SimSetRecording(1);
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (SimGeneratedPackets() < 20000 && std::chrono::steady_clock::now() < give_up) {
    std::this_thread::yield();
  }
  SimSetRecording(0);
  ASSERT_EQ(Entries().close(), 0);  // after the last batch

  std::lock_guard<std::mutex> hold(check->mutex);
  EXPECT_GE(SimGeneratedPackets(), 20000);
  EXPECT_EQ(check->packets, SimGeneratedPackets() + size / 188);
  EXPECT_EQ(check->bad_packets, 0);
  EXPECT_EQ(check->continuity_errors, 0);
  EXPECT_EQ(check->order_errors, 0);
}

INSTANTIATE_TEST_SUITE_P(Sizes, OddRead, ::testing::Values(1U, 100U, 187U, 189U));

TEST_F(CaptureStream, NothingIsReadWhileRecordingIsOff) {
  Entries().set_callback(StreamCheck::Callback);
  SimSetPacing(0);
  ASSERT_EQ(Entries().open(), 0);
  const std::int64_t reads = SimReadCount();
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (SimReadCount() < reads + 20 && std::chrono::steady_clock::now() < give_up) {
  }
  ASSERT_EQ(Entries().close(), 0);
  std::lock_guard<std::mutex> hold(check->mutex);
  EXPECT_EQ(check->packets, 0);
  EXPECT_EQ(SimGeneratedPackets(), 0);
}

}  // namespace
