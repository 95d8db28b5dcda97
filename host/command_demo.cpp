// The demo command: the stand-in card's lineup, every transponder tuned, one
// captured.
#include <chrono>
#include <cstdlib>

#include "host/capture.h"
#include "host/commands.h"
#include "host/numbers.h"
#include "host/stop.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

struct LineupRow {
  int satellite = 0;
  std::string satellite_name;
  std::vector<std::string> services;
  TuneRequest request;
  TuneReport report;
};

std::vector<std::string> Names(std::string list) {
  std::vector<std::string> names;
  for (std::size_t start = 0; start < list.size();) {
    const std::size_t end = std::min(list.find(';', start), list.size());
    names.push_back(list.substr(start, end - start));
    start = end + 1;
  }
  return names;
}

std::string Joined(const std::vector<std::string>& names) {
  std::string text;
  for (const std::string& name : names) {
    text += (text.empty() ? "" : "; ") + name;
  }
  return text;
}

// The stand-in card tells its lineup; for a real card the options give one
// transponder. False when there is neither.
bool ReadLineup(const CardLibrary& library, const Options& options, std::vector<LineupRow>* rows,
                int* status) {
  if (library.lineup_entry == nullptr) {
    if (!options.tune.has_value()) {
      *status = Fail(kExitUsage,
                     "the demo needs the stand-in card (its lineup) or a transponder given with "
                     "--freq, --pol and --sr; this card library has no lineup");
      return false;
    }
    LineupRow row;
    row.request = *options.tune;
    const DishSelection& dish = row.request.dish;
    row.satellite = dish.port > 0 ? dish.port - 1 : dish.burst > 0 ? dish.burst - 1 : 0;
    row.satellite_name = "(given)";
    rows->push_back(row);
    return true;
  }
  SimTransponder entry{};
  for (int index = 0; library.lineup_entry(index, &entry) == 0; ++index) {
    LineupRow row;
    row.satellite = entry.satellite;
    std::string name(64, '\0');
    const int length = library.satellite_name != nullptr
                           ? library.satellite_name(entry.satellite, &name[0], 64)
                           : -1;
    row.satellite_name = length >= 0 ? name.substr(0, std::min(length, 63))
                                     : "satellite " + std::to_string(entry.satellite);
    entry.services[sizeof entry.services - 1] = '\0';
    row.services = Names(entry.services);
    Transponder& t = row.request.transponder;
    t.frequency_khz = entry.frequency_mhz * 1000;
    t.polarization = entry.polarity == 'H' ? Polarization::kHorizontal : Polarization::kVertical;
    t.symbol_rate = entry.symbol_rate_ksps * 1000;
    t.fec_code = entry.fec_code;
    t.lnb = &LnbTypes()[0];
    std::string error;
    std::vector<std::string> notes;
    if (!ResolveTransponder(&t, &error, &notes)) {
      Note("lineup entry " + std::to_string(index) + " left out: " + error);
      continue;
    }
    row.request.dish.port = entry.satellite + 1;  // port 1 reaches satellite 0, port 2 satellite 1
    rows->push_back(row);
  }
  if (rows->empty()) {
    *status = Fail(kExitFailure, "the stand-in card's lineup is empty");
    return false;
  }
  return true;
}

std::string DemoFolder(const Options& options) {
  if (!options.out.empty()) {
    return options.out;
  }
#ifdef _WIN32
  char path[MAX_PATH] = {};
  const DWORD length = GetTempPathA(sizeof path, path);
  const std::string folder =
      std::string(path, length < sizeof path ? length : 0) + "morvalind-demo";
  CreateDirectoryA(folder.c_str(), nullptr);
#else
  const char* temp = std::getenv("TMPDIR");
  const std::string folder = std::string(temp != nullptr && *temp != '\0' ? temp : "/tmp") +
                             "/morvalind-demo-" + std::to_string(getuid());
  mkdir(folder.c_str(), 0755);
#endif
  return folder;
}

void SayRow(const LineupRow& row) {
  const Transponder& t = row.request.transponder;
  Say("%3d %-12s %-12s %-9s %-3c %6s %-4s %-7s %7d%% %6d%% %5.2fs %s\n", row.satellite,
      row.satellite_name.c_str(),
      row.request.dish.port != 0 ? HexBytes(row.report.switch_message).c_str() : "-",
      (ThousandthsText(t.frequency_khz) + " MHz").c_str(), static_cast<char>(t.polarization),
      ThousandthsText(t.symbol_rate).c_str(), FecName(t.fec_code).c_str(),
      row.report.switch_result != kResultOk ? "refused"
      : Locked(row.report)                  ? "Lock"
                                            : "No lock",
      Percent(row.report.signal.record.strength), Percent(row.report.signal.record.quality),
      row.report.seconds, Joined(row.services).c_str());
}

}  // namespace

int RunDemo(const Options& options) {
  const auto began = std::chrono::steady_clock::now();
#ifdef _WIN32
  const std::string capture_path = DemoFolder(options) + "\\morvalind-demo.ts";
#else
  const std::string capture_path = DemoFolder(options) + "/morvalind-demo.ts";
#endif
  Sinks sinks;
  std::string problem;
  sinks.push_back(OpenFileSink(capture_path, &problem));
  if (!problem.empty()) {
    return Fail(kExitFile, problem);
  }
  Session session(options.session);
  if (session.status() != kExitOk) {
    return session.status();
  }
  const DeviceInterfaceInfo& info = session.module().info();
  const CardLibrary& library = session.library();
  Report()["module"] = session.module_path();
  Report()["descriptor"] = DescriptorJson(info);
  Report()["card_library"] = library.path;
  Say("Morvalind demo\n");
  Say("Module            %s\n", session.module_path().c_str());
  Say("Device            %s, file version %s, product version %s\n",
      FieldText(info.device_name).c_str(), PackedVersion(info.file_version).c_str(),
      PackedVersion(info.product_version).c_str());
  Say("Author            %s\n", FieldText(info.author).c_str());
  Say("Card library      %s (%s)\n", library.path.c_str(),
      library.lineup_entry != nullptr ? "the stand-in card" : "no lineup: a real card");
  Say("DeviceOpen        0 (opened)\n\n");
  std::vector<LineupRow> rows;
  int status = kExitOk;
  if (!ReadLineup(library, options, &rows, &status)) {
    return status;
  }

  Say("%-3s %-12s %-12s %-9s %-3s %-6s %-4s %-7s %-8s %-7s %-6s %s\n", "Sat", "Satellite", "Switch",
      "Frequency", "Pol", "kSym/s", "FEC", "Lock", "Strength", "Quality", "Tune", "Services");
  const LineupRow* chosen = nullptr;
  Json lineup = Json::array();
  for (LineupRow& row : rows) {
    if (StopRequest() != nullptr) {
      break;
    }
    SelectAndTune(session.entries(), row.request, &row.report);
    if (Locked(row.report) &&
        (chosen == nullptr || row.services.size() > chosen->services.size())) {
      chosen = &row;
    }
    SayRow(row);
    Json services = Json::array();
    for (const std::string& name : row.services) {
      services.push_back({{"name", name}});
    }
    Json entry = {{"satellite", row.satellite},
                  {"satellite_name", row.satellite_name},
                  {"services", services}};
    AddTuneJson(row.request, row.report, &entry);
    lineup.push_back(entry);
  }
  Report()["lineup"] = lineup;

  CaptureResult result;
  bool captured = false;
  if (chosen != nullptr && StopRequest() == nullptr) {
    TuneReport again;
    SelectAndTune(session.entries(), chosen->request, &again);
    if (Locked(again)) {
      Say("\nCapture           %s s of %s to %s\n",
          ThousandthsText(static_cast<std::uint64_t>(*options.seconds * 1000)).c_str(),
          TransponderText(chosen->request.transponder).c_str(), capture_path.c_str());
      Capture(session.entries(), sinks, options.seconds, !JsonReport(), &result);
      captured = true;
    }
  }
  const std::int32_t closed = session.Close();
  const bool written = sinks[0]->Finish();
  if (captured) {
    Json capture = CaptureJson(result, sinks);
    capture["file"] = capture_path;
    capture["transponder"] = TransponderJson(chosen->request.transponder);
    Report()["capture"] = capture;
    SayCaptureSummary(result, sinks);
  }
  Report()["close"] = CloseJson(closed);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
  Report()["seconds"] = seconds;
  Say("\n");
  SayClose(closed);
  Say("Demo took %.1f s\n", seconds);
  if (StopRequest() != nullptr && !captured) {
    return kExitOk;
  }
  if (chosen == nullptr) {
    return Fail(kExitNoLock, "no transponder of the lineup locked, so nothing was captured");
  }
  if (!captured) {
    return Fail(kExitNoLock, "the capture's transponder did not lock again");
  }
  if (!written) {
    return Fail(kExitFile, sinks[0]->error());
  }
  return closed == kResultOk ? kExitOk
                             : Fail(kExitFailure, "DeviceClose returned " + std::to_string(closed));
}
