// The Transport and Session headers of RTSP as SAT>IP 1.2.2 uses them:
//   Transport: RTP/AVP;unicast;client_port=5000-5001            (VLC)
//   Transport: RTP/AVP/UDP;unicast;client_port=5000-5001        (ffmpeg)
//   Transport: RTP/AVP/TCP;unicast;interleaved=0-1              (RTP inside RTSP)
//   Transport: RTP/AVP;multicast;destination=239.0.0.1;port=...;ttl=5
//   Session: 8273645512;timeout=60
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace satip {

struct PortPair {
  std::uint16_t first = 0;
  std::uint16_t second = 0;
  bool operator==(const PortPair& other) const {
    return first == other.first && second == other.second;
  }
};

struct Transport {
  bool tcp = false;  // RTP/AVP/TCP: RTP and RTCP as frames of the RTSP connection
  bool multicast = false;
  std::optional<PortPair> client_port;
  std::optional<PortPair> server_port;
  std::optional<PortPair> interleaved;  // channels 0..255
  std::optional<std::string> destination;
  std::optional<std::string> source;
  std::optional<int> ttl;
};

// The transports a Transport header offers, in the client's order; offers of
// other profiles than RTP/AVP are passed over. Read leniently: parameters in
// any order and case, spaces around them, a pair with one number meaning it
// and the next ("client_port=5000" is 5000-5001), unknown parameters passed
// over. False with a reason in *error when no RTP/AVP offer is left or a
// known parameter's value does not read.
bool ParseTransports(std::string_view header, std::vector<Transport>* transports,
                     std::string* error);

// "RTP/AVP;unicast;destination=10.0.0.2;client_port=5000-5001;server_port=6970-6971".
std::string FormatTransport(const Transport& transport);

struct SessionHeader {
  std::string id;
  std::optional<int> timeout;  // seconds
};

// "ID" or "ID;timeout=60"; an unreadable timeout is passed over. False for an
// empty or malformed ID.
bool ParseSessionHeader(std::string_view header, SessionHeader* session);
std::string FormatSessionHeader(const SessionHeader& session);

}  // namespace satip
