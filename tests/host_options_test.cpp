// The host program's command line read into typed options, as a person types
// it: the module's record in the agreed units, strict numbers, LNB types with
// their oscillator and tone, the DiSEqC messages, and a usage error (status 2,
// one line naming the option) for everything that does not fit.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "dvb/transponder.h"
#include "host/options.h"
#include "host/settle.h"
#include "host/system.h"
#include "host/tuning.h"

using namespace dvb;
using namespace host;

namespace {

using Words = std::vector<std::string>;

Words Tune(const std::string& freq, const std::string& pol = "V", const std::string& sr = "27500") {
  return {"tune", "--freq", freq, "--pol", pol, "--sr", sr};
}

Words With(Words words, const Words& more) {
  words.insert(words.end(), more.begin(), more.end());
  return words;
}

Options Accepted(const Words& words) {
  Options options;
  int status = -1;
  EXPECT_TRUE(ReadCommandLine(words, &options, &status)) << words[0] << " " << words.back();
  return options;
}

TuningRecord RecordFor(const Words& words) {
  const Options options = Accepted(words);
  return options.tune.has_value() ? MakeTuningRecord(options.tune->transponder) : TuningRecord{};
}

// Refused with status 2 and a message (on stderr) that holds `part`.
void ExpectRefused(const Words& words, const std::string& part) {
  Options options;
  int status = -1;
  testing::internal::CaptureStderr();
  EXPECT_FALSE(ReadCommandLine(words, &options, &status));
  const std::string said = testing::internal::GetCapturedStderr();
  EXPECT_EQ(status, 2) << said;
  EXPECT_NE(said.find(part), std::string::npos) << said;
}

std::string NotesFor(const Words& words) {
  testing::internal::CaptureStderr();
  Accepted(words);
  return testing::internal::GetCapturedStderr();
}

TEST(TuneOptions, FillEveryChannelWordInTheAgreedUnits) {
  const TuningRecord record = RecordFor(With(Tune("11778"), {"--fec", "3/4"}));
  EXPECT_EQ(+record.primary_value, 11778000u);  // kHz
  EXPECT_EQ(+record.word2_value, 27500000u);    // symbols per second
  EXPECT_EQ(+record.word3_value, 10600000u);    // high-band oscillator, kHz
  EXPECT_EQ(+record.word4_value, 1u);           // tone on
  EXPECT_EQ(+record.polarity, 1);               // vertical
  EXPECT_EQ(+record.fec_code, 0x34u);
  EXPECT_EQ(+record.tristate_option, 2u);  // inversion automatic by default
  EXPECT_EQ(+record.passthrough_0, 0u);

  const Options fractional = Accepted({"tune", "--freq=12551.125", "--pol=h", "--sr=22000.5"});
  const Transponder& t = fractional.tune->transponder;
  EXPECT_EQ(t.frequency_khz, 12551125u);
  EXPECT_EQ(t.symbol_rate, 22000500u);
  EXPECT_EQ(TransponderText(t), "12551.125 MHz H 22000.5 kSym/s FEC auto");
  EXPECT_EQ(ThousandthsText(11778100), "11778.1");
}

TEST(TuneOptions, NumbersAreDigitsWithUpToThreeDecimals) {
  for (const char* bad : {"0x2E02", "1e4", "11778MHz", "11778.1234", "11778.", ".5", "-11778",
                          " 11778", "nan", "99999999"}) {
    ExpectRefused(Tune(bad), "--freq");
  }
  ExpectRefused(Tune("11778", "V", "27500k"), "--sr");
  ExpectRefused(Tune("11.778"), "outside 10700..12750 MHz");
  ExpectRefused({"tune", "--pol", "V", "--sr", "27500"}, "--freq");
  ExpectRefused({"tune", "--freq", "11778", "--sr", "27500"}, "--pol");
  ExpectRefused(Tune("11778", "V", "999"), "1000..45000 kSym/s");
  ExpectRefused(With(Tune("11778"), {"--freq", "11778"}), "--freq");  // given twice
}

TEST(TuneOptions, TheUniversalLnbChoosesOscillatorAndToneByBand) {
  EXPECT_EQ(+RecordFor(Tune("10700")).word3_value, 9750000u);
  EXPECT_EQ(+RecordFor(Tune("11699.999")).word4_value, 0u);
  EXPECT_EQ(+RecordFor(Tune("11700")).word3_value, 10600000u);
  EXPECT_EQ(+RecordFor(Tune("12750")).word4_value, 1u);
  ExpectRefused(Tune("10699"), "--lnb");
  ExpectRefused(Tune("12751"), "--lnb");
}

TEST(TuneOptions, NamedLnbTypesAndAGivenOscillator) {
  const TuningRecord single = RecordFor(With(Tune("11778"), {"--lnb", "10750"}));
  EXPECT_EQ(+single.word3_value, 10750000u);
  EXPECT_EQ(+single.word4_value, 0u);
  EXPECT_EQ(+RecordFor(With(Tune("11778"), {"--lnb", "l10750"})).word3_value, 10750000u);
  const Options c_band = Accepted(With(Tune("3880", "R"), {"--lnb", "c-band"}));
  EXPECT_EQ(c_band.tune->transponder.lof_khz, 5150000u);
  EXPECT_EQ(TransponderText(c_band.tune->transponder).substr(0, 10), "3880 MHz R");
  EXPECT_EQ(+MakeTuningRecord(c_band.tune->transponder).polarity, 1);  // right-hand on 13 V

  EXPECT_EQ(+RecordFor(With(Tune("12700"), {"--lof", "10750", "--tone", "on"})).word4_value, 1u);
  ExpectRefused(With(Tune("12700"), {"--lof", "9750"}), "2150");  // 2950 MHz after the LNB
  ExpectRefused(With(Tune("11778"), {"--lnb", "10750", "--lof", "10750"}), "not both");
  ExpectRefused(With(Tune("11778"), {"--lnb", "ku"}), "--lnb");
}

TEST(TuneOptions, AToneAndAnOscillatorThatDisagreeGiveAHint) {
  EXPECT_NE(NotesFor(With(Tune("11778"), {"--lof", "10600"})).find("--tone on"), std::string::npos);
  EXPECT_NE(NotesFor(With(Tune("11778"), {"--tone", "off"})).find("9750 MHz"), std::string::npos);
  EXPECT_EQ(NotesFor(Tune("11778")), "");
  EXPECT_EQ(NotesFor(With(Tune("11778"), {"--lnb", "10750"})), "");
}

TEST(TuneOptions, NamesOfPolarisationsCodeRatesAndInversion) {
  EXPECT_EQ(+RecordFor(Tune("11778", "H")).polarity, 0);
  EXPECT_EQ(+RecordFor(Tune("11778", "l")).polarity, 0);
  ExpectRefused(Tune("11778", "X"), "--pol");
  const std::vector<std::pair<std::string, std::uint32_t>> rates = {
      {"1/2", 0x12}, {"2/3", 0x23}, {"3/4", 0x34}, {"4/5", 0x45}, {"5/6", 0x56},
      {"6/7", 0x67}, {"7/8", 0x78}, {"8/9", 0x89}, {"auto", 0}};
  for (const auto& rate : rates) {
    EXPECT_EQ(+RecordFor(With(Tune("11778"), {"--fec", rate.first})).fec_code, rate.second);
    EXPECT_EQ(FecName(rate.second), rate.first);
  }
  ExpectRefused(With(Tune("11778"), {"--fec", "0x34"}), "--fec");
  EXPECT_EQ(+RecordFor(With(Tune("11778"), {"--inversion", "on"})).tristate_option, 1u);
  ExpectRefused(With(Tune("11778"), {"--inversion", "2"}), "--inversion");
}

TEST(DiseqcOptions, MessagesOfThreeToSixBytesPortsPositionsAndBursts) {
  using Bytes = std::vector<std::uint8_t>;
  const Bytes expected{0xE0, 0x10, 0x38, 0xF3};
  for (const Words& spelling : {Words{"E0", "10", "38", "F3"}, Words{"e0 10 38 f3"},
                                Words{"0xE0,0x10,0x38,0xF3"}, Words{"E01038F3"}}) {
    EXPECT_EQ(Accepted(With({"diseqc"}, spelling)).diseqc.message, expected) << spelling[0];
  }
  ExpectRefused({"diseqc", "E0", "10"}, "3 to 6 bytes");
  ExpectRefused({"diseqc", "E0", "10", "38", "F3", "00", "00", "00"}, "3 to 6 bytes");
  ExpectRefused({"diseqc", "E0", "G1", "38"}, "hex");
  ExpectRefused({"diseqc", "E01", "38", "F3"}, "hex");
  ExpectRefused({"diseqc", "E0", "10", "38", "F3", "--port", "2"}, "one of");

  const Options port = Accepted({"diseqc", "--port", "2", "--pol", "h"});
  EXPECT_EQ(port.diseqc.message, (Bytes{0xE0, 0x10, 0x38, 0xF6}));
  EXPECT_EQ(Accepted({"diseqc", "--goto", "3"}).diseqc.message, (Bytes{0xE0, 0x31, 0x6B, 0x03}));
  const Options burst = Accepted({"diseqc", "--burst", "b"});
  EXPECT_TRUE(burst.diseqc.message.empty());
  EXPECT_EQ(burst.diseqc.burst, 2);  // the module's mode for burst B
  ExpectRefused({"diseqc", "--port", "5"}, "--port");
  // The port the stand-in reads back: ((x >> 2) & 3) + 1, with the band bit.
  EXPECT_EQ(SwitchMessage(4, true, true)[3], 0xFF);
}

TEST(CommandLine, OutputsDurationsAndWhatEndsTheProgramAtOnce) {
  const Words capture = With({"capture"}, {"--freq", "11778", "--pol", "V", "--sr", "27500"});
  EXPECT_EQ(Accepted(With(capture, {"-o=x.ts"})).out, "x.ts");
  EXPECT_EQ(Accepted(With(capture, {"--out=x.ts"})).out, "x.ts");
  const Options piped = Accepted(With(capture, {"-o", "-"}));
  EXPECT_EQ(piped.out, "-");
  EXPECT_FALSE(piped.seconds.has_value()) << "until interrupted";
  EXPECT_EQ(*Accepted(With(capture, {"-o", "x.ts", "--seconds", "5"})).seconds, 5);
  ExpectRefused(capture, "-o FILE");
  ExpectRefused(With(capture, {"-o", "x.ts", "--seconds", "0x10"}), "--seconds");
  EXPECT_EQ(*Accepted({"demo"}).seconds, 3);
  EXPECT_TRUE(Accepted({"signal", "--watch"}).watch);
  EXPECT_EQ(*Accepted({"signal", "--watch", "10"}).seconds, 10);
  // The limits, as the refusal states them.
  EXPECT_EQ(*Accepted(With(capture, {"-o", "x.ts", "--seconds", "1073741824"})).seconds, 1 << 30);
  EXPECT_EQ(*Accepted({"signal", "--watch", "1073741824"}).seconds, 1 << 30);
  ExpectRefused(With(capture, {"-o", "x.ts", "--seconds", "1073741825"}),
                "1073741825 is not a whole number 1..1073741824");
  ExpectRefused({"signal", "--watch", "10737418240"}, "is not a whole number 1..1073741824");
  ExpectRefused({"signal", "--pol", "V"}, "need --freq");
  ExpectRefused({"fly"}, "unknown command");
  ExpectRefused({}, "give a command");

  for (const Words& words :
       {Words{"--version"}, Words{"help", "--help"}, Words{"help", "tune"}, Words{"help", "help"},
        Words{"capture", "-h"}, Words{"tune", "--lnb", "list"}, Words{"--lnb", "list"}}) {
    Options options;
    int status = -1;
    testing::internal::CaptureStdout();
    EXPECT_FALSE(ReadCommandLine(words, &options, &status));
    const std::string said = testing::internal::GetCapturedStdout();
    EXPECT_EQ(status, 0) << words[0];
    const std::string expected = words[0] == "--version"  ? "morvalind-host 1.1.0 (git "
                                 : words.back() == "list" ? "c-band"
                                                          : "morvalind-host";
    EXPECT_NE(said.find(expected), std::string::npos) << said;
  }
}

// Mistakes answered in the program's own words: the option or command meant,
// the unit a number was likely given in.
TEST(CommandLine, MistakesGetTheNearestNameOrUnit) {
  ExpectRefused({"tune", "--frq", "11778", "--pol", "V", "--sr", "27500"},
                "tune has no option --frq; did you mean --freq?");
  ExpectRefused({"tune", "--udp", "x:1"}, "(capture has it)");
  ExpectRefused({"tnue"}, "did you mean tune?");
  ExpectRefused({"help", "tnue"}, "did you mean tune?");
  ExpectRefused({"--card", "x", "open"}, "--card goes after the command");
  ExpectRefused(Tune("11778000"), "did you give kHz? That is 11778 MHz");
  ExpectRefused(Tune("11.778"), "did you give GHz?");
  ExpectRefused(Tune("11778", "V", "27500000"), "did you give Sym/s? That is 27500 kSym/s");
  ExpectRefused(Tune("11778", "V", "27.5"), "did you give MSym/s?");
  ExpectRefused({"scan"}, "scan needs its FILE");
  ExpectRefused({"open", "--replay", "no-such.ts"}, "--replay no-such.ts:");
  EXPECT_TRUE(Accepted({"--json", "-q", "open"}).json);
}

// The Linux tools' short options: -c FILE and the channel by name, -t SECONDS,
// -a N; the channel file by default in the user's settings folder.
TEST(CommandLine, ShortOptionsAndTheChannelByName) {
  const std::string path = testing::TempDir() + "host_options_short.conf";
  std::FILE* file = std::fopen(path.c_str(), "w");
  ASSERT_NE(file, nullptr);
  std::fputs(
      "[News [HD]]\n\tDELIVERY_SYSTEM = DVBS\n\tFREQUENCY = 11778000\n"
      "\tPOLARIZATION = VERTICAL\n\tSYMBOL_RATE = 27500000\n",
      file);
  std::fclose(file);
  const Options named = Accepted({"capture", "news [hd", "-c", path, "-o", "x.ts", "-t", "5"});
  ASSERT_TRUE(named.tune.has_value());
  EXPECT_EQ(named.tune->transponder.frequency_khz, 11778000u);
  EXPECT_EQ(*named.seconds, 5);
  ExpectRefused({"tune", "News", "--channel", "News", "-c", path}, "give the channel once");
  const std::string default_file = DefaultChannelFile();
  EXPECT_EQ(default_file.substr(default_file.size() - 23),
            kWindowsSystem ? "morvalind\\channels.conf" : "morvalind/channels.conf");
#ifndef _WIN32
  EXPECT_EQ(Accepted({"open", "-a", "2"}).session.card.selector, "adapter2");
  ExpectRefused({"open", "-a", "2", "--card", "linux"}, "not both");
#endif
}

// The card library: a path on both targets; natively the Linux library with
// the adapter it is to open (MORVALIND_DVB) in the form the library reads.
TEST(CommandLine, TheCardLibraryChosen) {
  const auto card = [](const std::string& word) {
    return Accepted({"open", "--card", word}).session.card;
  };
  EXPECT_EQ(Accepted({"open"}).session.card.kind, CardKind::kDefault);
  EXPECT_EQ(card("x/ttlcdacc.dll").kind, CardKind::kPath);
  EXPECT_EQ(card("x/ttlcdacc.dll").path, "x/ttlcdacc.dll");
  EXPECT_EQ(card("satip").kind, CardKind::kSatip);
  EXPECT_EQ(card("satip").selector, "") << "MORVALIND_SATIP as it is: the settings or SSDP";
  EXPECT_EQ(card("satip:192.168.1.5").selector, "192.168.1.5:554");
  EXPECT_EQ(card("satip:[::1]:8554").selector, "[::1]:8554");
  ExpectRefused({"tune", "--card", "satip:host:99999"}, "satip:HOST[:PORT]");
#ifdef _WIN32
  ExpectRefused({"open", "--card", "linux"}, "Linux build");
  ExpectRefused({"open", "--card", "remote:host:5555"}, "Linux build");
#else
  EXPECT_EQ(card("linux").kind, CardKind::kLinux);
  EXPECT_EQ(card("linux").selector, "") << "MORVALIND_DVB as it is";
  EXPECT_EQ(card("linux:2").selector, "adapter2");
  EXPECT_EQ(card("linux:adapter1").selector, "adapter1");
  EXPECT_EQ(card("remote:host:5555").kind, CardKind::kLinux);
  EXPECT_EQ(card("remote:host:5555:adapter1").selector, "remote:host:5555:adapter1");
  ExpectRefused({"tune", "--card", "linux:one"}, "linux:adapterN");
  ExpectRefused({"open", "--card", "remote:host"}, "remote:HOST:PORT");
#endif
}

// A channel file's entry tunes as the same options would: its LNB by the
// dvbv5 name, SAT_NUMBER as the switch port (the options still over it); a
// scan passes over what this DVB-S card cannot tune, with a note.
TEST(ChannelOptions, AnEntryIsTheSameRequestAndAScanSkipsWhatCannotBeTuned) {
  const std::string path = testing::TempDir() + "host_options_channels.conf";
  std::FILE* file = std::fopen(path.c_str(), "w");
  ASSERT_NE(file, nullptr);
  std::fputs(
      "[C Band]\n\tDELIVERY_SYSTEM = DVBS\n\tFREQUENCY = 3880000\n\tPOLARIZATION = RIGHT\n"
      "\tSYMBOL_RATE = 27500000\n\tINNER_FEC = 3/4\n\tSAT_NUMBER = 1\n\tLNB = C-BAND\n"
      "[Two]\n\tDELIVERY_SYSTEM = DVBS2\n\tFREQUENCY = 11778000\n\tPOLARIZATION = VERTICAL\n"
      "\tSYMBOL_RATE = 27500000\n\tINNER_FEC = 9/10\n"
      "[Odd]\n\tDELIVERY_SYSTEM = DVBS\n\tFREQUENCY = 11778000\n\tPOLARIZATION = VERTICAL\n"
      "\tSYMBOL_RATE = 27500000\n\tINNER_FEC = 3/5\n"
      "[None]\n\tDELIVERY_SYSTEM = DVBS\n\tFREQUENCY = 11778000\n\tPOLARIZATION = VERTICAL\n"
      "\tSYMBOL_RATE = 27500000\n\tINNER_FEC = NONE\n",
      file);
  std::fclose(file);
  const Options given = Accepted({"tune", "--lnb", "c-band", "--freq", "3880", "--pol", "R", "--sr",
                                  "27500", "--fec", "3/4", "--port", "2"});
  const Options read = Accepted({"tune", "--channels", path, "--channel", "c band"});
  ASSERT_TRUE(read.tune.has_value() && given.tune.has_value());
  const TuningRecord a = MakeTuningRecord(given.tune->transponder);
  const TuningRecord b = MakeTuningRecord(read.tune->transponder);
  EXPECT_EQ(std::memcmp(&a, &b, sizeof a), 0);
  EXPECT_EQ(read.tune->dish.port, 2);
  EXPECT_EQ(
      Accepted({"tune", "--channels", path, "--channel", "C Band", "--port", "4"}).tune->dish.port,
      4);
  ExpectRefused({"tune", "--channels", path, "--channel", "Two"}, "DVB-S2");
  ExpectRefused({"tune", "--channels", path, "--channel", "Odd"}, "INNER_FEC 3/5 is not a DVB-S");
  EXPECT_EQ(Accepted({"tune", "--channels", path, "--channel", "None"}).tune->transponder.fec_code,
            0u);
  ExpectRefused({"tune", "--channels", path, "--channel", "Band"}, "did you mean: C Band");
  ExpectRefused({"tune", "--channels", path, "--channel", "C Band", "--freq", "3880"}, "leave out");
  testing::internal::CaptureStderr();
  const Options scan = Accepted({"scan", path});
  const std::string notes = testing::internal::GetCapturedStderr();
  EXPECT_NE(notes.find("line 15: skipped"), std::string::npos) << notes;
  EXPECT_NE(notes.find("skipped 1 DVB-S2 entry"), std::string::npos) << notes;
  ASSERT_EQ(scan.scan.size(), 2u);
  ASSERT_EQ(scan.scan_skipped.size(), 2u);
  EXPECT_TRUE(scan.scan_skipped[0].dvb_s2);
  EXPECT_EQ(scan.scan[0].request.transponder.lof_khz, 5150000u);
}

}  // namespace
