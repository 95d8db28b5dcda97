// Opening and closing the card: the start-up sequence, its failures, the
// close order, and the context left for the next open.
#include <string>
#include <vector>

#include "tests/support/message_boxes.h"
#include "tests/support/module_fixture.h"

namespace {

using Strings = std::vector<std::string>;
using OpenClose = ModuleTest;

const Strings kStartUp = {
    "CDVBBoardControl::CDVBBoardControl()",
    "CDVBFrontend::CDVBFrontend()",
    "InitDvbApiDll()",
    "CDVBCommon::OpenDevice(0, null, 0)",
    "CDVBBoardControl::ResetInit()",
    "CDVBBoardControl::EnableDataDMA(1)",
    "CDVBFrontend::Init()",
};

TEST_F(OpenClose, OpenRunsTheStartUpSequenceThenSwitchesRecordingOff) {
  MessageBoxWatcher boxes;
  ASSERT_EQ(Entries().open(), 0);
  Strings expected = kStartUp;
  expected.emplace_back("CDVBBoardControl::TSRecordOnOff(0)");
  EXPECT_EQ(Journal(), expected);
  EXPECT_TRUE(boxes.Shown().empty());
  EXPECT_EQ(SimLiveObjects(SIM_OBJECT_BOARD_CONTROL), 1);
  EXPECT_EQ(SimLiveObjects(SIM_OBJECT_FRONTEND), 1);
}

TEST_F(OpenClose, CloseSwitchesRecordingOffClosesTheDeviceThenDeletesTheObjects) {
  ASSERT_EQ(Entries().open(), 0);
  SimJournalClear();
  ASSERT_EQ(Entries().close(), 0);
  const Strings journal = Journal();
  ASSERT_FALSE(journal.empty());
  EXPECT_EQ(journal.front(), "CDVBBoardControl::TSRecordOnOff(0)");
  const Strings tail(journal.end() - 3, journal.end());
  EXPECT_EQ(tail, (Strings{"CDVBCommon::CloseDevice()", "CDVBFrontend::~CDVBFrontend()",
                           "CDVBBoardControl::~CDVBBoardControl()"}));
  for (const std::string& line : journal) {
    EXPECT_EQ(line.find("dead object"), std::string::npos) << line;
  }
  EXPECT_EQ(SimLiveObjects(SIM_OBJECT_BOARD_CONTROL), 0);
  EXPECT_EQ(SimLiveObjects(SIM_OBJECT_FRONTEND), 0);

  // Closed again: every card entry answers 1 and touches nothing.
  SimJournalClear();
  TuningRecord tuning{};
  tuning.primary_value = 11778000;
  SignalRecord signal{};
  DiseqcRecord diseqc{};
  EXPECT_EQ(Entries().close(), 1);
  EXPECT_EQ(Entries().tune(&tuning), 1);
  EXPECT_EQ(Entries().get_signal(&signal, &tuning), 1);
  EXPECT_EQ(Entries().send_diseqc(&diseqc, 0), 1);
  EXPECT_TRUE(Journal().empty());
}

TEST_F(OpenClose, OpenCloseOpenRunsTheWholeSequenceAgainWithNewObjects) {
  ASSERT_EQ(Entries().open(), 0);
  ASSERT_EQ(Entries().close(), 0);
  SimJournalClear();
  ASSERT_EQ(Entries().open(), 0);
  const Strings journal = Journal();
  ASSERT_GE(journal.size(), kStartUp.size());
  EXPECT_EQ(Strings(journal.begin(), journal.begin() + static_cast<long>(kStartUp.size())),
            kStartUp);
  EXPECT_EQ(SimConstructions(SIM_OBJECT_BOARD_CONTROL), 2);
  EXPECT_EQ(SimConstructions(SIM_OBJECT_FRONTEND), 2);
  EXPECT_EQ(SimLiveObjects(SIM_OBJECT_FRONTEND), 1);
}

TEST_F(OpenClose, OpenWhileOpenKeepsTheOneSetOfObjects) {
  ASSERT_EQ(Entries().open(), 0);
  SimJournalClear();
  EXPECT_EQ(Entries().open(), 0);
  EXPECT_EQ(SimConstructions(SIM_OBJECT_BOARD_CONTROL), 1);
  EXPECT_EQ(SimConstructions(SIM_OBJECT_FRONTEND), 1);
  EXPECT_TRUE(JournalOf("OpenDevice").empty());
  ASSERT_EQ(Entries().close(), 0);
  EXPECT_EQ(SimLiveObjects(SIM_OBJECT_FRONTEND), 0);
  EXPECT_EQ(Entries().close(), 1);
}

struct StartUpFailure {
  int step;
  std::int32_t result;  // what the failing step answers
  const char* message;
  const char* last_call;  // the failing call; nothing after it but the clean-up
  bool device_was_opened;
};

void PrintTo(const StartUpFailure& failure, std::ostream* out) { *out << failure.message; }

class StartUpFailures : public ModuleTest, public ::testing::WithParamInterface<StartUpFailure> {};

TEST_P(StartUpFailures, ShowOneBoxReturnOneAndKeepNothing) {
  const StartUpFailure& failure = GetParam();
  SimSetResult(failure.step, failure.result);
  {
    MessageBoxWatcher boxes;
    EXPECT_EQ(Entries().open(), 1);
    ASSERT_EQ(boxes.Shown().size(), 1U);
    EXPECT_EQ(boxes.Shown()[0].text, failure.message);
    EXPECT_EQ(boxes.Shown()[0].caption, "Error");
    EXPECT_TRUE(boxes.Shown()[0].ok_button_only);
    EXPECT_TRUE(boxes.Shown()[0].error_icon);
  }
  // The steps after the failing one are not run.
  Strings journal = Journal();
  std::size_t failing = 0;
  while (failing < journal.size() && journal[failing] != failure.last_call) {
    ++failing;
  }
  ASSERT_LT(failing, journal.size()) << failure.last_call;
  EXPECT_EQ(Strings(journal.begin(), journal.begin() + static_cast<long>(failing) + 1),
            Strings(kStartUp.begin(), kStartUp.begin() + static_cast<long>(failing) + 1));
  // What the failed open acquired is given back: the vendor device is closed
  // if it had been opened, and the objects are deleted.
  const Strings rest(journal.begin() + static_cast<long>(failing) + 1, journal.end());
  Strings clean_up;
  if (failure.device_was_opened) {
    clean_up.emplace_back("CDVBCommon::CloseDevice()");
  }
  clean_up.emplace_back("CDVBFrontend::~CDVBFrontend()");
  clean_up.emplace_back("CDVBBoardControl::~CDVBBoardControl()");
  EXPECT_EQ(rest, clean_up);
  EXPECT_EQ(SimLiveObjects(SIM_OBJECT_FRONTEND), 0);

  // The card stays closed, and a later open starts afresh and succeeds.
  TuningRecord tuning{};
  tuning.primary_value = 11778000;
  EXPECT_EQ(Entries().close(), 1);
  EXPECT_EQ(Entries().tune(&tuning), 1);
  SimSetResult(failure.step, failure.step == SIM_STEP_OPEN_DEVICE ? 1 : 0);
  EXPECT_EQ(Entries().open(), 0);
  EXPECT_EQ(SimLiveObjects(SIM_OBJECT_BOARD_CONTROL), 1);
  EXPECT_EQ(SimLiveObjects(SIM_OBJECT_FRONTEND), 1);
}

INSTANTIATE_TEST_SUITE_P(
    EachStep, StartUpFailures,
    ::testing::Values(StartUpFailure{SIM_STEP_OPEN_DEVICE, 0, "OpenDevice not successful",
                                     "CDVBCommon::OpenDevice(0, null, 0)", false},
                      StartUpFailure{SIM_STEP_RESET_INIT, 5, "ResetInit not successful",
                                     "CDVBBoardControl::ResetInit()", true},
                      StartUpFailure{SIM_STEP_ENABLE_DATA_DMA, -1, "EnableDataDMA not successful",
                                     "CDVBBoardControl::EnableDataDMA(1)", true},
                      StartUpFailure{SIM_STEP_FRONTEND_INIT, 1, "FrontendInit not successful",
                                     "CDVBFrontend::Init()", true}),
    [](const ::testing::TestParamInfo<StartUpFailure>& param) {
      const std::string message = param.param.message;
      return message.substr(0, message.find(' '));
    });

}  // namespace
