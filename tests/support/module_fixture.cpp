#include "tests/support/module_fixture.h"

#include <cstring>

#include "host/module.h"
#include "platform/testing.h"

namespace {

Module& TheModule() {
  static Module* module = [] {
    auto* loaded = new Module;
    if (loaded->Load(MORVALIND_BIN_DIR "/Morvalind.dev") != LoadStatus::kOk) {
      ADD_FAILURE() << loaded->error();
    }
    return loaded;
  }();
  return *module;
}

// Every line of one of the stand-in's journals.
std::vector<std::string> ReadJournal(int (*line_of)(int index, char* buffer, int capacity)) {
  std::vector<std::string> lines;
  char line[512];
  for (int i = 0; line_of(i, line, sizeof line) >= 0; ++i) {
    lines.emplace_back(line);
  }
  return lines;
}

}  // namespace

const DeviceInterface& ModuleTest::Entries() { return TheModule().entries(); }

DeviceInterfaceInfo ModuleTest::Descriptor(unsigned char fill) {
  DeviceInterfaceInfo info;
  std::memset(&info, fill, sizeof info);
  TheModule().get_interface_info()(&info);
  return info;
}

void ModuleTest::SetUp() {
  SimReset();
#ifndef _WIN32
  PlatformUseVirtualClock(1, 1000);
#endif
}

void ModuleTest::TearDown() {
  Entries().close();
  Entries().set_callback(nullptr);
#ifndef _WIN32
  PlatformUseVirtualClock(0, 0);
#endif
}

void ModuleTest::CloseWhileCapturing() {
#ifndef _WIN32
  PlatformHoldClock(1);
#endif
  EXPECT_EQ(Entries().close(), 0);
#ifndef _WIN32
  PlatformHoldClock(0);
#endif
}

std::vector<std::string> ModuleTest::Journal() { return ReadJournal(SimJournalLine); }

std::vector<std::string> ModuleTest::BusJournal() { return ReadJournal(SimBusJournalLine); }

std::vector<std::string> ModuleTest::DishJournal() { return ReadJournal(SimDishJournalLine); }

TuningRecord ModuleTest::LineupRecord(int index) {
  SimTransponder entry{};
  EXPECT_EQ(SimLineupEntry(index, &entry), 0) << index;
  const bool high_band = entry.frequency_mhz >= 11700;
  TuningRecord record{};
  record.passthrough_0 = 0xA1B2C3D4;
  record.primary_value = entry.frequency_mhz * 1000;
  record.polarity = entry.polarity == 'V' ? 1 : 0;
  record.word2_value = entry.symbol_rate_ksps * 1000;
  record.word3_value = high_band ? 10600000 : 9750000;
  record.word4_value = high_band ? 1 : 0;
  record.passthrough_25 = 0x5A6B7C8D;
  record.fec_code = entry.fec_code;
  return record;
}

std::vector<std::string> ModuleTest::JournalOf(const std::string& member) {
  std::vector<std::string> lines;
  for (const std::string& line : Journal()) {
    if (line.find("::" + member + "(") != std::string::npos || line.rfind(member + "(", 0) == 0) {
      lines.push_back(line);
    }
  }
  return lines;
}
