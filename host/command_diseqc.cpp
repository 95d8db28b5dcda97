// The diseqc command: a DiSEqC message, switch port, tone burst or positioner
// command.
#include "host/commands.h"

int RunDiseqc(const Options& options) {
  Session session(options.session);
  if (session.status() != kExitOk) {
    return session.status();
  }
  ReportSession(session);
  const DiseqcRequest& request = options.diseqc;
  const std::int32_t result = SendDiseqc(session.entries(), request.message, request.burst);
  Report()["diseqc"] = {{"what", request.what},
                        {"message", HexBytes(request.message)},
                        {"burst", request.burst != 0 ? Json(BurstName(request.burst)) : Json()},
                        {"result", result},
                        {"sent", result == kResultOk}};
  Say("DiSEqC            %s%s%s: %s (DeviceSendDiseqc %d)\n", request.what.c_str(),
      request.message.empty() ? "" : " ", HexBytes(request.message).c_str(),
      result == kResultOk ? "sent" : "refused", static_cast<int>(result));
  if (result != kResultOk) {
    return Fail(kExitFailure, "the card did not send " + request.what +
                                  " (DeviceSendDiseqc returned " + std::to_string(result) + ")");
  }
  return kExitOk;
}
