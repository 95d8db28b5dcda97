// The Linux DVB card library (linuxdvb/) without an adapter: the channel
// words as DVB-S tuning, the level and bit-error-rate scales, the adapter
// selector, whole packets out of reads; and the native module binding to the
// library in vendor mode, failing to open cleanly where there is no adapter.
// Its work on a real driver is proven in a VM (linuxdvb/proof/).
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "linuxdvb/channel.h"
#include "linuxdvb/packets.h"
#include "linuxdvb/selector.h"
#include "linuxdvb/signal.h"
#include "linuxdvb/stream_wait.h"
#include "loader/module.h"
#include "platform/win32.h"
#include "tests/support/message_boxes.h"

namespace linuxdvb {
namespace {

constexpr std::uint32_t kInversionAutoFlag = 1U << 20;

TEST(LinuxDvbChannel, WordsBecomeTheTunerFrequencyAndTheDishSettings) {
  struct Row {
    std::uint32_t word[8];
    std::uint32_t flags;
    std::uint32_t frequency_khz;
    fe_code_rate fec;
    fe_spectral_inversion inversion;
    fe_sec_voltage voltage;
    fe_sec_tone_mode tone;
  };
  const Row rows[] = {
      // Universal LNB, low band, horizontal; automatic inversion where the frontend has it.
      {{11362000, 1, 27500000, 9750000, 0, 18, 3, 1},
       kInversionAutoFlag,
       1612000,
       FEC_3_4,
       INVERSION_AUTO,
       SEC_VOLTAGE_18,
       SEC_TONE_OFF},
      // High band, vertical; word 1 = 2 tunes DVB-S all the same; no automatic inversion.
      {{11778000, 2, 27500000, 10600000, 1, 13, 8, 1},
       0,
       1178000,
       FEC_8_9,
       INVERSION_ON,
       SEC_VOLTAGE_13,
       SEC_TONE_ON},
      // C band: the oscillator above the signal.
      {{3880000, 1, 27500000, 5150000, 0, 13, 0, 0},
       kInversionAutoFlag,
       1270000,
       FEC_AUTO,
       INVERSION_OFF,
       SEC_VOLTAGE_13,
       SEC_TONE_OFF},
      // No oscillator: word 0 is what the tuner receives; 0 V leaves the LNB unpowered,
      // 16 V counts as 18.
      {{1500000, 1, 2000000, 0, 0, 0, 1, 0},
       0,
       1500000,
       FEC_1_2,
       INVERSION_OFF,
       SEC_VOLTAGE_OFF,
       SEC_TONE_OFF},
      {{1500000, 1, 2000000, 0, 0, 16, 1, 0},
       0,
       1500000,
       FEC_1_2,
       INVERSION_OFF,
       SEC_VOLTAGE_18,
       SEC_TONE_OFF},
  };
  for (const Row& row : rows) {
    DvbsTuning tuning;
    ASSERT_TRUE(TuningFromChannel(row.word, row.flags, &tuning)) << row.word[0];
    EXPECT_EQ(tuning.delivery_system, SYS_DVBS);
    EXPECT_EQ(tuning.frequency_khz, row.frequency_khz);
    EXPECT_EQ(tuning.symbol_rate, row.word[2]);
    EXPECT_EQ(tuning.fec, row.fec) << row.word[0];
    EXPECT_EQ(tuning.inversion, row.inversion) << row.word[0];
    EXPECT_EQ(tuning.voltage, row.voltage) << row.word[0];
    EXPECT_EQ(tuning.tone, row.tone) << row.word[0];
  }
}

TEST(LinuxDvbChannel, RefusesWordsNoDvbsTransponderHasAndSetsOnlyTheInversionFlag) {
  DvbsTuning tuning;
  const std::uint32_t family_three[8] = {11362000, 3, 27500000, 9750000, 0, 18, 3, 0};
  const std::uint32_t fec_nine[8] = {11362000, 1, 27500000, 9750000, 0, 18, 9, 0};
  EXPECT_FALSE(TuningFromChannel(family_three, 0, &tuning));
  EXPECT_FALSE(TuningFromChannel(fec_nine, 0, &tuning));

  FrontendAbilities abilities;
  EXPECT_EQ(FrontendFlags(abilities), 0U);
  abilities.inversion_auto = true;
  EXPECT_EQ(FrontendFlags(abilities), kInversionAutoFlag);
}

TEST(LinuxDvbSignal, LevelIsLinearFromMinus80ToMinus20DbmOrRelative) {
  const auto dbm = [](double value) {
    return LevelFromStrength({Measure::Scale::kDecibel, value});
  };
  EXPECT_EQ(dbm(-100), 0);
  EXPECT_EQ(dbm(-80), 0);
  EXPECT_EQ(dbm(-55), 41);
  EXPECT_EQ(dbm(-20), 100);
  EXPECT_EQ(dbm(-5), 100);
  EXPECT_EQ(LevelFromStrength({Measure::Scale::kRelative, 32768}), 50);
  EXPECT_EQ(LevelFromStrength({Measure::Scale::kRelative, 65535}), 100);
  EXPECT_EQ(LevelFromStrength({Measure::Scale::kNone, -30}), 0);
  // A driver's figure no frontend can measure is no figure.
  EXPECT_DOUBLE_EQ(DecibelMeasure(-55200).value, -55.2);
  EXPECT_EQ(DecibelMeasure(-4009793800).scale, Measure::Scale::kNone);
  EXPECT_EQ(DecibelMeasure(150000).scale, Measure::Scale::kNone);
}

TEST(LinuxDvbSignal, BitErrorRateIsErrorsOverBitsCountedBetweenPolls) {
  const BitCounters before{true, 100, 1000000};
  EXPECT_DOUBLE_EQ(BitErrorRate(before, {true, 150, 1100000}, 0.2), 5e-4);
  // Nothing counted in between, counting started again, or no counters: the rate held.
  EXPECT_DOUBLE_EQ(BitErrorRate(before, before, 0.2), 0.2);
  EXPECT_DOUBLE_EQ(BitErrorRate(before, {true, 10, 2000}, 0.2), 0.2);
  EXPECT_DOUBLE_EQ(BitErrorRate({}, {true, 150, 1100000}, 0.2), 0.2);
  EXPECT_DOUBLE_EQ(BitErrorRateFromV3(2000), 2e-6);
}

TEST(LinuxDvbSelector, ReadsAdaptersHereAndOnADaemon) {
  DeviceSelector selector;
  std::string error;
  ASSERT_TRUE(ParseSelector(nullptr, &selector, &error));
  EXPECT_EQ(SelectorText(selector), "adapter0");
  ASSERT_TRUE(ParseSelector("adapter3", &selector, &error));
  EXPECT_EQ(SelectorText(selector), "adapter3");
  ASSERT_TRUE(ParseSelector("2", &selector, &error));
  EXPECT_EQ(selector.adapter, 2U);
  ASSERT_TRUE(ParseSelector("remote:127.0.0.1:5555", &selector, &error));
  EXPECT_EQ(SelectorText(selector), "adapter0 on 127.0.0.1:5555");
  ASSERT_TRUE(ParseSelector("remote:tuner.local:5555:adapter1", &selector, &error));
  EXPECT_EQ(SelectorText(selector), "adapter1 on tuner.local:5555");
  for (const char* bad : {"adapter", "adapterx", "-1", "remote:host", "remote::5555",
                          "remote:host:0", "remote:host:70000", "remote:host:5555:x", "usb"}) {
    EXPECT_FALSE(ParseSelector(bad, &selector, &error)) << bad;
    EXPECT_NE(error.find("MORVALIND_DVB="), std::string::npos) << error;
  }
}

std::vector<std::uint8_t> Packets(int count, std::uint8_t first_tag) {
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(count) * kPacketSize);
  for (int i = 0; i < count; ++i) {
    bytes[static_cast<std::size_t>(i) * kPacketSize] = kSyncByte;
    bytes[static_cast<std::size_t>(i) * kPacketSize + 1] = static_cast<std::uint8_t>(first_tag + i);
  }
  return bytes;
}

TEST(LinuxDvbPackets, AReadEndingInsideAPacketKeepsItForTheNext) {
  const std::vector<std::uint8_t> stream = Packets(3, 10);
  PacketTail tail;
  std::uint64_t skipped = 0;
  // The first read ends 100 bytes into the second packet.
  std::vector<std::uint8_t> buffer(stream.begin(), stream.begin() + kPacketSize + 100);
  EXPECT_EQ(WholePackets(buffer.data(), buffer.size(), &tail, &skipped), kPacketSize);
  ASSERT_EQ(tail.size, 100U);
  EXPECT_EQ(std::memcmp(tail.bytes, stream.data() + kPacketSize, 100), 0);
  // The next read: the tail, then the rest.
  buffer.assign(stream.begin() + kPacketSize, stream.end());
  EXPECT_EQ(WholePackets(buffer.data(), buffer.size(), &tail, &skipped), 2 * kPacketSize);
  EXPECT_EQ(buffer[1], 11);
  EXPECT_EQ(buffer[kPacketSize + 1], 12);
  EXPECT_EQ(tail.size, 0U);
  EXPECT_EQ(skipped, 0U);
}

TEST(LinuxDvbPackets, AStreamNotStartingOnAPacketIsTakenUpAtTheNextOne) {
  std::vector<std::uint8_t> buffer(7, 0x47);  // stray bytes, some of them like a sync byte
  const std::vector<std::uint8_t> stream = Packets(2, 20);
  buffer.insert(buffer.end(), stream.begin(), stream.end());
  PacketTail tail;
  std::uint64_t skipped = 0;
  EXPECT_EQ(WholePackets(buffer.data(), buffer.size(), &tail, &skipped), 2 * kPacketSize);
  EXPECT_EQ(skipped, 7U);
  EXPECT_EQ(buffer[0], kSyncByte);
  EXPECT_EQ(buffer[1], 20);
}

// A read's wait for data, outside the stream lock: it ends with data, at once
// at a stop (the module's close), and the device's close waits for it to leave.
// The waits are a minute long: only the awaited event ends them.
TEST(LinuxDvbStreamWait, EndsWithDataOrAtOnceAtAStopAndACloseWaitsForTheWaiter) {
  using Result = StreamWait::Result;
  constexpr int kMinute = 60000;
  int pipe_ends[2];
  ASSERT_EQ(pipe(pipe_ends), 0);
  StreamWait wait;
  wait.Enter();
  EXPECT_EQ(wait.Wait(pipe_ends[0], 0), Result::kTimedOut);
  ASSERT_EQ(write(pipe_ends[1], "x", 1), 1);
  wait.Enter();
  EXPECT_EQ(wait.Wait(pipe_ends[0], kMinute), Result::kData);
  char byte = 0;
  ASSERT_EQ(read(pipe_ends[0], &byte, 1), 1);

  wait.Enter();  // under the stream lock, before the read waits
  Result result = Result::kData;
  std::thread reader([&] { result = wait.Wait(pipe_ends[0], kMinute); });
  EXPECT_FALSE(wait.Idle(0)) << "a read waits: its descriptor must stay open";
  wait.Stop();
  EXPECT_TRUE(wait.Idle(kMinute));
  reader.join();
  EXPECT_EQ(result, Result::kStopped);
  wait.Enter();
  EXPECT_EQ(wait.Wait(pipe_ends[0], kMinute), Result::kStopped) << "stopped until recording again";
  wait.Go();
  wait.Enter();
  EXPECT_EQ(wait.Wait(pipe_ends[0], 0), Result::kTimedOut);
  close(pipe_ends[0]);
  close(pipe_ends[1]);
}

// The native module meets the library as it meets the vendor's: loaded first
// by the host program, found by its name, bound entry by entry, in vendor
// mode; with no such adapter, open shows the module's one box and fails.
TEST(LinuxDvbModule, BindsToTheLoadedLibraryAndFailsToOpenAMissingAdapterCleanly) {
  void* library = dlopen(MORVALIND_BIN_DIR "/linuxdvb/ttlcdacc.dll", RTLD_NOW);
  ASSERT_NE(library, nullptr) << dlerror();
  EXPECT_EQ(LoadLibraryA("ttlcdacc.dll"), library)
      << "a library of that name already loaded comes before the one beside the program";
  const auto send_diseqc =
      reinterpret_cast<std::uintptr_t>(dlsym(library, "CDVBFrontend_SendDiSEqCMsg"));
  EXPECT_EQ(send_diseqc & 0xFFFU, 0U) << "never where a build with bus routines has it";
  EXPECT_NE(dlsym(library, "CardReadFigures"), nullptr);

  setenv("MORVALIND_DVB", "adapter250", 1);
  Module module;
  ASSERT_EQ(module.Load(MORVALIND_BIN_DIR "/Morvalind.dev"), LoadStatus::kOk) << module.error();
  MessageBoxWatcher boxes;
  EXPECT_EQ(module.entries().open(), 1);
  ASSERT_EQ(boxes.Shown().size(), 1U);
  EXPECT_EQ(boxes.Shown()[0].text, "OpenDevice not successful");
  EXPECT_EQ(module.entries().close(), 1);
  unsetenv("MORVALIND_DVB");
}

}  // namespace
}  // namespace linuxdvb
