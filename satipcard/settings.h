// Where the SAT>IP server is and how the card library talks to it. The host
// application passes nothing: the settings come from a small file beside the
// library (ttlcdacc-satip.ini, or the file MORVALIND_SATIP_SETTINGS names),
// and MORVALIND_SATIP=HOST[:PORT] names the server over the file's. Read at
// every OpenDevice. Pure: reading the file and the environment is card.cpp's.
//
//   # ttlcdacc-satip.ini
//   server = 192.168.1.5        # HOST[:PORT], RTSP port 554 by default; none: SSDP finds one
//   transport = udp             # udp (RTP over UDP), tcp (RTP in the RTSP connection), http
//   msys = auto                 # dvbs, dvbs2, auto (DVB-S, then DVB-S2 when no lock comes)
//   circular = no               # yes: 13 V asks for pol=r and 18 V for pol=l
//   http_port = 8080            # the server's HTTP port, for transport http
//   log =                       # the log file; empty: ttlcdacc-satip.log beside the library
//                               # (or in the folder for temporary files, where that is not written)
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace satipcard {

constexpr char kServerVariable[] = "MORVALIND_SATIP";
constexpr char kSettingsVariable[] = "MORVALIND_SATIP_SETTINGS";
constexpr char kSettingsFileName[] = "ttlcdacc-satip.ini";
constexpr char kLogFileName[] = "ttlcdacc-satip.log";
constexpr std::uint16_t kRtspPort = 554;
constexpr std::uint16_t kHttpPort = 8080;

enum class Transport : std::uint8_t { kUdp, kTcp, kHttp };
enum class SystemPolicy : std::uint8_t { kDvbS, kDvbS2, kAuto };

struct Server {
  std::string host;  // a name, an IPv4 address or an IPv6 one (without brackets)
  std::uint16_t port = kRtspPort;
  bool operator==(const Server& other) const { return host == other.host && port == other.port; }
};

struct Settings {
  std::optional<Server> server;  // none: the first server SSDP finds
  Transport transport = Transport::kUdp;
  SystemPolicy system = SystemPolicy::kAuto;
  bool circular = false;  // an LNB for circular polarisation: 13 V is r, 18 V is l
  std::uint16_t http_port = kHttpPort;
  std::string log;  // the log file; empty: kLogFileName beside the library (or in TEMP)
};

// "HOST", "HOST:PORT", "[IPV6]", "[IPV6]:PORT" or a bare IPv6 address. False
// with a reason in *error.
bool ParseServer(std::string_view text, Server* server, std::string* error);
// "192.168.1.5:554", "[::1]:8554".
std::string ServerText(const Server& server);

// The settings file: "key = value" lines, keys in any case, '#' or ';' to the
// end of a line a comment, [section] lines and empty lines passed over. Every
// key is optional; one the library does not know is an error, so that a typo
// is not silently ignored. Applied over *settings; false with "line N: ..."
// in *error.
bool ParseSettings(std::string_view text, Settings* settings, std::string* error);

const char* TransportName(Transport transport);  // "UDP", "TCP", "HTTP"
const char* PolicyName(SystemPolicy policy);     // "dvbs", "dvbs2", "auto"

}  // namespace satipcard
