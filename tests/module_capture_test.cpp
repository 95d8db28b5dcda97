// The stand-in card's stream reaches the host's callback through the loaded
// module packet for packet: nothing lost, duplicated or reordered, and the
// tables name the services.
#include <bitstream/dvb/si/desc_48.h>
#include <bitstream/dvb/si/sdt.h>
#include <bitstream/mpeg/psi.h>
#include <bitstream/mpeg/ts.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <string>

#include "platform/testing.h"
#include "tests/support/module_fixture.h"

namespace {

// Checks every packet as it arrives, on the capture thread.
struct StreamCheck {
  std::mutex mutex;
  std::condition_variable arrived;
  std::int64_t packets = 0;
  std::int64_t bad_length = 0;
  std::int64_t continuity_errors = 0;
  std::int64_t order_errors = 0;
  std::int64_t elementary = 0;
  std::int64_t last_number = -1;
  std::map<std::uint16_t, std::uint8_t> last_continuity;
  std::set<std::string> service_names;
  bool pat_seen = false;

  void Take(const std::uint8_t* packet, std::int32_t length) {
    std::lock_guard<std::mutex> hold(mutex);
    ++packets;
    if (length != 188) {
      ++bad_length;
      return;
    }
    const std::uint16_t pid = ts_get_pid(packet);
    const auto last = last_continuity.find(pid);
    if (last != last_continuity.end() && ts_get_cc(packet) != ((last->second + 1) & 0x0F)) {
      ++continuity_errors;
    }
    last_continuity[pid] = ts_get_cc(packet);
    if (pid == PAT_PID) {
      pat_seen = true;
    } else if (pid == SDT_PID) {
      ReadServiceNames(packet);
    } else if (pid >= 0x100 && (pid & 0xFF) != 0) {  // the services' audio and video
      std::int64_t number = 0;
      for (int i = 184; i < 188; ++i) {
        number = (number << 8) | packet[i];
      }
      if (number <= last_number) {
        ++order_errors;
      }
      last_number = number;
      ++elementary;
    }
    arrived.notify_all();
  }

  // The SDT fits one packet here.
  void ReadServiceNames(const std::uint8_t* packet) {
    std::uint8_t copy[188];
    std::memcpy(copy, packet, sizeof copy);
    std::uint8_t* section = ts_section(copy);
    if (!ts_get_unitstart(copy) || !psi_validate(section) || !psi_check_crc(section) ||
        !sdt_validate(section)) {
      service_names.insert("(invalid SDT)");
      return;
    }
    for (std::uint8_t n = 0; std::uint8_t* service = sdt_get_service(section, n); ++n) {
      std::uint8_t* descriptor = sdtn_get_descs(service) + DESCS_HEADER_SIZE;
      std::uint8_t name_length = 0;
      const std::uint8_t* name = desc48_get_service(descriptor, &name_length);
      service_names.emplace(reinterpret_cast<const char*>(name), name_length);
    }
  }

  bool WaitFor(std::int64_t count) {
    std::unique_lock<std::mutex> hold(mutex);
    return arrived.wait_for(hold, std::chrono::seconds(30), [&] { return packets >= count; });
  }
};

StreamCheck* check = nullptr;

std::int32_t MV_STDCALL CheckPacket(const std::uint8_t* packet, std::int32_t length) {
  check->Take(packet, length);
  return 0;
}

class CaptureStream : public ModuleTest, public ::testing::WithParamInterface<std::uint32_t> {
 protected:
  void SetUp() override {
    ModuleTest::SetUp();
    check = new StreamCheck;
#ifndef _WIN32
    PlatformHoldClock(1);  // close waits for the thread's own end
#endif
  }
  void TearDown() override {
    ModuleTest::TearDown();
#ifndef _WIN32
    PlatformHoldClock(0);
#endif
    delete check;
    check = nullptr;
  }
};

TEST_P(CaptureStream, EveryPacketTheCardRecordedReachesTheHostOnceAndInOrder) {
  const std::uint32_t rate = GetParam();
  const std::int64_t wanted = rate == 0 ? 40000 : 6000;
  SimSetPacing(rate);
  Entries().set_callback(CheckPacket);
  ASSERT_EQ(Entries().open(), 0);
  EXPECT_EQ(SimRecording(), 0);
  SimSetRecording(1);
  ASSERT_TRUE(check->WaitFor(wanted));
  SimSetRecording(0);
  ASSERT_EQ(Entries().close(), 0);

  std::lock_guard<std::mutex> hold(check->mutex);
  EXPECT_EQ(check->packets, SimGeneratedPackets());
  EXPECT_GE(check->packets, wanted);
  EXPECT_EQ(check->bad_length, 0);
  EXPECT_EQ(check->continuity_errors, 0);
  EXPECT_EQ(check->order_errors, 0);
  EXPECT_GT(check->elementary, wanted / 2);
  EXPECT_TRUE(check->pat_seen);
  EXPECT_EQ(check->service_names,
            (std::set<std::string>{"Morvalind One", "Morvalind Two", "Morvalind Radio"}));
}

INSTANTIATE_TEST_SUITE_P(Pacing, CaptureStream,
                         ::testing::Values(0U /* unpaced */, 38014705U /* DVB-S */));

TEST_F(CaptureStream, NothingIsReadWhileRecordingIsOff) {
  Entries().set_callback(CheckPacket);
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
