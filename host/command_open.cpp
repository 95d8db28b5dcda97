// The open command: open the card through the module, then close it.
#include "host/commands.h"
#include "host/packet_ring.h"

int RunOpen(const Options& options) {
  Session session(options.session);
  if (session.status() == kExitModule) {
    return kExitModule;
  }
  Report()["module"] = session.module_path();
  Report()["open"] = {{"result", session.open_result()},
                      {"opened", session.open_result() == kResultOk}};
  Say("Module            %s\n", session.module_path().c_str());
  Say("DeviceOpen        %d (%s)\n", static_cast<int>(session.open_result()),
      session.open_result() == kResultOk ? "opened" : "failed");
  if (session.status() != kExitOk) {
    return session.status();
  }
  ReportSession(session);
  const std::int32_t closed = session.Close();
  SayClose(closed);
  Report()["close"] = CloseJson(closed);
  const std::uint64_t packets = packet_ring.pushed() + packet_ring.dropped();
  Report()["packets"] = packets;
  Report()["misshaped_packets"] = MisshapedPackets();
  Say("Packets           %llu", static_cast<unsigned long long>(packets));
  if (MisshapedPackets() > 0) {
    Say(" (%llu not 188 bytes)", static_cast<unsigned long long>(MisshapedPackets()));
  }
  Say("\n");
  return closed == kResultOk ? kExitOk
                             : Fail(kExitFailure, "DeviceClose returned " + std::to_string(closed));
}
