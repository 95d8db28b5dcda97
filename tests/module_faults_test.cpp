// Faults: every vendor call and every bus transaction made to fail in turn
// during open, tune, signal and DiSEqC. Each entry answers its documented
// result, nothing crashes, and once the fault is gone a whole session runs as
// on a new card. Also the host's callback misbehaving while packets flow.
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/testing.h"
#include "tests/support/message_boxes.h"
#include "tests/support/module_fixture.h"
#include "tests/support/tuning_records.h"

namespace {

// The results of one session, and where the bus journal stood after each entry.
struct Session {
  std::int32_t open = -1;
  std::int32_t tune = -1;
  std::int32_t signal = -1;
  std::int32_t diseqc = -1;       // committed switch, port 1
  std::int32_t burst = -1;        // burst A, then the same message
  std::int32_t long_diseqc = -1;  // five bytes: through the registers in direct mode
  std::int32_t close = -1;
  std::vector<int> bus_after;  // bus journal size after each of the seven entries
  std::vector<std::string> boxes;

  bool operator==(const Session& other) const {
    return open == other.open && tune == other.tune && signal == other.signal &&
           diseqc == other.diseqc && burst == other.burst && long_diseqc == other.long_diseqc &&
           close == other.close && boxes == other.boxes;
  }
};

std::ostream& operator<<(std::ostream& out, const Session& session) {
  out << "open " << session.open << ", tune " << session.tune << ", signal " << session.signal
      << ", diseqc " << session.diseqc << "/" << session.burst << "/" << session.long_diseqc
      << ", close " << session.close << ", boxes";
  for (const std::string& box : session.boxes) {
    out << " \"" << box << "\"";
  }
  return out;
}

const Session kClean{0, 0, 0, 0, 0, 0, 0, {}, {}};

constexpr std::uint8_t kLongCommittedPort1[] = {0xE0, 0x10, 0x38, 0xF0, 0x00};

class Faults : public ModuleTest {
 protected:
  void SetUp() override {
    ModuleTest::SetUp();
    Prepare();
  }
  void TearDown() override {
    ModuleTest::TearDown();
    PlatformHoldClock(0);
  }

  // A card that locks at the first poll and records nothing to deliver, so
  // that close never waits on a delivery.
  static void Prepare() {
    SimSetLockPolls(1);
    SimSetGeneratedStream(0);
  }

  static Session RunSession() {
    Session session;
    MessageBoxWatcher watcher;
    PlatformHoldClock(0);  // the lock wait needs the clock to move
    const TuningRecord tuning = LineupRecord(2);
    DiseqcMessage diseqc = DiseqcOf(kCommittedPort1, sizeof kCommittedPort1);
    DiseqcMessage long_diseqc = DiseqcOf(kLongCommittedPort1, sizeof kLongCommittedPort1);
    SignalRecord signal{};
    TuningRecord current{};
    session.open = Entries().open();
    session.bus_after.push_back(SimBusJournalSize());
    session.tune = Entries().tune(&tuning);
    session.bus_after.push_back(SimBusJournalSize());
    session.signal = Entries().get_signal(&signal, &current);
    session.bus_after.push_back(SimBusJournalSize());
    session.diseqc = Entries().send_diseqc(&diseqc.record, 0);
    session.bus_after.push_back(SimBusJournalSize());
    session.burst = Entries().send_diseqc(&diseqc.record, 1);
    session.bus_after.push_back(SimBusJournalSize());
    session.long_diseqc = Entries().send_diseqc(&long_diseqc.record, 0);
    session.bus_after.push_back(SimBusJournalSize());
    PlatformHoldClock(1);  // close waits for the capture thread's own end
    session.close = Entries().close();
    session.bus_after.push_back(SimBusJournalSize());
    for (const ShownMessageBox& box : watcher.Shown()) {
      session.boxes.push_back(box.caption + ": " + box.text);
    }
    return session;
  }

  // The fault is gone: a whole session succeeds and makes the vendor calls a
  // session on a new card makes.
  static void ExpectCleanSession(const std::vector<std::string>& clean_journal,
                                 const std::string& fault) {
    // The bus journal runs on: a failure scripted for one of its lines stays
    // behind, among the lines already written.
    SimJournalClear();
    const Session again = RunSession();
    EXPECT_EQ(again, kClean) << "after " << fault;
    EXPECT_EQ(Journal(), clean_journal) << "after " << fault;
  }
};

Session Expected(std::int32_t open, std::int32_t tune, std::int32_t signal, std::int32_t diseqc,
                 std::int32_t burst, std::int32_t long_diseqc, std::int32_t close,
                 std::vector<std::string> boxes = {}) {
  return Session{open, tune, signal, diseqc, burst, long_diseqc, close, {}, std::move(boxes)};
}

TEST_F(Faults, EveryVendorCallFailingInTurnGivesItsEntrysResultAndLeavesNothingHalfDone) {
  const Session clean = RunSession();
  ASSERT_EQ(clean, kClean);
  const std::vector<std::string> clean_journal = Journal();

  struct Case {
    int step;
    std::int32_t failure;
    Session expected;
  };
  const std::string kError = "Error: ";
  const Case cases[] = {
      {SIM_STEP_INIT_DVB_API, 1, kClean},  // its result is not looked at
      {SIM_STEP_OPEN_DEVICE, 0,
       Expected(1, 1, 1, 1, 1, 1, 1, {kError + "OpenDevice not successful"})},
      {SIM_STEP_RESET_INIT, 1,
       Expected(1, 1, 1, 1, 1, 1, 1, {kError + "ResetInit not successful"})},
      {SIM_STEP_ENABLE_DATA_DMA, 1,
       Expected(1, 1, 1, 1, 1, 1, 1, {kError + "EnableDataDMA not successful"})},
      {SIM_STEP_FRONTEND_INIT, 1,
       Expected(1, 1, 1, 1, 1, 1, 1, {kError + "FrontendInit not successful"})},
      {SIM_STEP_CLOSE_DEVICE, 1, kClean},      // nothing to do about it at close
      {SIM_STEP_TS_RECORD_ON_OFF, 1, kClean},  // the switch's result is not looked at
      {SIM_STEP_SET_CHANNEL, 1, Expected(0, 1, 0, 0, 0, 0, 0)},
      {SIM_STEP_GET_STATE, 1, Expected(0, 1, 1, 0, 0, 0, 0)},  // no lock, no figures
      // The five-byte message goes through the registers in direct mode.
      {SIM_STEP_SEND_DISEQC, 1, Expected(0, 0, 0, 1, 1, 0, 0)},
  };
  for (const Case& c : cases) {
    SimJournalClear();
    SimSetResult(c.step, c.failure);
    const Session faulty = RunSession();
    EXPECT_EQ(faulty, c.expected) << "step " << c.step << " failing";
    EXPECT_EQ(SimLiveObjects(SIM_OBJECT_BOARD_CONTROL), 0) << "step " << c.step << " failing";
    EXPECT_EQ(SimLiveObjects(SIM_OBJECT_FRONTEND), 0) << "step " << c.step << " failing";
    SimSetResult(c.step, c.step == SIM_STEP_OPEN_DEVICE ? 1 : 0);
    ExpectCleanSession(clean_journal, "step " + std::to_string(c.step) + " failing");
  }
}

TEST_F(Faults, EveryBusTransactionFailingInTurnIsSurvivedAndForgotten) {
  const Session clean = RunSession();
  ASSERT_EQ(clean, kClean);
  const std::vector<std::string> clean_journal = Journal();
  const std::vector<int> bus_after = clean.bus_after;
  ASSERT_GT(bus_after.back(), 0) << "the stand-in card runs in direct mode";

  for (int line = 0; line < bus_after.back(); ++line) {
    SimReset();
    Prepare();
    SimBusFailLine(line);
    const Session faulty = RunSession();
    // Only the register path's long message reports a failed transaction (a
    // failed status read is taken as "still busy"); everything else goes on.
    const bool in_long_message = line >= bus_after[4] && line < bus_after[5];
    Session expected = kClean;
    if (in_long_message && faulty.long_diseqc == 1) {
      expected.long_diseqc = 1;
    }
    char text[80] = "";
    SimBusJournalLine(line, text, sizeof text);
    EXPECT_EQ(faulty, expected) << "bus transaction " << line << " failing: " << text;
    ExpectCleanSession(clean_journal, "bus transaction " + std::to_string(line) + " failing");
  }
  std::printf("%d bus transactions failed in turn\n", bus_after.back());
}

// The host's callback misbehaving while the stream flows.
struct Deliveries {
  std::mutex mutex;
  std::condition_variable changed;
  std::int64_t first = 0;
  std::int64_t second = 0;
  std::int32_t close_result = -1;
  bool release = false;  // lets a hanging callback go (never, in the test)

  bool WaitFor(std::int64_t Deliveries::*counter, std::int64_t count) {
    std::unique_lock<std::mutex> hold(mutex);
    return changed.wait_for(hold, std::chrono::seconds(30),
                            [&] { return this->*counter >= count; });
  }
};

Deliveries* deliveries = nullptr;
DeviceInterface module_entries{};

std::int32_t MV_STDCALL First(const std::uint8_t* /*packet*/, std::int32_t /*length*/) {
  std::lock_guard<std::mutex> hold(deliveries->mutex);
  ++deliveries->first;
  deliveries->changed.notify_all();
  return 0;
}

std::int32_t MV_STDCALL Second(const std::uint8_t* /*packet*/, std::int32_t /*length*/) {
  std::lock_guard<std::mutex> hold(deliveries->mutex);
  ++deliveries->second;
  deliveries->changed.notify_all();
  return 0;
}

// Closes the card at its first packet; the host calls no entry meanwhile.
std::int32_t MV_STDCALL Closing(const std::uint8_t* /*packet*/, std::int32_t /*length*/) {
  std::lock_guard<std::mutex> hold(deliveries->mutex);
  if (deliveries->first++ == 0) {
    deliveries->close_result = module_entries.close();
  }
  deliveries->changed.notify_all();
  return 0;
}

std::int32_t MV_STDCALL Hanging(const std::uint8_t* /*packet*/, std::int32_t /*length*/) {
  std::unique_lock<std::mutex> hold(deliveries->mutex);
  ++deliveries->first;
  deliveries->changed.notify_all();
  deliveries->changed.wait(hold, [] { return deliveries->release; });
  return 0;
}

class HostCallback : public ModuleTest {
 protected:
  void SetUp() override {
    ModuleTest::SetUp();
    deliveries = new Deliveries;
    module_entries = Entries();
    SimSetLockPolls(1);
  }
  void TearDown() override {
    ModuleTest::TearDown();
    PlatformHoldClock(0);
    // A callback that never returns keeps its record.
    if (deliveries->close_result != -2) {
      delete deliveries;
    }
    deliveries = nullptr;
  }

  // Opens and tunes with `callback` set, the unpaced stream flowing.
  static void OpenAndTune(StreamCallback callback) {
    SimSetPacing(0);
    Entries().set_callback(callback);
    ASSERT_EQ(Entries().open(), 0);
    const TuningRecord tuning = LineupRecord(0);
    ASSERT_EQ(Entries().tune(&tuning), 0);
  }

  static std::int32_t CloseWaitingForTheThread() {
    PlatformHoldClock(1);
    return Entries().close();
  }
};

TEST_F(HostCallback, ReplacedOrClearedWhilePacketsFlowEveryPacketGoesToOneCallbackAtMost) {
  OpenAndTune(First);
  ASSERT_TRUE(deliveries->WaitFor(&Deliveries::first, 1));
  Entries().set_callback(Second);
  ASSERT_TRUE(deliveries->WaitFor(&Deliveries::second, 1));
  Entries().set_callback(nullptr);
  Entries().set_callback(First);
  std::int64_t first = 0;
  {
    std::lock_guard<std::mutex> hold(deliveries->mutex);
    first = deliveries->first;
  }
  ASSERT_TRUE(deliveries->WaitFor(&Deliveries::first, first + 1));
  ASSERT_EQ(CloseWaitingForTheThread(), 0);
  std::lock_guard<std::mutex> hold(deliveries->mutex);
  EXPECT_LE(deliveries->first + deliveries->second, SimGeneratedPackets());
}

TEST_F(HostCallback, CloseFromInsideTheCallbackClosesTheCardAndTheNextSessionWorks) {
  // One packet alone: the capture thread has nothing more to deliver after it.
  SimSetGeneratedStream(0);
  const std::uint8_t packet[188] = {0x47};
  SimQueueChunk(packet, sizeof packet);
  OpenAndTune(Closing);
  ASSERT_TRUE(deliveries->WaitFor(&Deliveries::first, 1));
  {
    std::lock_guard<std::mutex> hold(deliveries->mutex);
    EXPECT_EQ(deliveries->close_result, 0);
  }
  // The capture thread deletes its worker on its way out; the card is closed.
  EXPECT_EQ(SimLiveObjects(SIM_OBJECT_BOARD_CONTROL), 0);
  EXPECT_EQ(Entries().close(), 1);
  SimSetGeneratedStream(1);
  OpenAndTune(First);
  std::int64_t first = 0;
  {
    std::lock_guard<std::mutex> hold(deliveries->mutex);
    first = deliveries->first;
  }
  ASSERT_TRUE(deliveries->WaitFor(&Deliveries::first, first + 1));
  EXPECT_EQ(CloseWaitingForTheThread(), 0);
}

TEST_F(HostCallback, ACallbackThatNeverReturnsDoesNotHoldUpCloseAndTheNextSessionWorks) {
  OpenAndTune(Hanging);
  ASSERT_TRUE(deliveries->WaitFor(&Deliveries::first, 1));
  // Close returns once its limit has passed (the clock runs); the thread is
  // left in the host's callback, not ended there.
  EXPECT_EQ(Entries().close(), 0);
  EXPECT_EQ(SimLiveObjects(SIM_OBJECT_BOARD_CONTROL), 0);
  Deliveries* stuck = deliveries;
  stuck->close_result = -2;  // still in use by the callback that never returns: never freed
  deliveries = new Deliveries;
  OpenAndTune(First);
  ASSERT_TRUE(deliveries->WaitFor(&Deliveries::first, 1));
  EXPECT_EQ(CloseWaitingForTheThread(), 0);
}

}  // namespace
