// Tuning and signal status through the loaded module, on the stand-in card's
// frontend: the channel words the card receives, lock within the poll limit,
// what a failed tune leaves behind, the register traffic of a direct-mode tune,
// the signal figures in both modes, and the stream of the tuned transponder.
#include <bitstream/mpeg/ts.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "tests/support/module_fixture.h"

namespace {

using Strings = std::vector<std::string>;

constexpr std::uint32_t kFlagNoFec = 1U << 0;
constexpr std::uint32_t kFlagWord1Two = 1U << 4;
constexpr std::uint32_t kFlagTristate = 1U << 20;

bool SameRecord(const TuningRecord& a, const TuningRecord& b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

class Tuning : public ModuleTest {
 protected:
  static TuningRecord EmptyFrequency() {
    TuningRecord record = LineupRecord(2);
    record.primary_value = 11900000;  // nothing there
    return record;
  }
  // Opens the card in vendor mode: the demodulator is not the supported one.
  static void OpenVendorMode() {
    SimBusSetRegister(0x1E, 0xE0);
    ASSERT_EQ(Entries().open(), 0);
  }
  static TuningRecord Signal(SignalRecord* signal) {
    TuningRecord copy;
    std::memset(&copy, 0xEE, sizeof copy);
    EXPECT_EQ(Entries().get_signal(signal, &copy), 0);
    return copy;
  }
};

TEST_F(Tuning, TheCardReceivesTheTranslatedChannelWords) {
  const struct {
    std::uint32_t flags;
    std::uint8_t polarity;
    std::uint32_t fec_code;
    std::uint32_t tristate;
    const char* words;  // as SetChannel's journal line shows them
  } cases[] = {
      {0, 1, 0x12, 0, "11778000 1 27500000 10600000 1 13 1 0 0"},
      {0, 0, 0x23, 1, "11778000 1 27500000 10600000 1 18 2 1 0"},
      {0, 2, 0x34, 2, "11778000 1 27500000 10600000 1 13 3 0 0"},
      {0, 1, 0x56, 7, "11778000 1 27500000 10600000 1 13 5 0 0"},
      {0, 1, 0x78, 0, "11778000 1 27500000 10600000 1 13 7 0 0"},
      {0, 1, 0x13, 0, "11778000 1 27500000 10600000 1 13 0 0 0"},
      {0, 1, 0, 0, "11778000 1 27500000 10600000 1 13 0 0 0"},
      {kFlagNoFec, 1, 0x34, 0, "11778000 1 27500000 10600000 1 13 0 0 0"},
      {kFlagWord1Two, 1, 0x34, 0, "11778000 2 27500000 10600000 1 13 3 0 0"},
      {kFlagTristate, 1, 0x34, 2, "11778000 1 27500000 10600000 1 13 3 1 0"},
      {kFlagTristate, 1, 0x34, 7, "11778000 1 27500000 10600000 1 13 3 1 0"},
      {kFlagTristate, 1, 0x34, 0, "11778000 1 27500000 10600000 1 13 3 0 0"},
  };
  // A refused SetChannel ends each tune at once: only the words are looked at.
  for (const auto& entry : cases) {
    SimSetFrontendFlags(entry.flags);
    ASSERT_EQ(Entries().open(), 0);
    SimSetResult(SIM_STEP_SET_CHANNEL, 1);
    SimJournalClear();
    TuningRecord record = LineupRecord(2);
    record.polarity = entry.polarity;
    record.fec_code = entry.fec_code;
    record.tristate_option = entry.tristate;
    EXPECT_EQ(Entries().tune(&record), 1);
    EXPECT_EQ(JournalOf("SetChannel"),
              Strings{std::string("CDVBFrontend::SetChannel(") + entry.words + ")"})
        << std::hex << entry.flags << " " << entry.fec_code;
    SimSetResult(SIM_STEP_SET_CHANNEL, 0);
    ASSERT_EQ(Entries().close(), 0);
  }
}

TEST_F(Tuning, ATuneLocksAtTheFirstPollThatReportsItAndSwitchesRecordingOn) {
  SimSetLockPolls(1);
  ASSERT_EQ(Entries().open(), 0);
  SimJournalClear();
  const TuningRecord record = LineupRecord(1);
  EXPECT_EQ(Entries().tune(&record), 0);
  EXPECT_EQ(JournalOf("GetState").size(), 1U);
  EXPECT_EQ(JournalOf("TSRecordOnOff"),
            (Strings{"CDVBBoardControl::TSRecordOnOff(0)", "CDVBBoardControl::TSRecordOnOff(1)"}));
  EXPECT_EQ(SimRecording(), 1);
  EXPECT_EQ(SimLockedTransponder(), 1);
}

#ifndef _WIN32  // 30 polls take 3 s of real time under Wine
TEST_F(Tuning, TheThirtiethPollStillCountsAndTheThirtyFirstDoesNot) {
  ASSERT_EQ(Entries().open(), 0);
  const TuningRecord record = LineupRecord(0);
  SimSetLockPolls(30);
  SimJournalClear();
  EXPECT_EQ(Entries().tune(&record), 0);
  EXPECT_EQ(JournalOf("GetState").size(), 30U);
  EXPECT_EQ(SimRecording(), 1);

  SimSetLockPolls(31);
  SimJournalClear();
  EXPECT_EQ(Entries().tune(&record), 1);
  EXPECT_EQ(JournalOf("GetState").size(), 31U);
  EXPECT_EQ(SimRecording(), 0);
  EXPECT_EQ(SimLockedTransponder(), 0) << "the card did lock, too late for the module";
}
#endif

TEST_F(Tuning, AFailedSetChannelKeepsThePreviousTransponderAndAFailedLockStoresTheNewOne) {
  ASSERT_EQ(Entries().open(), 0);
  // The module keeps the last transponder for the life of the process, across
  // closes: whatever an earlier test left is the starting point.
  SignalRecord signal{};
  const TuningRecord before = Signal(&signal);

  SimSetResult(SIM_STEP_SET_CHANNEL, 1);
  const TuningRecord first = LineupRecord(3);
  EXPECT_EQ(Entries().tune(&first), 1);
  EXPECT_TRUE(SameRecord(Signal(&signal), before));
  SimSetResult(SIM_STEP_SET_CHANNEL, 0);

  EXPECT_EQ(Entries().tune(&first), 0);
  EXPECT_TRUE(SameRecord(Signal(&signal), first)) << "passthrough words come back as they were";

  SimSetResult(SIM_STEP_SET_CHANNEL, 1);
  const TuningRecord second = LineupRecord(0);
  EXPECT_EQ(Entries().tune(&second), 1);
  EXPECT_TRUE(SameRecord(Signal(&signal), first));
  EXPECT_EQ(SimRecording(), 0);
  SimSetResult(SIM_STEP_SET_CHANNEL, 0);

  const TuningRecord empty = EmptyFrequency();
  EXPECT_EQ(Entries().tune(&empty), 1);
  EXPECT_TRUE(SameRecord(Signal(&signal), empty));
  EXPECT_EQ(SimRecording(), 0);
  EXPECT_EQ(SimLockedTransponder(), -1);
  EXPECT_EQ(signal.locked, 0);
  EXPECT_EQ(signal.strength, 0);
  EXPECT_EQ(signal.quality, 0);
}

TEST_F(Tuning, ADirectModeTuneFramesSetChannelWithRegisterWrites) {
  ASSERT_EQ(Entries().open(), 0);  // direct mode: the default card
  SimJournalClear();
  SimBusJournalClear();
  const TuningRecord record = LineupRecord(2);
  EXPECT_EQ(Entries().tune(&record), 0);
  EXPECT_EQ(BusJournal(), (Strings{"write 1C 02 35", "read 1C 10 -> 2A", "write 1C 10 6A",
                                   "read 1C 00 -> 00", "write 1C 00 00", "write 1C 02 00"}));
  const Strings vendor = Journal();
  ASSERT_EQ(vendor.size(), 5U);  // recording off, SetChannel, two polls, recording on
  EXPECT_EQ(SimBusJournalPosition(0), 1) << "after recording off, before SetChannel";
  for (int i = 1; i <= 4; ++i) {
    EXPECT_EQ(SimBusJournalPosition(i), 2) << "after SetChannel, before the first poll";
  }
  EXPECT_EQ(SimBusJournalPosition(5), 4) << "after the last poll, before recording on";
  EXPECT_EQ(vendor[4], "CDVBBoardControl::TSRecordOnOff(1)");

  // A tune that never locks leaves register 0x02 at 0x35.
  const TuningRecord empty = EmptyFrequency();
  EXPECT_EQ(Entries().tune(&empty), 1);
  EXPECT_EQ(SimBusRegister(0x02), 0x35);
  EXPECT_EQ(SimBusRegister(0x10), 0x6A);
}

TEST_F(Tuning, VendorModeReportsTheCardsLevelAndAGradeOfTheBitErrorRate) {
  OpenVendorMode();
  const TuningRecord record = LineupRecord(1);
  ASSERT_EQ(Entries().tune(&record), 0);
  const struct {
    int level;
    double bit_error_rate;
    int strength;
    int quality;
  } cases[] = {{74, 0.0, 74, 100}, {130, 0.0001, 130, 80}, {50, 0.05, 50, 40}, {9, 0.5, 9, 20}};
  for (const auto& entry : cases) {
    SimSetTransponderSignal(1, entry.level, entry.bit_error_rate);
    SignalRecord signal;
    std::memset(&signal, 0x77, sizeof signal);
    EXPECT_TRUE(SameRecord(Signal(&signal), record));
    EXPECT_EQ(signal.strength, entry.strength) << entry.bit_error_rate;
    EXPECT_EQ(signal.quality, entry.quality) << entry.bit_error_rate;
    EXPECT_EQ(signal.locked, 1);
    for (const std::uint8_t byte : signal.host_bytes) {
      EXPECT_EQ(byte, 0x77);
    }
  }
}

TEST_F(Tuning, DirectModeScalesTheLevelRegisterAndTheBitErrorRateLogarithmically) {
  ASSERT_EQ(Entries().open(), 0);
  const TuningRecord record = LineupRecord(3);
  ASSERT_EQ(Entries().tune(&record), 0);
  const struct {
    int level;
    double bit_error_rate;
    int strength;
    int quality;
  } cases[] = {{100, 0.0, 100, 100},
               {0, 1e-8, 0, 114},
               {87, 0.01, 87, 28},
               {62, 1e-6, 62, 85},
               {140, 2.0, 100, 252}};
  for (const auto& entry : cases) {
    SimSetTransponderSignal(3, entry.level, entry.bit_error_rate);
    SignalRecord signal;
    std::memset(&signal, 0x55, sizeof signal);
    Signal(&signal);
    EXPECT_EQ(signal.strength, entry.strength) << entry.level;
    EXPECT_EQ(signal.quality, entry.quality) << entry.bit_error_rate;
    EXPECT_EQ(signal.locked, 1);
    for (const std::uint8_t byte : signal.host_bytes) {
      EXPECT_EQ(byte, 0x55);
    }
  }
  // The strength comes from the demodulator's register, not the vendor level.
  SimBusSetRegister(0x1C, 204);
  SignalRecord signal{};
  Signal(&signal);
  EXPECT_EQ(signal.strength, 20);
}

// Collects the PIDs the host's callback receives, on the capture thread.
struct PidCollector {
  std::mutex mutex;
  std::condition_variable arrived;
  std::set<std::uint16_t> pids;
  std::int64_t packets = 0;
};
PidCollector* collector = nullptr;

std::int32_t MV_STDCALL CollectPid(const std::uint8_t* packet, std::int32_t length) {
  std::lock_guard<std::mutex> hold(collector->mutex);
  if (length == 188) {
    collector->pids.insert(ts_get_pid(packet));
  }
  ++collector->packets;
  collector->arrived.notify_all();
  return 0;
}

TEST_F(Tuning, TheCallbackReceivesTheTunedTransponderOwnServices) {
  PidCollector pids;
  collector = &pids;
  SimSetPacing(0);
  Entries().set_callback(CollectPid);
  ASSERT_EQ(Entries().open(), 0);
  const TuningRecord record = LineupRecord(2);  // four services: PMTs 0x1200..0x1203
  ASSERT_EQ(Entries().tune(&record), 0);
  {
    std::unique_lock<std::mutex> hold(pids.mutex);
    ASSERT_TRUE(pids.arrived.wait_for(hold, std::chrono::seconds(30),
                                      [&] { return pids.packets >= 3000; }));
  }
  CloseWhileCapturing();
  collector = nullptr;
  // The PAT, the NIT, the SDT, the PMTs and the services' streams.
  const std::set<std::uint16_t> expected = {0x0000, 0x0010, 0x0011, 0x1200, 0x1201, 0x1202, 0x1203,
                                            0x1211, 0x1212, 0x1221, 0x1222, 0x1232, 0x1241, 0x1242};
  EXPECT_EQ(pids.pids, expected);
}

}  // namespace
