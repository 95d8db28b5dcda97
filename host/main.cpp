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

int main(int argc, char** argv) {
  const std::vector<std::string> words(argv + (argc > 0 ? 1 : 0), argv + argc);
  // A bad command line is answered in JSON already when --json is among the words.
  SetUpReport(std::find(words.begin(), words.end(), "--json") != words.end(), false);
  Options options;
  int status = kExitOk;
  if (!ReadCommandLine(words, &options, &status)) {
    // Help and the LNB list end here as text; --version --json and a bad command line as JSON.
    return status == kExitOk && Report().empty() ? status : FinishReport(status);
  }
  // The stream (capture -o -) or the channel file (scan without -o FILE) on standard output.
  SetUpReport(options.json,
              (options.command == "capture" && options.out == "-") ||
                  (options.command == "scan" && (options.out.empty() || options.out == "-")),
              options.quiet);
  CatchStopRequests();
  AnswerMessageBoxes(ReportModuleMessage);
  for (const CommandRun& command : kRuns) {
    if (options.command == command.name) {
      status = command.run(options);
    }
  }
  status = FinishReport(status);
  ReadyToEnd();
  return status;
}
