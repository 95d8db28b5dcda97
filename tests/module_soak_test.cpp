// Capture under load: the stand-in card streams at the highest DVB-S rate and
// unpaced while the host's thread keeps tuning, polling the signal and sending
// DiSEqC messages. Every packet the card recorded reaches the host once, in
// order, with unbroken continuity counters, and the heap stays where it stood
// after the first round.
//
// Each run lasts 2 s; MORVALIND_SOAK_SECONDS sets a longer one.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "platform/testing.h"
#include "tests/support/heap_in_use.h"
#include "tests/support/module_fixture.h"
#include "tests/support/stream_check.h"
#include "tests/support/tuning_records.h"

namespace {

StreamCheck* soak = nullptr;

double SoakSeconds() {
  const char* text = std::getenv("MORVALIND_SOAK_SECONDS");
  const double seconds = text != nullptr ? std::atof(text) : 0.0;
  return seconds > 0.0 ? seconds : 2.0;
}

// 45 MSym/s at rate 7/8: the most a DVB-S transponder carries.
constexpr std::uint32_t kHighestDvbsRate = 72576000;
constexpr std::int64_t kPacketsPerRound = 500;
// The stand-in card's three journals, full, hold about 60 KB; everything else
// a round allocates is given back. Growth beyond this is a leak.
constexpr std::int64_t kHeapGrowthLimit = std::int64_t{256} * 1024;

class Soak : public ModuleTest, public ::testing::WithParamInterface<std::uint32_t> {
 protected:
  void SetUp() override {
    ModuleTest::SetUp();
    soak = new StreamCheck;
    StreamCheck::Current() = soak;
  }
  void TearDown() override {
    ModuleTest::TearDown();
    PlatformHoldClock(0);
    delete soak;
    soak = nullptr;
  }
};

TEST_P(Soak, NoPacketIsLostDuplicatedOrReorderedWhileTheHostKeepsUsingTheCard) {
  SimSetPacing(GetParam());
  SimSetLockPolls(1);
  Entries().set_callback(StreamCheck::Callback);
  ASSERT_EQ(Entries().open(), 0);
  TuningRecord tuning = LineupRecord(0);
  ASSERT_EQ(Entries().tune(&tuning), 0);
  ASSERT_TRUE(soak->WaitFor(1));

  DiseqcMessage diseqc = DiseqcOf(kCommittedPort1, sizeof kCommittedPort1);
  std::int64_t tunes = 0;
  std::int64_t polls = 0;
  std::int64_t messages = 0;
  std::int64_t heap_after_first_round = 0;
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
    if (++tunes == 1) {
      heap_after_first_round = HeapInUse();
    }
  }
  const std::int64_t heap_at_end = HeapInUse();
  PlatformHoldClock(1);  // close waits for the capture thread's own end
  ASSERT_EQ(Entries().close(), 0);

  std::lock_guard<std::mutex> hold(soak->mutex);
  std::printf("soak at %u bit/s: %lld packets, %lld tunes, %lld signal polls, %lld DiSEqC\n",
              GetParam(), static_cast<long long>(soak->packets), static_cast<long long>(tunes),
              static_cast<long long>(polls), static_cast<long long>(messages));
  std::printf("heap in use: %lld KB after the first round, %lld KB at the end\n",
              static_cast<long long>(heap_after_first_round / 1024),
              static_cast<long long>(heap_at_end / 1024));
  EXPECT_EQ(soak->packets, SimGeneratedPackets());  // none lost, none twice
  EXPECT_EQ(soak->bad_packets, 0);
  EXPECT_EQ(soak->continuity_errors, 0);
  EXPECT_EQ(soak->order_errors, 0);
  EXPECT_GT(soak->numbered, soak->packets / 2);
  EXPECT_GT(tunes, 0);
  EXPECT_LT(heap_at_end - heap_after_first_round, kHeapGrowthLimit);
}

INSTANTIATE_TEST_SUITE_P(Rates, Soak, ::testing::Values(kHighestDvbsRate, 0U /* unpaced */),
                         [](const ::testing::TestParamInfo<std::uint32_t>& rate) {
                           return rate.param == 0 ? std::string("Unpaced")
                                                  : std::string("HighestDvbsRate");
                         });

}  // namespace
