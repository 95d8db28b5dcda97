// A recording made by ffmpeg's own muxer, played by the stand-in card as a
// transponder of its lineup file and read unpaced, reaches the host's callback
// through the module whole: every packet, in order, byte for byte up to the
// loop point and carried on after it (tests/support/replay_check.h); so does
// the same recording with 204-byte packets or a truncated last packet. A
// lineup file that cannot be used keeps the card from opening and says why,
// briefly; the knobs it sets act as the control panel's. What the card keeps
// of a recording does not grow with its PCRs.
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <bitstream/mpeg/ts.h>

#include "tests/support/heap_in_use.h"
#include "tests/support/message_boxes.h"
#include "tests/support/module_fixture.h"
#include "tests/support/replay_check.h"

namespace {

// Made by ffmpeg when the tests are built (tests/CMakeLists.txt): 1.2 s of
// picture and two tones at 3 Mbit/s, two services.
const std::string kRecording = MORVALIND_REPLAY_RECORDING;
constexpr double kRecordingSeconds = 1.2;
const std::string kWork = MORVALIND_REPLAY_WORK;

struct Collector {
  static constexpr std::size_t kKept = 20000;
  std::mutex mutex;
  std::condition_variable arrived;
  std::vector<TsPacket> packets;  // the first kKept
  std::int64_t count = 0;
};
Collector* collector = nullptr;

std::int32_t MV_STDCALL Collect(const std::uint8_t* packet, std::int32_t length) {
  std::lock_guard<std::mutex> hold(collector->mutex);
  ++collector->count;
  if (length == 188 && collector->packets.size() < Collector::kKept) {
    collector->packets.emplace_back();
    std::memcpy(collector->packets.back().data(), packet, 188);
  }
  collector->arrived.notify_all();
  return 0;
}

std::string Write(const std::string& name, const std::string& bytes) {
  std::string path = kWork + "/" + name;
  std::FILE* file = std::fopen(path.c_str(), "wb");
  EXPECT_NE(file, nullptr) << path;
  if (file != nullptr) {
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
  }
  return path;
}

std::string LineupError() {
  char text[1024];
  SimLineupError(text, sizeof text);
  return text;
}

enum class Form { kAsWritten, kDvbPackets, kTruncated };

class Replay : public ModuleTest, public ::testing::WithParamInterface<Form> {
 protected:
  void SetUp() override {
    ModuleTest::SetUp();
    recording_ = ReadPackets(kRecording);
    if (recording_.empty()) {
      GTEST_SKIP() << "no recording to replay (ffmpeg makes it): " << kRecording;
    }
  }

  // The recording as a file of the given form.
  std::string RecordingAs(Form form) const {
    if (form == Form::kAsWritten) {
      return kRecording;
    }
    std::string bytes;
    for (const TsPacket& packet : recording_) {
      bytes.append(packet.begin(), packet.end());
      if (form == Form::kDvbPackets) {
        bytes.append(16, '\x5A');  // where a card keeps the Reed-Solomon parity
      }
    }
    if (form == Form::kTruncated) {
      bytes.append(recording_[0].begin(), recording_[0].begin() + 100);
    }
    return Write(form == Form::kDvbPackets ? "recording-204.ts" : "recording-truncated.ts", bytes);
  }

  // The card's journal and signal figures over open, tune, signal and close.
  static std::string Session() {
    std::string seen;
    EXPECT_EQ(Entries().open(), 0);
    const TuningRecord record = LineupRecord(2);
    EXPECT_EQ(Entries().tune(&record), 0);
    SignalRecord signal{};
    TuningRecord current{};
    EXPECT_EQ(Entries().get_signal(&signal, &current), 0);
    EXPECT_EQ(Entries().close(), 0);
    for (const std::string& line : Journal()) {
      seen += line + "\n";
    }
    return seen + "strength " + std::to_string(signal.strength) + ", quality " +
           std::to_string(signal.quality);
  }

  std::vector<TsPacket> recording_;
};

TEST_P(Replay, EveryPacketOfTheRecordingArrivesInOrderAcrossTheLoops) {
  const std::string lineup =
      Write("unpaced.json", R"({"rate": 0, "transponders": [{"frequency": 11778,
        "polarity": "V", "file": ")" +
                                RecordingAs(GetParam()) + "\"}]}");
  ASSERT_EQ(SimLoadLineup(lineup.c_str()), 0) << LineupError();
  Collector packets;
  collector = &packets;
  Entries().set_callback(Collect);
  ASSERT_EQ(Entries().open(), 0);
  const TuningRecord record = LineupRecord(2);  // 11778 MHz V
  ASSERT_EQ(Entries().tune(&record), 0);
  const std::size_t wanted = recording_.size() * 7 / 2;
  {
    std::unique_lock<std::mutex> hold(packets.mutex);
    ASSERT_TRUE(packets.arrived.wait_for(hold, std::chrono::seconds(30),
                                         [&] { return packets.packets.size() >= wanted; }));
  }
  CloseWhileCapturing();
  collector = nullptr;

  const ReplayComparison result = CompareReplay(recording_, packets.packets, 0);
  std::printf("%s\n", result.Summary().c_str());
  EXPECT_TRUE(result.Clean()) << result.Summary();
  EXPECT_EQ(result.compared, static_cast<std::int64_t>(packets.packets.size()));
  EXPECT_EQ(result.identical, static_cast<std::int64_t>(recording_.size()));
  EXPECT_EQ(result.carried_on, result.compared - result.identical);
  EXPECT_GE(result.loops, 3);
  EXPECT_EQ(packets.count, SimGeneratedPackets());
  // A loop lasts what a pass of the recording does: pictures and sound go on
  // without a gap.
  EXPECT_NEAR(static_cast<double>(result.loop_ticks) / 27e6, kRecordingSeconds, 0.02);
}

INSTANTIATE_TEST_SUITE_P(Recordings, Replay,
                         ::testing::Values(Form::kAsWritten, Form::kDvbPackets, Form::kTruncated),
                         [](const ::testing::TestParamInfo<Form>& form) {
                           return form.param == Form::kAsWritten    ? std::string("AsWritten")
                                  : form.param == Form::kDvbPackets ? std::string("DvbPackets")
                                                                    : std::string("Truncated");
                         });

TEST_F(Replay, ALineupFileThatCannotBeUsedKeepsTheCardFromOpeningAndSaysWhy) {
  std::string text;
  for (int i = 0; i < 100; ++i) {
    text += "This is a letter, not a transport stream.\n";
  }
  Write("letter.ts", text);
  Write("empty.ts", "");
  std::string services;
  for (int i = 0; i < 1001; ++i) {
    services +=
        std::string(i == 0 ? "" : ",") + R"({"id": 1, "name": "S", "pmt": 256, "audio": 257})";
  }
#ifdef _WIN32
  const std::string device = R"(\\\\.\\NUL)";  // as JSON writes \\.\NUL
#else
  const std::string device = "/dev/null";
  const std::string fifo = kWork + "/fifo.ts";
  std::remove(fifo.c_str());
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
#endif
  const struct {
    std::string lineup;
    std::string said;
  } cases[] = {
      {R"({"replay": "letter.ts"})", "letter.ts\" is not a transport stream"},
      {R"({"transponders": [{"frequency": 11778, "polarity": "V", "file": "gone.ts"}]})",
       "transponder 11778 V: \"" + kWork + "/gone.ts\" cannot be opened"},
      {R"({"replay": "empty.ts"})", "empty.ts\" is empty"},
      {"{\n  \"rate\": 0,\n}", "line 3, column 1"},
      {R"({"lock_pols": 3})", "unknown key \"lock_pols\""},
      {R"({"transponders": [{"frequency": 11778, "polarity": "V", "fec": "4/5"}]})",
       "transponders[0].fec: \"4/5\" is not one of"},
      {R"({"transponders": [{"frequency": 11778, "polarity": "V", "services": [)" + services +
           "]}]}",
       "transponders[0].services: 1001 services: a transponder carries at most 1000"},
      {"{\"" + std::string(100000, 'k') + "\": 1}", "unknown key \"kkkk"},
      {R"({"replay": ")" + device + "\"}", "is a character device, not a regular file"},
#ifndef _WIN32
      {R"({"replay": "fifo.ts"})", "fifo.ts\" is a FIFO, not a regular file"},
#endif
  };
  for (const auto& bad : cases) {
    const std::string lineup = Write("bad.json", bad.lineup);
    MessageBoxWatcher boxes;
    EXPECT_EQ(SimLoadLineup(lineup.c_str()), -1) << bad.lineup;
    EXPECT_NE(LineupError().find(bad.said), std::string::npos) << LineupError();
    EXPECT_EQ(LineupError().rfind("lineup file \"" + lineup + "\": ", 0), 0U) << LineupError();
    EXPECT_LT(SimLineupError(nullptr, 0), 400) << LineupError();
    EXPECT_NE(Entries().open(), 0) << bad.lineup;
    ASSERT_EQ(boxes.Shown().size(), 1U) << bad.lineup;
    EXPECT_EQ(boxes.Shown()[0].text, "OpenDevice not successful");
  }
#ifndef _WIN32
  std::remove(fifo.c_str());
#endif
  SimReset();
  EXPECT_EQ(SimLineupError(nullptr, 0), 0);
}

TEST_F(Replay, TheKnobsOfTheLineupFileActAsTheControlPanelsDo) {
  const std::string lineup = Write("knobs.json", R"(// a card with a weak 11778 V
    {"lock_polls": 5,
     "transponders": [{"frequency": 11778, "polarity": "V", "level": 55,
                       "bit_error_rate": 1e-3}]})");
  const std::string as_built = Session();
  SimReset();
  SimSetLockPolls(5);
  SimSetTransponderSignal(2, 55, 1e-3);
  const std::string by_panel = Session();
  ASSERT_EQ(SimLoadLineup(lineup.c_str()), 0) << LineupError();
  EXPECT_EQ(Session(), by_panel);
  EXPECT_NE(by_panel, as_built);
}

#ifndef _WIN32
TEST_F(Replay, ARecordingThatBecameAFifoDoesNotHoldUpTheTune) {
  std::string bytes;
  for (const TsPacket& packet : recording_) {
    bytes.append(packet.begin(), packet.end());
  }
  std::remove((kWork + "/becomes-fifo.ts").c_str());  // the FIFO of a run before
  const std::string path = Write("becomes-fifo.ts", bytes);
  const std::string lineup = Write("becomes-fifo.json", R"({"replay": "becomes-fifo.ts"})");
  ASSERT_EQ(SimLoadLineup(lineup.c_str()), 0) << LineupError();
  std::remove(path.c_str());
  ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
  ASSERT_EQ(Entries().open(), 0);
  const TuningRecord record = LineupRecord(2);
  EXPECT_EQ(Entries().tune(&record), 0);
  EXPECT_EQ(Entries().close(), 0);
  std::remove(path.c_str());
}
#endif

// A PCR in every packet: twenty times the packets cost no more to keep.
TEST_F(Replay, WhatTheCardKeepsOfARecordingDoesNotGrowWithItsPcrs) {
  const auto write = [](const std::string& name, int count) {
    std::string bytes;
    TsPacket packet{};
    for (int i = 0; i < count; ++i) {
      ts_init(packet.data());
      ts_set_pid(packet.data(), 0x100);
      ts_set_adaptation(packet.data(), TS_SIZE - TS_HEADER_SIZE - 1);
      tsaf_set_pcr(packet.data(), static_cast<std::uint64_t>(i) * 200);
      bytes.append(packet.begin(), packet.end());
    }
    Write(name + ".ts", bytes);
    return Write(name + ".json", R"({"replay": ")" + name + ".ts\"}");
  };
  const std::string small = write("pcrs-2000", 2000);
  const std::string large = write("pcrs-40000", 40000);
  ASSERT_EQ(SimLoadLineup(small.c_str()), 0) << LineupError();
  const std::int64_t kept_small = HeapInUse();
  ASSERT_EQ(SimLoadLineup(large.c_str()), 0) << LineupError();
  const std::int64_t kept_large = HeapInUse();
  EXPECT_LT(kept_large - kept_small, 64 * 1024);
}

}  // namespace
