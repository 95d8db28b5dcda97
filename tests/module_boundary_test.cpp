// The module's boundary: descriptor, entry table, fixed answers, bad pointers.
#include <cstring>

#include "tests/support/module_fixture.h"

namespace {

using Boundary = ModuleTest;

TEST_F(Boundary, DescriptorWritesWholeStringsAndLeavesTheRestOfEachField) {
  const DeviceInterfaceInfo info = Descriptor(0xCC);
  EXPECT_STREQ(info.device_name, "Morvalind DVB-S WDM/PCI");
  for (int i = 24; i < 256; ++i) {
    ASSERT_EQ(static_cast<unsigned char>(info.device_name[i]), 0xCC) << "name byte " << i;
  }
  EXPECT_EQ(info.file_version, 0x01000000U);
  EXPECT_EQ(info.product_version, 0x01010000U);
  const std::size_t credit = std::strlen(info.author);
  EXPECT_EQ(credit, 24U);
  EXPECT_NE(std::strchr(info.author, '('), nullptr);
  EXPECT_NE(std::strchr(info.author, '@'), nullptr);
  EXPECT_EQ(info.author[credit - 1], ')');
  for (std::size_t i = credit + 1; i < 256; ++i) {
    ASSERT_EQ(static_cast<unsigned char>(info.author[i]), 0xCC) << "credit byte " << i;
  }
  EXPECT_EQ(info.word_520, 0U);
  EXPECT_EQ(info.word_524, 1U);
}

TEST_F(Boundary, TableSharesStubEntriesAndStubsAnswerTheirFixedValues) {
  const DeviceInterface& entries = Entries();
  EXPECT_EQ(entries.stub_fail_3, entries.stub_fail_4);
  EXPECT_EQ(entries.stub_ok_7, entries.stub_ok_10);
  EXPECT_EQ(entries.stub_code6_11, entries.stub_code6_12);
  for (const std::uint32_t value : {0U, 1U, 0xFFFFFFFFU}) {
    EXPECT_EQ(entries.stub_fail_3(value), 1);
    EXPECT_EQ(entries.stub_code6_11(value), 6);
  }
  EXPECT_EQ(entries.stub_ok_7(), 0);
  // Stubs touch no card.
  EXPECT_TRUE(Journal().empty());
}

TEST_F(Boundary, DefaultsFillerWritesFourWordsAndLeavesTheFirstEightBytes) {
  DefaultsRecord record;
  std::memset(&record, 0xAB, sizeof record);
  EXPECT_EQ(Entries().fill_defaults(&record), 0);
  for (const unsigned char byte : record.host_bytes) {
    EXPECT_EQ(byte, 0xAB);
  }
  EXPECT_EQ(record.word_8, 1U);
  EXPECT_EQ(record.word_12, 1U);
  EXPECT_EQ(record.word_16, 0U);
  EXPECT_EQ(record.word_20, 0xFFFFU);
}

TEST_F(Boundary, NullRecordsAreRefusedWithAResultCode) {
  const DeviceInterface& entries = Entries();
  EXPECT_EQ(entries.fill_defaults(nullptr), 1);
  ASSERT_EQ(entries.open(), 0);
  EXPECT_EQ(entries.tune(nullptr), 2);
  SignalRecord signal{};
  TuningRecord tuning{};
  EXPECT_EQ(entries.get_signal(nullptr, &tuning), 1);
  EXPECT_EQ(entries.get_signal(&signal, nullptr), 1);
  EXPECT_EQ(entries.send_diseqc(nullptr, 0), 2);
}

TEST_F(Boundary, CardEntriesAnswerOneWhileClosed) {
  const DeviceInterface& entries = Entries();
  TuningRecord tuning{};  // primary_value 0: still 1, the card is checked first
  SignalRecord signal{};
  DiseqcRecord diseqc{};
  EXPECT_EQ(entries.close(), 1);
  EXPECT_EQ(entries.tune(&tuning), 1);
  EXPECT_EQ(entries.get_signal(&signal, &tuning), 1);
  EXPECT_EQ(entries.send_diseqc(&diseqc, 0), 1);
  EXPECT_EQ(entries.send_diseqc(&diseqc, 7), 1);
  EXPECT_TRUE(Journal().empty());
}

}  // namespace
