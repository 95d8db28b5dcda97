// Transport headers as VLC, ffmpeg and other clients write them, read
// leniently; the answers written; the Session header.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "satip/transport.h"

namespace {

using satip::ParseTransports;
using satip::PortPair;
using satip::Transport;

Transport First(const std::string& header) {
  std::vector<Transport> offers;
  std::string error;
  EXPECT_TRUE(ParseTransports(header, &offers, &error)) << header << ": " << error;
  return offers.empty() ? Transport() : offers.front();
}

TEST(SatipTransport, TheFormsClientsWriteRead) {
  const Transport vlc = First("RTP/AVP;unicast;client_port=40000-40001");
  EXPECT_FALSE(vlc.tcp);
  EXPECT_FALSE(vlc.multicast);
  EXPECT_EQ(vlc.client_port, (PortPair{40000, 40001}));

  const Transport ffmpeg_udp = First("RTP/AVP/UDP;unicast;client_port=16416-16417");
  EXPECT_EQ(ffmpeg_udp.client_port, (PortPair{16416, 16417}));
  const Transport ffmpeg_tcp = First("RTP/AVP/TCP;unicast;interleaved=0-1");
  EXPECT_TRUE(ffmpeg_tcp.tcp);
  EXPECT_EQ(ffmpeg_tcp.interleaved, (PortPair{0, 1}));

  // Any order, spaces, case, one number for a pair, unknown parameters.
  const Transport loose = First(" rtp/avp/tcp ; Interleaved = 4 ;mode=play; unicast ");
  EXPECT_TRUE(loose.tcp);
  EXPECT_EQ(loose.interleaved, (PortPair{4, 5}));

  const Transport multicast =
      First("RTP/AVP;multicast;destination=239.0.0.1;ttl=5;source=10.0.0.1;server_port=6970");
  EXPECT_TRUE(multicast.multicast);
  EXPECT_EQ(multicast.destination, "239.0.0.1");
  EXPECT_EQ(multicast.source, "10.0.0.1");
  EXPECT_EQ(multicast.ttl, 5);
  EXPECT_EQ(multicast.server_port, (PortPair{6970, 6971}));

  // Offers of other profiles are passed over.
  EXPECT_EQ(First("RTP/SAVP;unicast;client_port=1-2,RTP/AVP;unicast;client_port=3-4").client_port,
            (PortPair{3, 4}));
}

TEST(SatipTransport, WhatDoesNotReadIsAnError) {
  std::vector<Transport> offers;
  std::string error;
  for (const char* bad :
       {"RTP/SAVP;unicast", "", "RTP/AVP;client_port=x-1", "RTP/AVP;client_port=65535",
        "RTP/AVP/TCP;interleaved=255", "RTP/AVP;client_port=0-1", "RTP/AVP;ttl=300"}) {
    EXPECT_FALSE(ParseTransports(bad, &offers, &error)) << bad;
  }
  EXPECT_EQ(error, "Transport: ttl=\"300\" does not read");
}

TEST(SatipTransport, AnswersAndSessionHeadersAreWrittenAsClientsRead) {
  Transport udp;
  udp.destination = "10.0.0.2";
  udp.client_port = PortPair{40000, 40001};
  udp.server_port = PortPair{6970, 6971};
  EXPECT_EQ(satip::FormatTransport(udp),
            "RTP/AVP;unicast;destination=10.0.0.2;client_port=40000-40001;server_port=6970-6971");
  EXPECT_EQ(First(satip::FormatTransport(udp)).server_port, udp.server_port);
  Transport tcp;
  tcp.tcp = true;
  tcp.interleaved = PortPair{0, 1};
  EXPECT_EQ(satip::FormatTransport(tcp), "RTP/AVP/TCP;unicast;interleaved=0-1");

  satip::SessionHeader session;
  ASSERT_TRUE(satip::ParseSessionHeader(" 1234567890123456 ; timeout=30", &session));
  EXPECT_EQ(session.id, "1234567890123456");
  EXPECT_EQ(session.timeout, 30);
  ASSERT_TRUE(satip::ParseSessionHeader("abcdefgh;timeout=never", &session));
  EXPECT_FALSE(session.timeout.has_value());
  EXPECT_EQ(satip::FormatSessionHeader({"12345678", 60}), "12345678;timeout=60");
  EXPECT_FALSE(satip::ParseSessionHeader(";timeout=60", &session));
  EXPECT_FALSE(satip::ParseSessionHeader("a b", &session));
}

}  // namespace
