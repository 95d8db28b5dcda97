// The SDP of a SAT>IP 1.2.2 DESCRIBE answer: the server, its number of DVB-S2
// tuners, and per stream its control URL and status string:
//   v=0
//   o=- 1 7 IN IP4 192.168.1.5
//   s=SatIPServer:1 1
//   t=0 0
//   m=video 0 RTP/AVP 33
//   c=IN IP4 0.0.0.0
//   a=control:stream=1
//   a=fmtp:33 ver=1.0;src=1;tuner=1,240,1,15,11778.00,v,dvbs,qpsk,off,0.35,27500,34;pids=0,17
//   a=sendonly
// A client reads the status back from it where no RTCP arrives (over HTTP).
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "satip/status.h"

namespace satip {

struct SdpStream {
  int id = 0;
  std::string status;    // StatusText
  bool playing = false;  // a=sendonly; a=inactive while set up and not playing
};

// Lines end in CRLF. `address` is the server's, as the client reached it (IP6
// when it holds a colon); `version` changes whenever the streams do.
std::string DescribeSdp(std::string_view address, std::uint64_t version, int tuners,
                        const std::vector<SdpStream>& streams);

struct SdpMedia {
  std::optional<int> stream;     // from a=control:...stream=N
  bool playing = true;           // false for a=inactive or a=recvonly
  std::optional<Status> status;  // absent when a=fmtp:33 is missing or does not read
};

// Each m= section, leniently (LF or CRLF, other attributes passed over).
// False with a reason in *error when the text does not begin with v=0.
bool ParseSdp(std::string_view text, std::vector<SdpMedia>* media, std::string* error);

}  // namespace satip
