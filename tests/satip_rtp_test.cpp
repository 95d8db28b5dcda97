// RTP datagrams of whole TS packets, and the RTCP reports whose SES1 status
// string a client reads the signal from, as this server writes them and as
// other servers write them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "satip/rtcp.h"
#include "satip/rtp.h"
#include "satip/status.h"

namespace {

using satip::ParseStatus;
using satip::RtpPacket;
using satip::Status;
using Bytes = std::vector<std::uint8_t>;

satip::Tuning Dvbs() {
  satip::Tuning tuning;
  tuning.frequency_khz = 11778000;
  tuning.polarization = dvb::Polarization::kVertical;
  tuning.symbol_rate_ksym = 27500;
  tuning.fec = dvb::CodeRate::k3_4;
  return tuning;
}

TEST(SatipRtp, DatagramsCarryUpToSevenWholePacketsNumberedInTurn) {
  Bytes packets(10 * satip::kTsPacket);
  for (std::size_t i = 0; i < packets.size(); ++i) {
    packets[i] = static_cast<std::uint8_t>(i % 188 == 0 ? 0x47 : i / 188);
  }
  satip::RtpPacker packer(0xCAFEF00D, 65535);
  Bytes datagram(satip::kMaxDatagram);
  ASSERT_EQ(packer.Pack(packets.data(), 10, 900, datagram.data()), 1328u);
  RtpPacket packet;
  ASSERT_TRUE(satip::ParseRtp(datagram.data(), 1328, &packet));
  EXPECT_EQ(packet.header.payload_type, 33);
  EXPECT_EQ(packet.header.sequence, 65535);
  EXPECT_EQ(packet.header.timestamp, 900u);
  EXPECT_EQ(packet.header.ssrc, 0xCAFEF00Du);
  EXPECT_EQ(Bytes(packet.payload, packet.payload + packet.payload_size),
            Bytes(packets.begin(), packets.begin() + 7 * satip::kTsPacket));

  // The rest, put in place first, then an empty one as sent while there is no
  // data; the sequence wraps.
  std::copy(packets.begin() + 7 * satip::kTsPacket, packets.end(), datagram.begin() + 12);
  ASSERT_EQ(packer.PackHeader(3, 1800, datagram.data()), 12u + 3 * 188);
  ASSERT_TRUE(satip::ParseRtp(datagram.data(), 12 + 3 * 188, &packet));
  EXPECT_EQ(packet.header.sequence, 0);
  EXPECT_EQ(Bytes(packet.payload, packet.payload + packet.payload_size),
            Bytes(packets.begin() + 7 * satip::kTsPacket, packets.end()));
  ASSERT_EQ(packer.Pack(nullptr, 0, 2700, datagram.data()), 12u);
  ASSERT_TRUE(satip::ParseRtp(datagram.data(), 12, &packet));
  EXPECT_EQ(packet.header.sequence, 1);
  EXPECT_EQ(packet.payload_size, 0u);
  EXPECT_EQ(packer.datagrams(), 3u);
  EXPECT_EQ(packer.payload_octets(), 10u * 188);

  EXPECT_EQ(satip::RtpTimestamp(std::chrono::seconds(1)), 90000u);
  EXPECT_EQ(satip::RtpTimestamp(std::chrono::microseconds(11)), 0u);
  EXPECT_EQ(satip::RtpTimestamp(std::chrono::hours(14)),
            static_cast<std::uint32_t>(14ull * 3600 * 90000));
}

TEST(SatipRtp, CsrcsExtensionAndPaddingAreTakenOffAndWhatIsNotRtpRefused) {
  // Version 2, padding, extension, 2 CSRCs; an extension of one word; 4 bytes
  // of payload; 3 bytes of padding.
  Bytes datagram = {0xB2, 33, 0,    1,    0, 0, 0, 2, 0, 0, 0,   3,   1,   1,   1, 1, 2, 2,
                    2,    2,  0xBE, 0xDE, 0, 1, 9, 9, 9, 9, 'd', 'a', 't', 'a', 0, 0, 3};
  RtpPacket packet;
  ASSERT_TRUE(satip::ParseRtp(datagram.data(), datagram.size(), &packet));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(packet.payload), packet.payload_size),
            "data");

  const auto refused = [](Bytes bytes) {
    RtpPacket ignored;
    return !satip::ParseRtp(bytes.data(), bytes.size(), &ignored);
  };
  EXPECT_TRUE(refused({0x80, 33, 0, 1, 0, 0, 0, 2, 0, 0, 0}));     // short
  EXPECT_TRUE(refused({0x40, 33, 0, 1, 0, 0, 0, 2, 0, 0, 0, 3}));  // version 1
  EXPECT_TRUE(refused({0x81, 33, 0, 1, 0, 0, 0, 2, 0, 0, 0, 3}));  // CSRC beyond the end
  EXPECT_TRUE(refused({0x90, 33, 0, 1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 9}));  // extension beyond
  EXPECT_TRUE(refused({0xA0, 33, 0, 1, 0, 0, 0, 2, 0, 0, 0, 3, 5}));           // padding beyond
  EXPECT_TRUE(refused({0xA0, 33, 0, 1, 0, 0, 0, 2, 0, 0, 0, 3, 0}));           // padding of 0
  EXPECT_TRUE(refused({0x80, 200, 0, 6, 0, 0, 0, 2, 0, 0, 0, 3}));             // an RTCP report
}

TEST(SatipRtcp, TheReportCarriesTheStatusThatAClientReadsBack) {
  satip::Signal signal;
  signal.level = 300;  // clamped to 255
  signal.lock = true;
  signal.quality = 12;
  const std::string text = satip::StatusText(1, Dvbs(), signal, satip::PidSet::All());
  EXPECT_EQ(text, "ver=1.0;src=1;tuner=1,255,1,12,11778.00,v,dvbs,qpsk,off,0.35,27500,34;pids=all");
  EXPECT_EQ(satip::StatusText(1, std::nullopt, {}, satip::PidSet()),
            "ver=1.0;src=1;tuner=1,0,0,0,,,,,,,,;pids=");

  satip::SenderReport report;
  report.ssrc = 0x11223344;
  report.ntp_time =
      satip::NtpTime(std::chrono::seconds(1700000000) + std::chrono::milliseconds(500));
  report.packets = 7;
  const Bytes rtcp = satip::BuildRtcp(report, "morvalind", text);
  ASSERT_EQ(rtcp.size() % 4, 0u);
  EXPECT_EQ(rtcp[1], 200);          // the sender report first
  EXPECT_EQ(rtcp[4 * 7 + 1], 202);  // then SDES
  EXPECT_EQ(report.ntp_time, (1700000000ull + 2208988800ull) << 32 | 0x80000000u);
  std::string found;
  ASSERT_TRUE(satip::FindSes1(rtcp.data(), rtcp.size(), &found));
  EXPECT_EQ(found, text);

  Status status;
  std::string error;
  ASSERT_TRUE(ParseStatus(found, &status, &error)) << error;
  EXPECT_EQ(status.version, "1.0");
  EXPECT_EQ(status.signal.level, 255);
  EXPECT_TRUE(status.signal.lock);
  EXPECT_EQ(status.signal.quality, 12);
  EXPECT_EQ(status.values.frequency_khz, 11778000u);
  EXPECT_EQ(status.values.fec, dvb::CodeRate::k3_4);
  EXPECT_TRUE(status.values.pids->all());

  // Cut short, or not RTCP: no status.
  EXPECT_FALSE(satip::FindSes1(rtcp.data(), rtcp.size() - 4, &found));
  const Bytes rtp(12, 0x40);
  EXPECT_FALSE(satip::FindSes1(rtp.data(), rtp.size(), &found));
}

TEST(SatipRtcp, StatusStringsAsOtherServersWriteThemRead) {
  const struct {
    const char* text;
    int level;
    bool lock;
    int quality;
    const char* rolloff_pids;  // "ro pids" as read back, "-" for absent
  } cases[] = {
      {"ver=1.0;src=1;tuner=1,200,1,15,11778.00,v,dvbs2,8psk,on,35,27500,34;pids=0,17", 200, true,
       15, "0.35 0,17"},
      {"ver=1.0;src=1;tuner=1,0,0,0,,,,,,,,;pids=", 0, false, 0, "- "},
      {"ver=1.1;tuner=1,180,1,8,11778,v,dvbs,,,,27500,34", 180, true, 8, "- -"},
      {"tuner=1,999,7,99,11778.000,v,dvbs,qpsk,off,0.20,27500,34,extra;pids=all;x=1", 255, true, 15,
       "0.20 all"},
      {" ver=1.0 ; tuner = 2,10,1,3 ; pids = 16", 10, true, 3, "- 16"},
  };
  for (const auto& c : cases) {
    Status status;
    std::string error;
    ASSERT_TRUE(ParseStatus(c.text, &status, &error)) << c.text << ": " << error;
    EXPECT_EQ(status.signal.level, c.level) << c.text;
    EXPECT_EQ(status.signal.lock, c.lock) << c.text;
    EXPECT_EQ(status.signal.quality, c.quality) << c.text;
    const std::string rolloff = satip::FormatKey("ro", status.values);
    const std::string pids = status.values.pids ? status.values.pids->Text() : "-";
    EXPECT_EQ((rolloff.empty() ? "-" : rolloff) + " " + pids, c.rolloff_pids) << c.text;
  }
  Status status;
  std::string error;
  for (const char* bad : {"ver=1.0;src=1;pids=0", "tuner=1,high,1,15", "tuner=1,200,1", ""}) {
    EXPECT_FALSE(ParseStatus(bad, &status, &error)) << bad;
  }
}

}  // namespace
