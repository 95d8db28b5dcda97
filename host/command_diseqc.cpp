// The diseqc command: a DiSEqC message, switch port, tone burst or positioner
// command.
#include "host/options.h"

namespace host {

int RunDiseqc(const Options& options) {
  Session session(options.session);
  if (session.status() != kExitOk) {
    return session.status();
  }
  const DiseqcRequest& request = options.diseqc;
  const std::int32_t result = SendDiseqc(session.entries(), request.message, request.burst);
  const std::string what =
      (request.burst != 0 ? "burst " + std::string(BurstName(request.burst)) + " " : "") +
      dvb::HexBytes(request.message);
  Report()["diseqc"] = {{"message", dvb::HexBytes(request.message)},
                        {"burst", request.burst != 0 ? Json(BurstName(request.burst)) : Json()},
                        {"result", result},
                        {"sent", result == kResultOk}};
  Say("DiSEqC            %s: %s (DeviceSendDiseqc %d)\n", what.c_str(),
      result == kResultOk ? "sent" : "refused", static_cast<int>(result));
  return session.End(result == kResultOk ? kExitOk
                                         : Fail(kExitFailure, "the card did not send " + what +
                                                                  " (DeviceSendDiseqc returned " +
                                                                  std::to_string(result) + ")"));
}

}  // namespace host
