// Channel files against libdvbv5's own reader, the one the Linux DVB tools
// use: every dvb-s file of dtv-scan-tables gives the same transponders, and a
// service file written here gives libdvbv5 the same services.
#include <gtest/gtest.h>
#include <libdvbv5/dvb-fe.h>
#include <libdvbv5/dvb-file.h>

#include <dirent.h>

#include <fstream>
#include <string>
#include <vector>

#include "dvb/channel_file.h"

namespace {

const char kScanTables[] = "/usr/share/dvb/dvb-s";

std::uint32_t Property(dvb_entry* entry, std::uint32_t key) {
  std::uint32_t value = 0xFFFFFFFF;
  dvb_retrieve_entry_prop(entry, key, &value);
  return value;
}

// Our enumerations follow the kernel's numbering of these values.
void ExpectSameTransponder(const ChannelEntry& ours, dvb_entry* theirs, const std::string& where) {
  const TransponderParameters& t = ours.transponder;
  EXPECT_EQ(Property(theirs, DTV_DELIVERY_SYSTEM),
            t.delivery_system == DeliverySystem::kDvbS ? SYS_DVBS : SYS_DVBS2)
      << where;
  EXPECT_EQ(Property(theirs, DTV_FREQUENCY), t.frequency_khz) << where;
  EXPECT_EQ(Property(theirs, DTV_SYMBOL_RATE), t.symbol_rate) << where;
  EXPECT_EQ(Property(theirs, DTV_INNER_FEC), static_cast<std::uint32_t>(t.fec)) << where;
  EXPECT_EQ(Property(theirs, DTV_POLARIZATION), static_cast<std::uint32_t>(t.polarization))
      << where;
  if (t.modulation) {
    EXPECT_EQ(Property(theirs, DTV_MODULATION), static_cast<std::uint32_t>(*t.modulation)) << where;
  }
}

TEST(ChannelFileAgainstLibdvbv5, EveryDvbSFileOfDtvScanTablesReadsTheSame) {
  DIR* folder = opendir(kScanTables);
  if (folder == nullptr) {
    GTEST_SKIP() << kScanTables << " is missing (Debian dtv-scan-tables)";
  }
  int files = 0;
  for (dirent* item = readdir(folder); item != nullptr; item = readdir(folder)) {
    const std::string path = std::string(kScanTables) + "/" + item->d_name;
    if (item->d_name[0] == '.') {
      continue;
    }
    std::vector<ChannelEntry> ours;
    std::string error;
    EXPECT_TRUE(LoadChannelFile(path, &ours, &error)) << error;
    dvb_file* theirs = dvb_read_file(path.c_str());
    ASSERT_NE(theirs, nullptr) << path;
    std::size_t n = 0;
    for (dvb_entry* entry = theirs->first_entry; entry != nullptr; entry = entry->next, ++n) {
      ASSERT_LT(n, ours.size()) << path;
      ExpectSameTransponder(ours[n], entry, path + " entry " + std::to_string(n));
    }
    EXPECT_EQ(n, ours.size()) << path;
    dvb_file_free(theirs);
    ++files;
  }
  closedir(folder);
  EXPECT_GT(files, 100);
}

TEST(ChannelFileAgainstLibdvbv5, AWrittenServiceFileReadsTheSameInLibdvbv5) {
  ChannelEntry service;
  service.name = "Caf\u00E9 Pellam";
  service.service_id = 3001;
  service.video_pids = {0x1201};
  service.audio_pids = {0x1202, 0x1203};
  service.other_pids = {{0x06, 0x1204}, {0x06, 0x1205}};  // libdvbv5 keeps one PID_xx line
  service.transponder.frequency_khz = 11778000;
  service.transponder.polarization = Polarization::kVertical;
  service.transponder.symbol_rate = 27500000;
  service.transponder.fec = CodeRate::k3_4;
  service.transponder.satellite_number = 1;
  service.transponder.lnb = "UNIVERSAL";
  ChannelEntry called_so = service;  // named as the format's nameless section
  called_so.name = "CHANNEL";
  const std::string path = "channel-file-for-libdvbv5.conf";
  {
    std::ofstream out(path);
    WriteChannelFile(out, {service, called_so});
  }
  std::vector<ChannelEntry> ours;
  std::string error;
  ASSERT_TRUE(LoadChannelFile(path, &ours, &error)) << error;
  ASSERT_EQ(ours.size(), 2u);
  EXPECT_EQ(ours[1].name, "CHANNEL");
  dvb_file* theirs = dvb_read_file(path.c_str());
  ASSERT_NE(theirs, nullptr);
  dvb_entry* entry = theirs->first_entry;
  ASSERT_NE(entry, nullptr);
  ASSERT_NE(entry->next, nullptr);
  EXPECT_STREQ(entry->next->channel, "CHANNEL");
  EXPECT_STREQ(entry->channel, "Caf\u00E9 Pellam");
  EXPECT_EQ(entry->service_id, 3001u);
  ASSERT_EQ(entry->video_pid_len, 1u);
  EXPECT_EQ(entry->video_pid[0], 0x1201);
  ASSERT_EQ(entry->audio_pid_len, 2u);
  EXPECT_EQ(entry->audio_pid[1], 0x1203);
  ASSERT_EQ(entry->other_el_pid_len, 2u);
  EXPECT_EQ(entry->other_el_pid[1].type, 0x06);
  EXPECT_EQ(entry->other_el_pid[1].pid, 0x1205);
  EXPECT_EQ(entry->sat_number, 1);
  EXPECT_STREQ(entry->lnb, "UNIVERSAL");
  ExpectSameTransponder(service, entry, path);
  dvb_file_free(theirs);
}

}  // namespace
