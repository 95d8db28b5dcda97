// Capture under load: the stand-in card streams at the highest DVB-S rate and
// unpaced while the host's thread keeps tuning, polling the signal and sending
// DiSEqC messages. Every packet the card recorded reaches the host once, in
// order, with unbroken continuity counters.
//
// Each run lasts 2 s; MORVALIND_SOAK_SECONDS sets a longer one.
#include <bitstream/mpeg/ts.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>

#include "platform/testing.h"
#include "tests/support/module_fixture.h"
#include "tests/support/tuning_records.h"

namespace {

// Counts and checks every packet on the capture thread.
struct SoakCheck {
  std::mutex mutex;
  std::condition_variable arrived;
  std::int64_t packets = 0;
  std::int64_t bad_packets = 0;  // wrong length or no sync byte
  std::int64_t continuity_errors = 0;
  std::int64_t order_errors = 0;
  std::int64_t numbered = 0;
  std::int64_t last_number = -1;
  std::map<std::uint16_t, std::uint8_t> last_continuity;

  void Take(const std::uint8_t* packet, std::int32_t length) {
    std::lock_guard<std::mutex> hold(mutex);
    ++packets;
    if (length != 188 || packet[0] != 0x47) {
      ++bad_packets;
      return;
    }
    const std::uint16_t pid = ts_get_pid(packet);
    const auto last = last_continuity.find(pid);
    if (last != last_continuity.end() && ts_get_cc(packet) != ((last->second + 1) & 0x0F)) {
      ++continuity_errors;
    }
    last_continuity[pid] = ts_get_cc(packet);
    // The lineup's audio and video PIDs sit one and two above their PMT's
    // (0x1000 + 0x100 t + 0x10 s); their packets end with the stream's
    // packet number, 32 bits big-endian.
    const unsigned kind = pid & 0x0F;
    if (pid >= 0x1000 && (kind == 1 || kind == 2)) {
      std::int64_t number = 0;
      for (int i = 184; i < 188; ++i) {
        number = (number << 8) | packet[i];
      }
      if (number <= last_number) {
        ++order_errors;
      }
      last_number = number;
      ++numbered;
    }
    arrived.notify_all();
  }

  bool WaitFor(std::int64_t count) {
    std::unique_lock<std::mutex> hold(mutex);
    return arrived.wait_for(hold, std::chrono::seconds(30), [&] { return packets >= count; });
  }
};

SoakCheck* soak = nullptr;

std::int32_t MV_STDCALL TakePacket(const std::uint8_t* packet, std::int32_t length) {
  soak->Take(packet, length);
  return 0;
}

double SoakSeconds() {
  const char* text = std::getenv("MORVALIND_SOAK_SECONDS");
  const double seconds = text != nullptr ? std::atof(text) : 0.0;
  return seconds > 0.0 ? seconds : 2.0;
}

// 45 MSym/s at rate 7/8: the most a DVB-S transponder carries.
constexpr std::uint32_t kHighestDvbsRate = 72576000;
constexpr std::int64_t kPacketsPerRound = 500;

class Soak : public ModuleTest, public ::testing::WithParamInterface<std::uint32_t> {
 protected:
  void SetUp() override {
    ModuleTest::SetUp();
    soak = new SoakCheck;
  }
  void TearDown() override {
    ModuleTest::TearDown();
#ifndef _WIN32
    PlatformHoldClock(0);
#endif
    delete soak;
    soak = nullptr;
  }
};

TEST_P(Soak, NoPacketIsLostDuplicatedOrReorderedWhileTheHostKeepsUsingTheCard) {
  SimSetPacing(GetParam());
  SimSetLockPolls(1);
  Entries().set_callback(TakePacket);
  ASSERT_EQ(Entries().open(), 0);
  TuningRecord tuning = TuningForLineup(0);
  ASSERT_EQ(Entries().tune(&tuning), 0);
  ASSERT_TRUE(soak->WaitFor(1));

  DiseqcMessage diseqc = DiseqcOf(kCommittedPort1, sizeof kCommittedPort1);
  std::int64_t tunes = 0;
  std::int64_t polls = 0;
  std::int64_t messages = 0;
  const auto end = std::chrono::steady_clock::now() +
                   std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                       std::chrono::duration<double>(SoakSeconds()));
  while (std::chrono::steady_clock::now() < end) {
    // Each round lets the stream run on for a while, so that the card records
    // between tunes (a tune switches recording off and on again).
    std::int64_t received = 0;
    {
      std::lock_guard<std::mutex> hold(soak->mutex);
      received = soak->packets;
    }
    ASSERT_TRUE(soak->WaitFor(received + kPacketsPerRound));
    SignalRecord signal{};
    TuningRecord current{};
    ASSERT_EQ(Entries().get_signal(&signal, &current), 0);
    ++polls;
    ASSERT_EQ(Entries().send_diseqc(&diseqc.record, 0), 0);  // port 1
    ASSERT_EQ(Entries().send_diseqc(&diseqc.record, 1), 0);  // burst A, then port 1
    messages += 2;
    ASSERT_EQ(Entries().tune(&tuning), 0);
    ++tunes;
  }
#ifndef _WIN32
  PlatformHoldClock(1);  // close waits for the capture thread's own end
#endif
  ASSERT_EQ(Entries().close(), 0);

  std::lock_guard<std::mutex> hold(soak->mutex);
  std::printf("soak at %u bit/s: %lld packets, %lld tunes, %lld signal polls, %lld DiSEqC\n",
              GetParam(), static_cast<long long>(soak->packets), static_cast<long long>(tunes),
              static_cast<long long>(polls), static_cast<long long>(messages));
  EXPECT_EQ(soak->packets, SimGeneratedPackets());  // none lost, none twice
  EXPECT_EQ(soak->bad_packets, 0);
  EXPECT_EQ(soak->continuity_errors, 0);
  EXPECT_EQ(soak->order_errors, 0);
  EXPECT_GT(soak->numbered, soak->packets / 2);
  EXPECT_GT(tunes, 0);
}

INSTANTIATE_TEST_SUITE_P(Rates, Soak, ::testing::Values(kHighestDvbsRate, 0U /* unpaced */),
                         [](const ::testing::TestParamInfo<std::uint32_t>& rate) {
                           return rate.param == 0 ? std::string("Unpaced")
                                                  : std::string("HighestDvbsRate");
                         });

}  // namespace
