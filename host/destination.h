// Where an output goes, as the command line gives it: a file ("-" standard
// output), or a network destination, udp://HOST:PORT (also HOST:PORT alone
// after --udp) or rtp://HOST:PORT. HOST is a name, an IPv4 address or an IPv6
// address in brackets ([::1]:5008); PORT is 1..65535. Checked as it is read,
// so that a mistyped address is a usage mistake before the card is touched.
#pragma once
#include <cstdint>
#include <string>

namespace host {

struct Destination {
  enum class Kind { kFile, kUdp, kRtp };
  Kind kind = Kind::kFile;
  std::string path;  // kFile
  std::string host;  // kUdp, kRtp: without the brackets of an IPv6 address
  std::uint16_t port = 0;
  // "udp://239.1.1.1:1234", "rtp://[::1]:5008", or the path.
  std::string Name() const;
};

// How datagrams leave: the multicast (or unicast) hop limit, and the
// interface multicast goes out on (an IPv4 address of it, or the index of an
// IPv6 one); 0 and empty: the system's choice.
struct NetworkSending {
  int ttl = 0;
  std::string interface;
};

// A network destination; `network_only` (--udp): HOST:PORT without a scheme
// is UDP, and a path is an error. False with *error saying what is wrong.
bool ParseDestination(const std::string& text, bool network_only, Destination* destination,
                      std::string* error);

}  // namespace host
