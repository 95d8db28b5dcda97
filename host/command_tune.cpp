// The tune command: tune a transponder and report lock and signal.
#include "host/commands.h"

int RunTune(const Options& options) {
  Session session(options.session);
  if (session.status() != kExitOk) {
    return session.status();
  }
  ReportSession(session);
  TuneReport report;
  SelectAndTune(session.entries(), *options.tune, &report);
  AddTuneJson(*options.tune, report, &Report());
  SayTune(*options.tune, report);
  return Locked(report) ? kExitOk : TuneFailure(*options.tune, report);
}
