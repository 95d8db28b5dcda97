// DiSEqC and LNB control through the loaded module, on the stand-in card's
// dish: modes and bursts, the LNB supply byte, the two routes of a message by
// its length, the committed switch choosing a satellite, and a positioner
// drive that switches recording off until the next tune.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "tests/support/module_fixture.h"

namespace {

using Strings = std::vector<std::string>;

// A host DiSEqC record with room for seven message bytes.
struct Message {
  DiseqcRecord record;
  std::uint8_t more[4];
};

Message Make(std::vector<std::uint8_t> bytes) {
  Message message;
  std::memset(&message, 0, sizeof message);
  message.record.length = static_cast<std::uint8_t>(bytes.size());
  if (!bytes.empty()) {
    std::memcpy(message.record.message, bytes.data(), bytes.size());
  }
  return message;
}

const std::vector<std::uint8_t> kSwitchPort2 = {0xE0, 0x10, 0x38, 0xF4};

class Diseqc : public ModuleTest {
 protected:
  static void OpenVendorMode() {
    SimBusSetRegister(0x1E, 0xE0);
    ASSERT_EQ(Entries().open(), 0);
    SimJournalClear();
    SimBusJournalClear();
  }
  static void OpenDirectMode() {
    ASSERT_EQ(Entries().open(), 0);
    SimJournalClear();
    SimBusJournalClear();
  }
  static std::int32_t Send(std::vector<std::uint8_t> bytes, std::uint32_t mode) {
    Message message = Make(std::move(bytes));
    return Entries().send_diseqc(&message.record, mode);
  }
  static Strings BusWritesTo(const std::string& device) {
    Strings lines;
    for (const std::string& line : BusJournal()) {
      if (line.rfind("write " + device, 0) == 0) {
        lines.push_back(line);
      }
    }
    return lines;
  }
};

TEST_F(Diseqc, ModesChooseTheBurstAndOutOfRangeModesSendNothing) {
  OpenVendorMode();
  EXPECT_EQ(Send(kSwitchPort2, 3), 2);
  EXPECT_EQ(Send(kSwitchPort2, 0xFFFFFFFF), 2);
  EXPECT_TRUE(Journal().empty());
  EXPECT_TRUE(DishJournal().empty());

  EXPECT_EQ(Send(kSwitchPort2, 0), 0);
  EXPECT_EQ(SimDishSatellite(), 1);
  EXPECT_EQ(Send({0xE0, 0x10, 0x38, 0xF0}, 2), 0);  // burst B, then switch port 1
  EXPECT_EQ(SimDishSatellite(), 0);
  EXPECT_EQ(Send({0xE0, 0x10, 0x38, 0xFC}, 1), 0);  // burst A, then port 4: nothing there
  EXPECT_EQ(SimDishSatellite(), -1);
  EXPECT_EQ(
      JournalOf("SendDiSEqCMsg"),
      (Strings{
          "CDVBFrontend::SendDiSEqCMsg(E0 10 38 F4 4, 255)", "CDVBFrontend::SendDiSEqCMsg(0, 1)",
          "CDVBFrontend::SendDiSEqCMsg(E0 10 38 F0 4, 255)", "CDVBFrontend::SendDiSEqCMsg(0, 0)",
          "CDVBFrontend::SendDiSEqCMsg(E0 10 38 FC 4, 255)"}));
  EXPECT_EQ(DishJournal(),
            (Strings{"message E0 10 38 F4: switch port 2 -> Lumenor 4", "burst B -> Lumenor 4",
                     "message E0 10 38 F0: switch port 1 -> Kestrava 1", "burst A -> Kestrava 1",
                     "message E0 10 38 FC: switch port 4 -> no satellite"}));
}

TEST_F(Diseqc, AFailingBurstSendsNeitherLnbByteNorMessage) {
  OpenDirectMode();
  SimSetResult(SIM_STEP_SEND_DISEQC, 1);
  EXPECT_EQ(Send(kSwitchPort2, 2), 1);
  EXPECT_EQ(JournalOf("SendDiSEqCMsg"), Strings{"CDVBFrontend::SendDiSEqCMsg(0, 1)"});
  EXPECT_TRUE(BusJournal().empty());
  EXPECT_TRUE(DishJournal().empty()) << "a refused burst reaches nothing";
  EXPECT_EQ(SimDishSatellite(), 0);
}

TEST_F(Diseqc, DirectModeSetsTheLnbSupplyFromTheLastTunedPolarity) {
  OpenDirectMode();
  ASSERT_EQ(Send(kSwitchPort2, 0), 0);  // satellite 1
  const struct {
    int entry;
    std::uint8_t polarity;
    Strings writes;
    int voltage;
  } cases[] = {
      {4, 0, {"write 10 0C"}, 18},  // horizontal
      {5, 1, {"write 10 04"}, 13},  // vertical
      {5, 2, {}, 13},               // vertical to the tuner, left alone here
  };
  for (const auto& entry : cases) {
    TuningRecord record = LineupRecord(entry.entry);
    record.polarity = entry.polarity;
    ASSERT_EQ(Entries().tune(&record), 0) << entry.entry;
    SimBusJournalClear();
    EXPECT_EQ(Send(kSwitchPort2, 0), 0);
    EXPECT_EQ(BusWritesTo("10"), entry.writes) << int{entry.polarity};
    EXPECT_EQ(SimLnbVoltage(), entry.voltage);
  }
}

TEST_F(Diseqc, MessageLengthChoosesTheRouteInDirectModeOnly) {
  const std::vector<std::uint8_t> seven = {0xE0, 0x31, 0x60, 0x01, 0x02, 0x03, 0x04};
  OpenDirectMode();
  for (const std::size_t length : {0U, 4U, 5U, 6U, 7U}) {
    SimJournalClear();
    SimBusJournalClear();
    const std::vector<std::uint8_t> bytes(seven.begin(),
                                          seven.begin() + static_cast<std::ptrdiff_t>(length));
    EXPECT_EQ(Send(bytes, 0), length == 7 ? 1 : 0) << length;
    const Strings demodulator = BusWritesTo("1C");
    if (length <= 4) {
      EXPECT_EQ(JournalOf("SendDiSEqCMsg").size(), 1U) << length;
      EXPECT_TRUE(demodulator.empty()) << length;
    } else if (length == 7) {
      EXPECT_TRUE(JournalOf("SendDiSEqCMsg").empty());
      EXPECT_TRUE(demodulator.empty()) << "refused before any register traffic";
    } else {
      EXPECT_TRUE(JournalOf("SendDiSEqCMsg").empty()) << length;
      ASSERT_EQ(demodulator.size(), length + 2) << length;  // bytes, start, restore
      EXPECT_EQ(demodulator[length], length == 5 ? "write 1C 36 48" : "write 1C 36 58");
    }
  }
  ASSERT_EQ(Entries().close(), 0);

  OpenVendorMode();
  for (const std::size_t length : {0U, 4U, 5U, 6U, 7U}) {
    SimJournalClear();
    const std::vector<std::uint8_t> bytes(seven.begin(),
                                          seven.begin() + static_cast<std::ptrdiff_t>(length));
    EXPECT_EQ(Send(bytes, 0), 0) << length;
    const Strings sent = JournalOf("SendDiSEqCMsg");
    ASSERT_EQ(sent.size(), 1U);
    EXPECT_NE(sent[0].find(std::to_string(length) + ", 255)"), std::string::npos) << sent[0];
  }
  EXPECT_TRUE(BusJournal().empty());
}

TEST_F(Diseqc, TheSwitchChoosesWhichSatellitesTranspondersLock) {
  OpenVendorMode();
  ASSERT_EQ(Send(kSwitchPort2, 0), 0);
  const TuningRecord on_satellite_1 = LineupRecord(5);
  EXPECT_EQ(Entries().tune(&on_satellite_1), 0);
  EXPECT_EQ(SimLockedTransponder(), 5);
  const TuningRecord on_satellite_0 = LineupRecord(2);  // same polarity and band
  EXPECT_EQ(Entries().tune(&on_satellite_0), 1);
  EXPECT_EQ(SimRecording(), 0);
  EXPECT_EQ(SimLockedTransponder(), -1);
}

TEST_F(Diseqc, APositionerDriveLosesTheSignalAndStopsRecordingUntilTheNextTune) {
  OpenDirectMode();
  const TuningRecord home = LineupRecord(1);
  ASSERT_EQ(Entries().tune(&home), 0);
  ASSERT_EQ(SimRecording(), 1);

  // Five bytes through the demodulator's registers: drive to 17.6 E.
  ASSERT_EQ(Send({0xE0, 0x31, 0x6E, 0xD1, 0x1A}, 0), 0);
  EXPECT_EQ(SimRecording(), 0);
  EXPECT_EQ(SimDishSatellite(), -1) << "on the move";
  SignalRecord signal{};
  TuningRecord copy{};
  ASSERT_EQ(Entries().get_signal(&signal, &copy), 0);
  EXPECT_EQ(signal.locked, 0);

  // The lock wait covers the travel; the dish arrives at the other satellite.
  SimJournalClear();
  const TuningRecord there = LineupRecord(4);
  EXPECT_EQ(Entries().tune(&there), 0);
  EXPECT_EQ(SimRecording(), 1);
  EXPECT_EQ(SimDishSatellite(), 1);
  EXPECT_EQ(JournalOf("GetState").size(), 7U)
      << "the sixth poll finds it arrived, the seventh locks";

  // Four bytes through the library: back to stored position 1.
  ASSERT_EQ(Send({0xE0, 0x31, 0x6B, 0x01}, 0), 0);
  EXPECT_EQ(SimRecording(), 0);
  EXPECT_EQ(Entries().tune(&home), 0);
  EXPECT_EQ(SimDishSatellite(), 0);

  const Strings dish = DishJournal();
  EXPECT_NE(
      std::find(dish.begin(), dish.end(), "message E0 31 6E D1 1A: positioner to 17.6 E, 7 polls"),
      dish.end());
  EXPECT_NE(std::find(dish.begin(), dish.end(),
                      "message E0 31 6B 01: positioner to stored position 1, 7 polls"),
            dish.end());
  EXPECT_NE(std::find(dish.begin(), dish.end(), "positioner arrived at 11.4 E -> Kestrava 1"),
            dish.end());
}

TEST_F(Diseqc, TheCommandByteIsReadAtOffsetSevenWhateverTheLength) {
  OpenVendorMode();
  const TuningRecord record = LineupRecord(0);
  ASSERT_EQ(Entries().tune(&record), 0);
  Message message = Make({0xE0, 0x31});
  message.record.message[2] = 0x6E;  // beyond the message's length
  EXPECT_EQ(Entries().send_diseqc(&message.record, 0), 0);
  EXPECT_EQ(SimRecording(), 0);
  EXPECT_EQ(SimDishSatellite(), 0) << "the dish heard two bytes and did not move";

  ASSERT_EQ(Entries().tune(&record), 0);
  SimSetResult(SIM_STEP_SEND_DISEQC, 1);
  EXPECT_EQ(Send({0xE0, 0x31, 0x6B, 0x02}, 0), 1);
  EXPECT_EQ(SimRecording(), 1) << "a failed drive command leaves recording on";
}

}  // namespace
