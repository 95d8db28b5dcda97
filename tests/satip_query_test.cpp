// SAT>IP queries as clients write them: read into typed values and written
// back, leniently where clients differ, with an error that names the key
// where a value is wrong; the tuning and PIDs a query leaves a stream with.
#include <gtest/gtest.h>

#include <string>

#include "satip/query.h"

namespace {

using satip::ApplyPids;
using satip::ApplyTuning;
using satip::FormatQuery;
using satip::ParsePids;
using satip::ParseQuery;
using satip::PidSet;
using satip::Query;
using satip::Tuning;

Query Parsed(const std::string& text) {
  Query query;
  std::string error;
  EXPECT_TRUE(ParseQuery(text, &query, &error)) << text << ": " << error;
  return query;
}

std::string ErrorOf(const std::string& text) {
  Query query;
  std::string error;
  EXPECT_FALSE(ParseQuery(text, &query, &error)) << text;
  return error;
}

TEST(SatipQuery, ADvbS2QueryReadsIntoTypedValuesAndWritesBack) {
  const std::string text =
      "src=2&fe=1&freq=11778.25&pol=v&ro=0.35&msys=dvbs2&mtype=8psk&plts=on&sr=27500&fec=910&"
      "pids=0,17,18";
  const Query query = Parsed(text);
  EXPECT_EQ(query.src, 2);
  EXPECT_EQ(query.frequency_khz, 11778250u);
  EXPECT_EQ(query.polarization, dvb::Polarization::kVertical);
  EXPECT_EQ(query.system, dvb::DeliverySystem::kDvbS2);
  EXPECT_EQ(query.modulation, dvb::Modulation::kPsk8);
  EXPECT_EQ(query.pilots, satip::Pilots::kOn);
  EXPECT_EQ(query.rolloff, dvb::Rolloff::k35);
  EXPECT_EQ(query.symbol_rate_ksym, 27500u);
  EXPECT_EQ(query.fec, dvb::CodeRate::k9_10);
  EXPECT_EQ(query.pids->Listed(), (std::vector<std::uint16_t>{0, 17, 18}));
  EXPECT_EQ(FormatQuery(query), text);
  EXPECT_FALSE(query.add_pids.has_value());
}

TEST(SatipQuery, ClientsDifferencesAreReadAlike) {
  const Query plain = Parsed("src=1&freq=11778&pol=h&ro=0.20&msys=dvbs&sr=27500&fec=34&pids=0,16");
  // Percent-encoding, an "&amp;" from a channel list, empty items, upper
  // case, roll-off without "0.", unknown keys, a key given twice alike.
  EXPECT_EQ(Parsed("src=1&amp;freq=11778.000&&POL=H&ro=20&msys=DVBS&sr=27500&fec=34&"
                   "pids=0%2C16&x_pmt=100&freq=11778"),
            plain);
  // addpids and delpids given twice add up.
  const Query more = Parsed("addpids=1&addpids=2,3&delpids=4&delpids=5");
  EXPECT_EQ(more.add_pids->Text(), "1,2,3");
  EXPECT_EQ(more.del_pids->Text(), "4,5");
}

TEST(SatipQuery, AWrongValueIsAnErrorThatNamesItsKey) {
  const struct {
    const char* query;
    const char* key;
  } cases[] = {
      {"freq=abc", "freq:"},    {"freq=0", "freq:"},       {"freq=11778.1234", "freq:"},
      {"pol=x", "pol:"},        {"src=0", "src:"},         {"src=256", "src:"},
      {"msys=dvbt", "msys:"},   {"mtype=qam", "mtype:"},   {"sr=", "sr:"},
      {"fec=99", "fec:"},       {"ro=0.5", "ro:"},         {"plts=yes", "plts:"},
      {"pids=0,8193", "pids:"}, {"addpids=x", "addpids:"}, {"freq=11778&freq=12000", "freq:"},
      {"fe=-1", "fe:"},         {"freq=%zz", "query:"},    {"pids=1%2", "query:"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ErrorOf(c.query).rfind(c.key, 0), 0u) << c.query << " -> " << ErrorOf(c.query);
  }
  // Outside input is quoted, never written raw into the text.
  EXPECT_EQ(ErrorOf("pol=%0d%0aX"), "pol: \"\\x0D\\x0AX\" is not one of h, v, l, r");
}

TEST(SatipQuery, PidSetsAreAllNoneOrABoundedList) {
  PidSet pids;
  std::string error;
  ASSERT_TRUE(ParsePids("all", &pids, &error));
  EXPECT_TRUE(pids.all());
  EXPECT_TRUE(pids.Contains(8191));
  ASSERT_TRUE(ParsePids("0,8192", &pids, &error));  // 8192: the whole stream, as some write it
  EXPECT_EQ(pids.Text(), "all");
  ASSERT_TRUE(ParsePids("none", &pids, &error));
  EXPECT_TRUE(pids.none());
  EXPECT_EQ(pids.Text(), "");
  ASSERT_TRUE(ParsePids("18,0,17,17", &pids, &error));
  EXPECT_EQ(pids.Text(), "0,17,18");

  std::string list;
  for (int pid = 0; pid <= 128; ++pid) {
    list += (pid ? "," : "") + std::to_string(pid);
  }
  EXPECT_FALSE(ParsePids(list, &pids, &error));
  EXPECT_EQ(error, "more than 128 PIDs");
}

TEST(SatipQuery, PidsReplaceThenAddpidsAddAndDelpidsRemove) {
  PidSet pids;
  std::string error;
  ASSERT_TRUE(ApplyPids(Parsed("pids=0,17"), &pids, &error));
  ASSERT_TRUE(ApplyPids(Parsed("addpids=18,19&delpids=0"), &pids, &error));
  EXPECT_EQ(pids.Text(), "17,18,19");
  ASSERT_TRUE(ApplyPids(Parsed("pids=all&delpids=17"), &pids, &error));
  EXPECT_EQ(pids.Text(), "all");
  ASSERT_TRUE(ApplyPids(Parsed("pids=none"), &pids, &error));
  EXPECT_TRUE(pids.none());

  PidSet full;
  for (int pid = 0; pid < 128; ++pid) {
    ASSERT_TRUE(ApplyPids(Parsed("addpids=" + std::to_string(pid)), &full, &error));
  }
  EXPECT_FALSE(ApplyPids(Parsed("addpids=500"), &full, &error));
  EXPECT_EQ(full.ListedCount(), 128u);
}

TEST(SatipQuery, AQueryWithFreqIsANewTuningOtherTuningKeysChangeTheCurrentOne) {
  std::optional<Tuning> tuning;
  std::string error;
  EXPECT_FALSE(ApplyTuning(Parsed("pol=h"), &tuning, &error));
  EXPECT_EQ(error, "freq: missing (the stream has no tuning to change)");
  EXPECT_FALSE(ApplyTuning(Parsed("freq=11778&pol=v"), &tuning, &error));
  EXPECT_EQ(error, "sr: missing (a tuning with freq needs pol and sr)");

  // VDR leaves out ro, plts and mtype: src 1 and DVB-S unless given.
  ASSERT_TRUE(ApplyTuning(Parsed("freq=11778&pol=v&sr=27500&fec=34&pids=0"), &tuning, &error));
  EXPECT_EQ(tuning->src, 1);
  EXPECT_EQ(tuning->system, dvb::DeliverySystem::kDvbS);
  EXPECT_FALSE(tuning->modulation.has_value());

  ASSERT_TRUE(ApplyTuning(Parsed("src=2&pol=h"), &tuning, &error));
  EXPECT_EQ(FormatQuery(satip::TuningQuery(*tuning)),
            "src=2&freq=11778&pol=h&msys=dvbs&sr=27500&fec=34");
  EXPECT_FALSE(satip::SameTransponder(*tuning, Tuning{}));

  const std::optional<Tuning> before = tuning;
  ASSERT_TRUE(ApplyTuning(Parsed("pids=0,17"), &tuning, &error));
  EXPECT_EQ(tuning, before);
  // A new freq starts afresh: the switch input goes back to 1.
  ASSERT_TRUE(ApplyTuning(Parsed("freq=12012&pol=v&sr=30000"), &tuning, &error));
  EXPECT_EQ(tuning->src, 1);
  EXPECT_FALSE(tuning->fec.has_value());
}

}  // namespace
