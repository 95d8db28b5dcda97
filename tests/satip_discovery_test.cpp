// How a client finds the server and learns of its streams: SSDP
// announcements and answers, the device description, the DESCRIBE answer's
// SDP with its status strings.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "satip/description.h"
#include "satip/sdp.h"
#include "satip/ssdp.h"

namespace {

using satip::Announcement;
using satip::Message;

satip::Device Server() {
  satip::Device device;
  device.uuid = "6b0c9c1e-53b4-4d8e-9f5a-0123456789ab";
  device.location = "http://10.0.0.5:8080/desc.xml";
  device.server = "Linux/6.1 UPnP/1.1 Morvalind/1.0";
  device.boot_id = 3;
  return device;
}

Message Datagram(const std::string& text) {
  Message message;
  EXPECT_EQ(satip::ParseMessage(text, &message), satip::ReadError::kNone) << text;
  return message;
}

TEST(SatipSsdp, NoticesAndAnswersReadBackAsAClientReadsThem) {
  const std::vector<std::string> alive = satip::AliveNotices(Server());
  ASSERT_EQ(alive.size(), 3u);
  EXPECT_EQ(alive[2],
            "NOTIFY * HTTP/1.1\r\n"
            "HOST: 239.255.255.250:1900\r\n"
            "NT: urn:ses-com:device:SatIPServer:1\r\n"
            "NTS: ssdp:alive\r\n"
            "USN: uuid:6b0c9c1e-53b4-4d8e-9f5a-0123456789ab::urn:ses-com:device:SatIPServer:1\r\n"
            "CACHE-CONTROL: max-age=1800\r\n"
            "LOCATION: http://10.0.0.5:8080/desc.xml\r\n"
            "SERVER: Linux/6.1 UPnP/1.1 Morvalind/1.0\r\n"
            "BOOTID.UPNP.ORG: 3\r\n"
            "CONFIGID.UPNP.ORG: 1\r\n"
            "DEVICEID.SES.COM: 1\r\n"
            "\r\n");
  std::vector<std::string> targets;
  for (const std::string& text : alive) {
    Announcement announcement;
    std::string error;
    ASSERT_TRUE(satip::ParseAnnouncement(Datagram(text), &announcement, &error)) << error;
    EXPECT_EQ(announcement.kind, Announcement::Kind::kAlive);
    EXPECT_EQ(announcement.location, Server().location);
    EXPECT_EQ(announcement.max_age, 1800);
    EXPECT_EQ(satip::DeviceUuid(announcement.usn), Server().uuid);
    targets.push_back(announcement.target);
  }
  EXPECT_EQ(targets, (std::vector<std::string>{"upnp:rootdevice", "uuid:" + Server().uuid,
                                               satip::kSatIpDeviceType}));

  Announcement bye;
  std::string error;
  ASSERT_TRUE(satip::ParseAnnouncement(Datagram(satip::ByebyeNotices(Server())[0]), &bye, &error));
  EXPECT_EQ(bye.kind, Announcement::Kind::kByebye);
  EXPECT_EQ(bye.boot_id, 3);
}

TEST(SatipSsdp, ASearchForTheDeviceOrAllIsAnsweredAndOthersAreNot) {
  const std::string search =
      "M-SEARCH * HTTP/1.1\r\nHOST: 239.255.255.250:1900\r\nMAN: \"ssdp:discover\"\r\nMX: 9\r\n"
      "ST: urn:ses-com:device:SatIPServer:1\r\nUSER-AGENT: Linux/6.1 UPnP/1.1 client/1\r\n\r\n";
  satip::Search parsed;
  std::string error;
  ASSERT_TRUE(satip::ParseSearch(Datagram(search), &parsed, &error)) << error;
  EXPECT_EQ(parsed.mx, 5);  // at most 5
  const std::vector<std::string> answers = satip::SearchAnswers(Server(), parsed);
  ASSERT_EQ(answers.size(), 1u);
  Announcement answer;
  ASSERT_TRUE(satip::ParseAnnouncement(Datagram(answers[0]), &answer, &error)) << error;
  EXPECT_EQ(answer.kind, Announcement::Kind::kAnswer);
  EXPECT_EQ(answer.target, satip::kSatIpDeviceType);
  EXPECT_EQ(answer.device_id, 1);
  EXPECT_NE(answers[0].find("\r\nEXT: \r\n"), std::string::npos);

  const struct {
    const char* target;
    std::size_t answers;
  } targets[] = {
      {"ssdp:all", 3}, {"upnp:rootdevice", 1}, {"urn:schemas-upnp-org:device:MediaServer:1", 0}};
  for (const auto& t : targets) {
    EXPECT_EQ(satip::SearchAnswers(Server(), {t.target, 1}).size(), t.answers) << t.target;
  }

  for (const char* bad : {"M-SEARCH * HTTP/1.1\r\nMAN: \"ssdp:discover\"\r\n\r\n",
                          "M-SEARCH * HTTP/1.1\r\nST: ssdp:all\r\n\r\n",
                          "NOTIFY * HTTP/1.1\r\nMAN: \"ssdp:discover\"\r\nST: ssdp:all\r\n\r\n"}) {
    EXPECT_FALSE(satip::ParseSearch(Datagram(bad), &parsed, &error)) << bad;
  }
  Announcement ignored;
  EXPECT_FALSE(satip::ParseAnnouncement(
      Datagram(
          "NOTIFY * HTTP/1.1\r\nNT: upnp:rootdevice\r\nNTS: ssdp:alive\r\nUSN: uuid:x\r\n\r\n"),
      &ignored, &error));
  EXPECT_EQ(error, "SSDP: no LOCATION");
}

TEST(SatipSsdp, TheDeviceDescriptionNamesTheTunersAndEscapesItsTexts) {
  satip::DeviceDescription description;
  description.friendly_name = "Morvalind <den> & \"attic\"\x01";
  description.manufacturer = "Morvalind";
  description.model_name = "Morvalind serve";
  description.model_number = "1.0";
  description.uuid = Server().uuid;
  const std::string xml = satip::DescriptionXml(description);
  EXPECT_NE(xml.find("<deviceType>urn:ses-com:device:SatIPServer:1</deviceType>"),
            std::string::npos);
  EXPECT_NE(xml.find("<friendlyName>Morvalind &lt;den&gt; &amp; &quot;attic&quot;</friendlyName>"),
            std::string::npos);
  EXPECT_NE(xml.find("<UDN>uuid:" + Server().uuid + "</UDN>"), std::string::npos);
  EXPECT_NE(
      xml.find("<satip:X_SATIPCAP xmlns:satip=\"urn:ses-com:satip\">DVBS2-1</satip:X_SATIPCAP>"),
      std::string::npos);
  EXPECT_EQ(xml.find("manufacturerURL"), std::string::npos);
}

TEST(SatipSdp, TheDescribeAnswerListsEachStreamAndItsStatusReadsBack) {
  const std::string status =
      "ver=1.0;src=1;tuner=1,240,1,15,11778.00,v,dvbs,qpsk,off,0.35,27500,34;pids=0,17";
  const std::string sdp =
      satip::DescribeSdp("10.0.0.5", 7, 1, {{1, status, true}, {2, status, false}});
  EXPECT_EQ(sdp.substr(0, sdp.find("m=")),
            "v=0\r\no=- 1 7 IN IP4 10.0.0.5\r\ns=SatIPServer:1 1\r\nt=0 0\r\n");
  EXPECT_NE(
      sdp.find("m=video 0 RTP/AVP 33\r\nc=IN IP4 0.0.0.0\r\na=control:stream=2\r\na=fmtp:33 " +
               status + "\r\na=inactive\r\n"),
      std::string::npos);

  std::vector<satip::SdpMedia> media;
  std::string error;
  ASSERT_TRUE(satip::ParseSdp(sdp, &media, &error)) << error;
  ASSERT_EQ(media.size(), 2u);
  EXPECT_EQ(media[0].stream, 1);
  EXPECT_TRUE(media[0].playing);
  EXPECT_FALSE(media[1].playing);
  ASSERT_TRUE(media[0].status.has_value());
  EXPECT_EQ(media[0].status->signal.level, 240);

  // Another server's: LF only, a full control URL, an fmtp that does not read.
  ASSERT_TRUE(
      satip::ParseSdp("v=0\ns=SatIPServer:1 4\nm=video 0 RTP/AVP 33\n"
                      "a=control:rtsp://10.0.0.9/stream=5\na=fmtp:33 ver=1.0\n",
                      &media, &error));
  ASSERT_EQ(media.size(), 1u);
  EXPECT_EQ(media[0].stream, 5);
  EXPECT_FALSE(media[0].status.has_value());
  EXPECT_FALSE(satip::ParseSdp("RTSP/1.0 200 OK\r\n", &media, &error));
  EXPECT_EQ(satip::DescribeSdp("::1", 1, 1, {}).substr(0, 25), "v=0\r\no=- 1 1 IN IP6 ::1\r\n");
}

}  // namespace
