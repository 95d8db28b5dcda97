// Channel files against libdvbv5's own reader, the one the Linux DVB tools
// use: every dvb-s file of dtv-scan-tables gives the same transponders, a
// service file written here gives libdvbv5 the same services (names the
// format cannot hold as both read them back), and every LNB type a scan
// writes is one libdvbv5 tunes by name, with the same oscillators.
#include <gtest/gtest.h>
#include <libdvbv5/dvb-fe.h>
#include <libdvbv5/dvb-file.h>
#include <libdvbv5/dvb-sat.h>

#include <dirent.h>

#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "dvb/channel_file.h"

using namespace dvb;

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
  // libdvbv5 ends a name at its first ']' and escapes nothing: brackets are
  // written as parentheses, which both read back alike.
  const std::vector<std::pair<std::string, std::string>> names = {{"News [HD]", "News (HD)"},
                                                                  {"A [B", "A [B"},
                                                                  {"]x", ")x"},
                                                                  {"A = B", "A = B"},
                                                                  {"#1 Music", "#1 Music"}};
  std::vector<ChannelEntry> written = {service, called_so};
  for (const auto& name : names) {
    written.push_back(service);
    written.back().name = name.first;
  }
  const std::string path = "channel-file-for-libdvbv5.conf";
  {
    std::ofstream out(path);
    WriteChannelFile(out, written);
  }
  std::vector<ChannelEntry> ours;
  std::string error;
  ASSERT_TRUE(LoadChannelFile(path, &ours, &error)) << error;
  ASSERT_EQ(ours.size(), written.size());
  EXPECT_EQ(ours[1].name, "CHANNEL");
  dvb_file* theirs = dvb_read_file(path.c_str());
  ASSERT_NE(theirs, nullptr);
  dvb_entry* entry = theirs->first_entry;
  ASSERT_NE(entry, nullptr);
  ASSERT_NE(entry->next, nullptr);
  EXPECT_STREQ(entry->next->channel, "CHANNEL");
  const dvb_entry* other = entry->next->next;
  for (std::size_t i = 0; i < names.size(); ++i, other = other->next) {
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(other->channel, names[i].second);
    EXPECT_EQ(ours[2 + i].name, names[i].second);
  }
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
  EXPECT_GE(dvb_sat_search_lnb(entry->lnb), 0);  // dvbv5-zap tunes it without -l
  ExpectSameTransponder(service, entry, path);
  dvb_file_free(theirs);
}

TEST(ChannelFileAgainstLibdvbv5, EveryLnbTypeIsOneLibdvbv5KnowsWithItsOscillators) {
  for (const LnbType& lnb : LnbTypes()) {
    const int index = dvb_sat_search_lnb(lnb.dvbv5_name);
    ASSERT_GE(index, 0) << lnb.dvbv5_name;
    const dvb_sat_lnb* theirs = dvb_sat_get_lnb(index);
    std::set<unsigned> ours;
    for (const LnbBand& band : lnb.bands) {
      if (band.lof_mhz != 0) {
        ours.insert(band.lof_mhz);
      }
    }
    std::set<unsigned> known = {theirs->lowfreq};
    if (theirs->highfreq != 0) {
      known.insert(theirs->highfreq);
    }
    EXPECT_EQ(ours, known) << lnb.dvbv5_name;
  }
}

}  // namespace
