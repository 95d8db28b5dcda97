// Register access: where the bus routines are found, the register operations
// and the two register procedures over a scripted bus, and the detection step
// of open against the stand-in card linked beside the tests.
#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "card/register_access.h"
#include "platform/testing.h"
#include "plugin/context.h"
#include "plugin/entries.h"
#include "sim/control.h"
#include "tests/support/journals.h"

namespace {

using Strings = std::vector<std::string>;

// ---- The address rule ----

TEST(BusRoutineAddresses, FollowTheLowSixteenBitsOfTheExportedRoutine) {
  struct Case {
    std::uintptr_t send_diseqc;
    std::uintptr_t read;
    std::uintptr_t write;
  };
  const Case known[] = {
      {0x100079E0U, 0x100079E0U + 0xDF50U, 0x100079E0U + 0xDE80U},
      {0x6A5279B0U, 0x6A5279B0U + 0xDA50U, 0x6A5279B0U + 0xD980U},
      {0x79E0U, 0x79E0U + 0xDF50U, 0x79E0U + 0xDE80U},
  };
  for (const Case& c : known) {
    BusRoutineAddresses found{};
    ASSERT_TRUE(BusRoutinesFor(c.send_diseqc, &found)) << std::hex << c.send_diseqc;
    EXPECT_EQ(found.read, c.read);
    EXPECT_EQ(found.write, c.write);
    EXPECT_EQ(found.read - found.write, 0xD0U);
  }
  for (const std::uintptr_t unknown :
       {std::uintptr_t{0}, std::uintptr_t{0x100079E1U}, std::uintptr_t{0x100079C0U},
        std::uintptr_t{0x1000F9E0U}, std::uintptr_t{0x10006A10U}}) {
    BusRoutineAddresses found{1, 2};
    EXPECT_FALSE(BusRoutinesFor(unknown, &found)) << std::hex << unknown;
    EXPECT_EQ(found.read, 1U);
    EXPECT_EQ(found.write, 2U);
  }
}

// The stand-in library beside the tests is a build of the first layout, and
// its routines must land there wherever the loader put it.
TEST(BusRoutineAddresses, AreFoundInTheLoadedLibraryAndReachItsBus) {
#ifdef _WIN32
  const char* const export_name = "?SendDiSEqCMsg@CDVBFrontend@@QAE?AW4DVB_ERROR@@PAEEE@Z";
#else
  const char* const export_name = "CDVBFrontend_SendDiSEqCMsg";
#endif
  SimReset();
  const auto send_diseqc =
      reinterpret_cast<std::uintptr_t>(GetProcAddress(LoadLibraryA("ttlcdacc.dll"), export_name));
  EXPECT_EQ(send_diseqc & 0xFFFFU, 0x79E0U);

  bus_read = nullptr;
  bus_write = nullptr;
  RegisterAccess access;
  ASSERT_EQ(access.LocateBusRoutines(), 0);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(bus_read), send_diseqc + 0xDF50U);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(bus_write), send_diseqc + 0xDE80U);

  EXPECT_EQ(access.ReadRegister(0x1E), 0xE1);
  EXPECT_EQ(access.WriteRegister(0x36, 0x00), 0);
  access.WriteLnbControl(0x0C);
  EXPECT_EQ(BusJournal(), (Strings{"read 1C 1E -> E1", "write 1C 36 00", "write 10 0C"}));
}

// ---- Register operations over a scripted bus ----

struct Transaction {
  bool read;
  std::int32_t device;
  std::vector<std::uint8_t> written;
  std::int32_t read_count;
  bool operator==(const Transaction& other) const {
    return read == other.read && device == other.device && written == other.written &&
           read_count == other.read_count;
  }
};

std::ostream& operator<<(std::ostream& out, const Transaction& t) {
  out << (t.read ? "read " : "write ") << std::hex << t.device << ":";
  for (const std::uint8_t byte : t.written) {
    out << " " << static_cast<int>(byte);
  }
  return out << (t.read ? " /" + std::to_string(t.read_count) : "");
}

Transaction Read(std::uint8_t reg) { return {true, 0x1C, {reg}, 1}; }
Transaction Write(std::uint8_t reg, std::uint8_t value) { return {false, 0x1C, {reg, value}, 0}; }

// The bus the routines see: every transaction is logged; a read answers with
// the scripted register value; transactions can fail with a chosen result.
struct ScriptedBus {
  std::vector<Transaction> log;
  std::uint8_t registers[256] = {};
  int status_busy_reads = 0;      // reads of 0x50 showing busy; negative: always
  std::set<std::size_t> failing;  // by position in the log
  std::set<std::uint8_t> failing_registers;
  bool fail_all = false;
  std::int32_t failure = -1;
  int pauses = 0;

  std::int32_t Result(const std::vector<std::uint8_t>& written) const {
    const bool fails = fail_all || failing.count(log.size()) != 0 ||
                       (!written.empty() && failing_registers.count(written[0]) != 0);
    return fails ? failure : 0;
  }
};

ScriptedBus* scripted = nullptr;

std::int32_t ScriptedRead(std::int32_t device, const std::uint8_t* bytes, std::int32_t count,
                          std::uint8_t* buffer, std::int32_t read_count) {
  std::vector<std::uint8_t> written(bytes, bytes + count);
  const std::int32_t result = scripted->Result(written);
  scripted->log.push_back({true, device, written, read_count});
  if (result == 0) {
    std::uint8_t value = scripted->registers[bytes[0]];
    if (bytes[0] == 0x50) {
      const bool busy = scripted->status_busy_reads != 0;
      if (scripted->status_busy_reads > 0) {
        --scripted->status_busy_reads;
      }
      value = busy ? 0x00 : 0x01;
    }
    buffer[0] = value;
  }
  return result;
}

std::int32_t ScriptedWrite(std::int32_t device, const std::uint8_t* bytes, std::int32_t count) {
  std::vector<std::uint8_t> written(bytes, bytes + count);
  const std::int32_t result = scripted->Result(written);
  scripted->log.push_back({false, device, written, 0});
  return result;
}

class RegisterOperations : public ::testing::Test {
 protected:
  void SetUp() override {
    scripted = &bus;
    bus_read = ScriptedRead;
    bus_write = ScriptedWrite;
    PlatformUseVirtualClock(1, 5000);
    PlatformSetSleepHook([](std::uint32_t ms) {
      EXPECT_EQ(ms, 10U);
      ++scripted->pauses;
    });
  }
  void TearDown() override {
    PlatformSetSleepHook(nullptr);
    PlatformUseVirtualClock(0, 0);
    bus_read = nullptr;
    bus_write = nullptr;
    scripted = nullptr;
  }
  // Pauses are counted on the virtual clock of the native build.
  void ExpectPauses(int count) const {
    if (kPlatformVirtualClock) {
      EXPECT_EQ(bus.pauses, count);
    }
  }

  ScriptedBus bus;
  RegisterAccess access;
};

TEST_F(RegisterOperations, ReadPassesOnFailuresAndNeverMistakesThemForValues) {
  bus.registers[0x1C] = 0xFF;
  EXPECT_EQ(access.ReadRegister(0x1C), 255);
  bus.fail_all = true;
  bus.failure = -7;
  EXPECT_EQ(access.ReadRegister(0x1C), -7);
  bus.failure = 0xE1;  // a failure result that looks like a register value
  EXPECT_EQ(access.ReadRegister(0x1C), -1);
  EXPECT_FALSE(access.CheckDemodulatorId());
  EXPECT_EQ(bus.log, (std::vector<Transaction>{Read(0x1C), Read(0x1C), Read(0x1C), Read(0x1E)}));
}

TEST_F(RegisterOperations, WriteAndLnbControlAddressTheirDevices) {
  bus.failing = {1};
  bus.failure = -3;
  EXPECT_EQ(access.WriteRegister(0x36, 0x58), 0);
  EXPECT_EQ(access.WriteRegister(0x48, 0xE0), -3);
  access.WriteLnbControl(0x04);
  EXPECT_EQ(bus.log, (std::vector<Transaction>{Write(0x36, 0x58), Write(0x48, 0xE0),
                                               Transaction{false, 0x10, {0x04}, 0}}));
}

TEST_F(RegisterOperations, UpdateClearsThenSetsAndWritesNothingAfterAFailedRead) {
  bus.registers[0x10] = 0x2A;
  access.UpdateRegister(0x10, 0x40, 0x40);
  bus.registers[0x58] = 0x61;
  access.UpdateRegister(0x58, 0x03, 0x02);  // a bit named in both masks ends set
  bus.failing_registers = {0x55};
  access.UpdateRegister(0x55, 0x20, 0x00);
  EXPECT_EQ(bus.log, (std::vector<Transaction>{Read(0x10), Write(0x10, 0x6A), Read(0x58),
                                               Write(0x58, 0x62), Read(0x55)}));
}

TEST_F(RegisterOperations, SignalLevelAndIdentificationReadTheirRegisters) {
  std::uint8_t level = 0;
  bus.registers[0x1C] = 0x37;
  access.ReadSignalLevel(level);
  EXPECT_EQ(level, 0x37);
  bus.failing = {1};
  access.ReadSignalLevel(level);
  EXPECT_EQ(level, 0xFF);  // a failed read gives the weakest level

  bus.registers[0x1E] = 0xE1;
  EXPECT_TRUE(access.CheckDemodulatorId());
  bus.registers[0x1E] = 0xE0;
  EXPECT_FALSE(access.CheckDemodulatorId());
  EXPECT_EQ(bus.log, (std::vector<Transaction>{Read(0x1C), Read(0x1C), Read(0x1E), Read(0x1E)}));
}

TEST_F(RegisterOperations, WaitForDiseqcIdleReadsUntilTheStatusBitOrTwentyOneTimes) {
  struct Case {
    int busy_reads;
    bool fail_all;
    std::size_t reads;
    int pauses;
  };
  const Case cases[] = {
      {0, false, 1, 0},     // idle at once
      {2, false, 3, 2},     // idle at the third read
      {-1, false, 21, 20},  // never idle: gives up after about 200 ms
      {0, true, 21, 20},    // failed reads say nothing about the transmission
  };
  for (const Case& c : cases) {
    bus = ScriptedBus{};
    bus.status_busy_reads = c.busy_reads;
    bus.fail_all = c.fail_all;
    access.WaitDiseqcIdle();
    EXPECT_EQ(bus.log, std::vector<Transaction>(c.reads, Read(0x50))) << c.busy_reads;
    ExpectPauses(c.pauses);
  }
}

// The start-up programme, as the demodulator's data sheet order has it.
std::vector<Transaction> Programme(bool updates_read) {
  std::vector<Transaction> expected = {
      Write(0x00, 0x00), Write(0x01, 0x94), Write(0x02, 0x35), Write(0x03, 0xE4), Write(0x04, 0x43),
      Write(0x0C, 0x0C), Write(0x1B, 0xB0), Write(0x20, 0x89), Write(0x30, 0x01), Write(0x32, 0x00),
      Write(0x31, 0x56), Write(0x55, 0x2C), Write(0x3A, 0x0B), Write(0x3B, 0x01), Read(0x55),
      Write(0x55, 0x0C), Write(0x11, 0x81), Write(0x12, 0x81), Write(0x19, 0x40), Write(0x56, 0x80),
      Write(0x57, 0x08), Write(0x10, 0x2A), Write(0x58, 0x61), Read(0x58),        Write(0x58, 0x60),
      Write(0x05, 0x0B), Write(0x37, 0x63), Write(0x3F, 0x0A), Write(0x40, 0x64), Write(0x41, 0x4F),
      Write(0x42, 0x43), Write(0x1A, 0x61), Write(0x3D, 0x80), Write(0x36, 0x00), Write(0x34, 0x78),
      Write(0x35, 0x00),
  };
  if (!updates_read) {
    expected.erase(expected.begin() + 24);  // the update of 0x58 writes nothing
    expected.erase(expected.begin() + 15);  // nor that of 0x55
  }
  return expected;
}

TEST_F(RegisterOperations, InitDemodulatorIssuesTheProgrammeWithOnePause) {
  bus.registers[0x55] = 0x2C;  // as the programme's own writes leave them
  bus.registers[0x58] = 0x61;
  access.InitDemodulator();
  EXPECT_EQ(bus.log, Programme(true));
  ExpectPauses(1);
}

TEST_F(RegisterOperations, InitDemodulatorAttemptsEveryOperationOnAFailingBus) {
  bus.fail_all = true;
  access.InitDemodulator();
  EXPECT_EQ(bus.log, Programme(false));
  ExpectPauses(1);
}

std::vector<Transaction> LongDiseqc(const std::vector<std::uint8_t>& message, std::uint8_t start,
                                    std::uint8_t saved, std::size_t status_reads) {
  std::vector<Transaction> expected = {Read(0x36)};
  for (std::size_t i = 0; i < message.size(); ++i) {
    expected.push_back(Write(static_cast<std::uint8_t>(0x48 + i), message[i]));
  }
  expected.push_back(Write(0x36, start));
  expected.insert(expected.end(), status_reads, Read(0x50));
  expected.push_back(Write(0x36, saved));
  return expected;
}

TEST_F(RegisterOperations, LongDiseqcLoadsStartsWaitsAndRestores) {
  const std::vector<std::uint8_t> five = {0xE0, 0x31, 0x6B, 0x05, 0x00};
  const std::vector<std::uint8_t> six = {0xE0, 0x31, 0x6E, 0x01, 0x90, 0x00};
  bus.registers[0x36] = 0x03;
  bus.status_busy_reads = 1;
  EXPECT_EQ(access.SendLongDiseqc(five.data(), 5), 0);
  EXPECT_EQ(bus.log, LongDiseqc(five, 0x48, 0x03, 2));

  bus.log.clear();
  bus.status_busy_reads = -1;  // never reported done: restored all the same
  EXPECT_EQ(access.SendLongDiseqc(six.data(), 6), 0);
  EXPECT_EQ(bus.log, LongDiseqc(six, 0x58, 0x03, 21));

  bus.log.clear();
  const std::uint8_t seven[7] = {0xE0, 0x31, 0x6E, 0x01, 0x90, 0x00, 0x00};
  EXPECT_EQ(access.SendLongDiseqc(seven, 7), -1);
  EXPECT_EQ(access.SendLongDiseqc(seven, 0), -1);
  EXPECT_EQ(access.SendLongDiseqc(nullptr, 5), -1);
  EXPECT_TRUE(bus.log.empty());
}

TEST_F(RegisterOperations, LongDiseqcStopsAtEachFailurePoint) {
  const std::vector<std::uint8_t> five = {0xE0, 0x31, 0x6B, 0x05, 0x00};
  const std::vector<Transaction> whole = LongDiseqc(five, 0x48, 0x00, 1);
  struct Case {
    const char* what;
    std::size_t failing;       // position of the failing transaction
    std::size_t transactions;  // how many are made, a prefix of the whole
  };
  const Case cases[] = {
      {"read of the control register", 0, 1},
      {"third message byte", 3, 6},  // the other bytes still written, nothing started
      {"start", 6, 7},               // no wait, no restore
      {"restore", 8, 9},
  };
  for (const Case& c : cases) {
    bus = ScriptedBus{};
    bus.failing = {c.failing};
    EXPECT_EQ(access.SendLongDiseqc(five.data(), 5), -1) << c.what;
    EXPECT_EQ(bus.log, std::vector<Transaction>(whole.begin(), whole.begin() + c.transactions))
        << c.what;
  }
}

// ---- The detection step of open, against the stand-in card ----

class Detection : public ::testing::Test {
 protected:
  void SetUp() override {
    SimReset();
    PlatformUseVirtualClock(1, 1000);
  }
  void TearDown() override {
    DeviceClose();
    PlatformUseVirtualClock(0, 0);
  }
};

TEST_F(Detection, DecidesDirectModeAtEveryOpenAndKeepsItAcrossClose) {
  ASSERT_EQ(DeviceOpen(), 0);
  EXPECT_EQ(device_context.direct_access, 1U);
  EXPECT_EQ(BusJournal().size(), 1U + 36U);  // identification, then the programme
  ASSERT_EQ(DeviceClose(), 0);
  EXPECT_EQ(device_context.direct_access, 1U);

  // Reopening locates the routines afresh and asks the demodulator again.
  bus_read = nullptr;
  bus_write = nullptr;
  SimBusJournalClear();
  SimBusSetRegister(0x1E, 0xE0);
  ASSERT_EQ(DeviceOpen(), 0);
  EXPECT_NE(bus_read, nullptr);
  EXPECT_NE(bus_write, nullptr);
  EXPECT_EQ(device_context.direct_access, 0U);
  EXPECT_EQ(BusJournal(), Strings{"read 1C 1E -> E0"});
  ASSERT_EQ(DeviceClose(), 0);

  SimBusJournalClear();
  SimBusSetRegister(0x1E, 0xE1);
  SimBusFailRegister(0x1C, 0x1E, 1);
  ASSERT_EQ(DeviceOpen(), 0);
  EXPECT_EQ(device_context.direct_access, 0U);
  EXPECT_EQ(BusJournal(), Strings{"read 1C 1E failed"});
  ASSERT_EQ(DeviceClose(), 0);

  SimBusJournalClear();
  SimBusFailRegister(0x1C, 0x1E, 0);
  ASSERT_EQ(DeviceOpen(), 0);
  EXPECT_EQ(device_context.direct_access, 1U);
  EXPECT_EQ(BusJournal().size(), 1U + 36U);
}

}  // namespace
