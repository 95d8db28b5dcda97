// The demo command: the stand-in card's lineup, every transponder tuned, one
// captured.
#include <chrono>
#include <filesystem>

#include "dvb/transponder.h"
#include "host/capture.h"
#include "host/options.h"
#include "host/service_json.h"
#include "host/system.h"

namespace host {

using dvb::FecName;
using dvb::HexBytes;
using dvb::LnbTypes;
using dvb::Polarization;
using dvb::PolarizationLetter;
using dvb::ResolveTransponder;
using dvb::ThousandthsText;
using dvb::Transponder;

namespace {

struct LineupRow {
  int satellite = 0;
  std::string satellite_name = "(given)";
  std::vector<std::string> services;
  TuneRequest request;
  TuneReport report;
};

// The stand-in card tells its lineup; for a real card the options give one
// transponder. Empty when there is neither.
std::vector<LineupRow> ReadLineup(const CardLibrary& library, const Options& options) {
  std::vector<LineupRow> rows;
  if (library.lineup_entry == nullptr && options.tune.has_value()) {
    rows.push_back({});
    rows[0].request = *options.tune;
    rows[0].satellite = std::max({1, options.tune->dish.port, options.tune->dish.burst}) - 1;
  }
  SimTransponder entry{};
  for (int index = 0; library.lineup_entry != nullptr && library.lineup_entry(index, &entry) == 0;
       ++index) {
    LineupRow row;
    row.satellite = entry.satellite;
    std::string name(64, '\0');
    const int length = library.satellite_name != nullptr
                           ? library.satellite_name(entry.satellite, &name[0], 64)
                           : -1;
    name.resize(static_cast<std::size_t>(std::max(0, length)));
    row.satellite_name = name;
    entry.services[sizeof entry.services - 1] = '\0';
    for (std::string list = entry.services; !list.empty();) {
      row.services.push_back(list.substr(0, list.find(';')));
      list.erase(0, std::min(list.size(), row.services.back().size() + 1));
    }
    Transponder& t = row.request.transponder;
    t.frequency_khz = entry.frequency_mhz * 1000;
    t.polarization = entry.polarity == 'H' ? Polarization::kHorizontal : Polarization::kVertical;
    t.symbol_rate = entry.symbol_rate_ksps * 1000;
    t.fec_code = entry.fec_code;
    t.lnb = &LnbTypes()[0];
    std::string error;
    std::vector<std::string> notes;
    row.request.dish.port = entry.satellite + 1;  // port 1 reaches satellite 0, port 2 satellite 1
    if (ResolveTransponder(&t, &error, &notes)) {
      rows.push_back(row);
    }
  }
  return rows;
}

// Tunes the row and shows it: a line of the table, an entry of "lineup".
void TuneRow(const DeviceInterface& entries, LineupRow* row, Json* lineup) {
  SelectAndTune(entries, row->request, &row->report);
  const Transponder& t = row->request.transponder;
  const TuneReport& report = row->report;
  std::string names;
  Json services = Json::array();
  for (const std::string& name : row->services) {
    names += (names.empty() ? "" : "; ") + name;
    services.push_back(NamedServiceJson(name));
  }
  Say("%3d %-12s %-12s %-9s %-3c %6s %-4s %-7s %7d%% %6d%% %5.2fs %s\n", row->satellite,
      row->satellite_name.c_str(),
      report.switch_message.empty() ? "-" : HexBytes(report.switch_message).c_str(),
      (ThousandthsText(t.frequency_khz) + " MHz").c_str(), PolarizationLetter(t.polarization),
      ThousandthsText(t.symbol_rate).c_str(), FecName(t.fec_code).c_str(),
      report.switch_result != kResultOk ? "refused"
      : Locked(report)                  ? "Lock"
                                        : "No lock",
      Percent(report.signal.record.strength), Percent(report.signal.record.quality), report.seconds,
      names.c_str());
  Json entry = {{"satellite", row->satellite},
                {"satellite_name", row->satellite_name},
                {"services", services}};
  ReportTune(row->request, report, &entry, false);
  lineup->push_back(entry);
}

}  // namespace

int RunDemo(const Options& options) {
  const Clock::time_point began = Clock::now();
  std::error_code ignored;
  const std::filesystem::path folder =
      !options.out.empty() ? std::filesystem::path(options.out)
                           : std::filesystem::temp_directory_path(ignored) / "morvalind-demo";
  std::filesystem::create_directories(folder, ignored);
  const std::string capture_path = (folder / "morvalind-demo.ts").string();
  Routes routes(1);
  Sinks& sinks = routes[0].sinks;
  std::string problem;
  sinks.push_back(OpenFileSink(capture_path, &problem));
  if (!problem.empty()) {
    return Fail(kExitFile, problem);
  }
  Say("Morvalind demo\n");
  Session session(options.session);
  if (session.status() != kExitOk) {
    return session.status();
  }
  ReportDescriptor(session.module().info());
  Say("\n");
  std::vector<LineupRow> rows = ReadLineup(session.library(), options);
  if (rows.empty()) {
    return session.End(Fail(kExitUsage,
                            "the demo needs the stand-in card (its lineup) or a transponder given "
                            "with --freq, --pol and --sr; this card library has no lineup"));
  }
  Say("Sat Satellite    Switch       Frequency Pol kSym/s FEC  Lock    Strength Quality Tune   "
      "Services\n");
  const LineupRow* chosen = nullptr;
  Report()["lineup"] = Json::array();
  for (LineupRow& row : rows) {
    if (StopRequest() == nullptr) {
      TuneRow(session.entries(), &row, &Report()["lineup"]);
      if (Locked(row.report) &&
          (chosen == nullptr || row.services.size() > chosen->services.size())) {
        chosen = &row;
      }
    }
  }
  CaptureResult result;
  TuneReport again;
  if (chosen != nullptr && StopRequest() == nullptr) {
    SelectAndTune(session.entries(), chosen->request, &again);
  }
  if (Locked(again)) {
    Say("\nCapture           %s s of %s to %s\n",
        ThousandthsText(static_cast<std::uint64_t>(*options.seconds * 1000)).c_str(),
        TransponderText(chosen->request.transponder).c_str(), capture_path.c_str());
    Capture(session.entries(), routes, options.seconds, !JsonReport(), &result);
  }
  const std::int32_t closed = session.Close();
  FinishSinks(sinks);
  const bool written = sinks[0]->error.empty();
  if (Locked(again)) {
    Json& capture = Report()["capture"] = ReportCapture(result, routes);
    capture["file"] = capture_path;
    capture["transponder"] = TransponderJson(chosen->request.transponder);
  }
  Report()["seconds"] = SecondsSince(began);
  Say("\n");
  const int status = ReportClose(closed);
  Say("Demo took %.1f s\n", SecondsSince(began));
  if (StopRequest() != nullptr) {
    return kExitOk;
  }
  if (!Locked(again)) {
    return Fail(kExitNoLock, chosen == nullptr
                                 ? "no transponder of the lineup locked, so nothing was captured"
                                 : "the capture's transponder did not lock again");
  }
  if (!written) {
    return Fail(kExitFile, sinks[0]->error);
  }
  return status;
}

}  // namespace host
