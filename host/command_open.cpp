// The open command: open the card through the module, then close it.
#include "host/options.h"
#include "host/packet_ring.h"

namespace host {

int RunOpen(const Options& options) {
  Session session(options.session);
  if (session.status() != kExitOk) {
    return session.status();
  }
  const int status = session.End(kExitOk);
  const std::uint64_t packets = packet_ring.pushed() + packet_ring.dropped();
  Report()["packets"] = packets;
  Report()["misshaped_packets"] = MisshapedPackets();
  Say("Packets           %llu, %llu of them not 188 bytes\n",
      static_cast<unsigned long long>(packets),
      static_cast<unsigned long long>(MisshapedPackets()));
  return status;
}

}  // namespace host
