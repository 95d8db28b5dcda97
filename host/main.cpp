// morvalind-host: loads a device module the way the host application does and
// lets a person drive the card from the command line. The command line is read
// once into typed options (command_line.cpp); each command is one function
// (options.h) that reports as text or JSON (report.h).
#include <algorithm>
#include <string>
#include <vector>

#include "host/options.h"
#include "host/program.h"
#include "host/report.h"
#include "host/session.h"
#include "host/system.h"

namespace host {
namespace {

struct CommandRun {
  const char* name;
  int (*run)(const Options& options);
};
constexpr CommandRun kRuns[] = {
    {"info", RunInfo},         {"open", RunOpen},       {"tune", RunSignal}, {"signal", RunSignal},
    {"diseqc", RunDiseqc},     {"capture", RunCapture}, {"demo", RunDemo},   {"scan", RunScan},
    {"adapters", RunAdapters}, {"serve", RunServe}};

}  // namespace
}  // namespace host

int main(int argc, char** argv) {
  const std::vector<std::string> words(argv + (argc > 0 ? 1 : 0), argv + argc);
  // A bad command line is answered in JSON already when --json is among the words.
  host::SetUpReport(std::find(words.begin(), words.end(), "--json") != words.end(), false);
  host::Options options;
  int status = host::kExitOk;
  if (!host::ReadCommandLine(words, &options, &status)) {
    // Help and the LNB list end here as text; --version --json and a bad command line as JSON.
    return status == host::kExitOk && host::Report().empty() ? status : host::FinishReport(status);
  }
  // The stream (capture -o -) or the channel file (scan without -o FILE) on standard output.
  host::SetUpReport(options.json,
                    (options.command == "capture" && options.out == "-") ||
                        (options.command == "scan" && (options.out.empty() || options.out == "-")),
                    options.quiet);
  host::CatchStopRequests();
  AnswerMessageBoxes(host::ReportModuleMessage);
  for (const host::CommandRun& command : host::kRuns) {
    if (options.command == command.name) {
      status = command.run(options);
    }
  }
  status = host::FinishReport(status);
  host::ReadyToEnd();
  return status;
}
