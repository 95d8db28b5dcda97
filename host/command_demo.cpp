// The demo command: the stand-in card's lineup, every transponder tuned, one
// captured.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "host/card_session.h"
#include "host/command_capture.h"
#include "host/commands.h"
#include "host/json.h"
#include "host/module.h"
#include "host/options.h"
#include "host/program.h"
#include "host/tuning.h"
#include "sim/control.h"  // the layout of the stand-in's lineup entries; nothing is linked

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

struct LineupRow {
  int satellite = 0;
  std::string satellite_name;
  std::string services;  // names separated by "; "
  Transponder transponder;
  DishSelection dish;
  TuneReport report;
};

// The stand-in card tells its lineup; for a real card the options give one
// transponder. False when there is neither.
bool ReadLineup(const CardLibrary& library, const Arguments& arguments,
                std::vector<LineupRow>* rows, int* status) {
  if (library.lineup_entry == nullptr) {
    if (!HasTransponder(arguments)) {
      *status = Fail(kExitUsage,
                     "the demo needs the stand-in card (its lineup) or a transponder "
                     "given with --freq, --pol and --sr; this card library has no "
                     "lineup");
      return false;
    }
    LineupRow row;
    if (!ReadTuneOptions(arguments, "demo", &row.transponder, &row.dish, status)) {
      return false;
    }
    row.satellite = row.dish.port > 0    ? row.dish.port - 1
                    : row.dish.burst > 0 ? row.dish.burst - 1
                                         : 0;
    row.satellite_name = "(given)";
    rows->push_back(row);
    return true;
  }
  SimTransponder entry{};
  for (int index = 0; library.lineup_entry(index, &entry) == 0; ++index) {
    LineupRow row;
    row.satellite = entry.satellite;
    char name[64] = {};
    if (library.satellite_name == nullptr ||
        library.satellite_name(entry.satellite, name, sizeof name) < 0) {
      std::snprintf(name, sizeof name, "satellite %d", static_cast<int>(entry.satellite));
    }
    row.satellite_name = name;
    entry.services[sizeof entry.services - 1] = '\0';
    row.services = entry.services;
    for (std::size_t at = row.services.find(';'); at != std::string::npos;
         at = row.services.find(';', at + 2)) {
      row.services.replace(at, 1, "; ");
    }
    const Arguments options = {{"--freq", std::to_string(entry.frequency_mhz)},
                               {"--pol", std::string(1, entry.polarity)},
                               {"--sr", std::to_string(entry.symbol_rate_ksps)},
                               {"--fec", FecName(entry.fec_code)}};
    std::string error;
    if (!ParseTransponder(options, &row.transponder, &error)) {
      std::fprintf(stderr, "%s: lineup entry %d skipped: %s\n", kProgram, index, error.c_str());
      continue;
    }
    // Port 1 reaches satellite 0, port 2 satellite 1.
    row.dish.port = entry.satellite + 1;
    rows->push_back(row);
  }
  if (rows->empty()) {
    *status = Fail(kExitFailure, "the stand-in card's lineup is empty");
    return false;
  }
  return true;
}

std::string DemoFolder(const Arguments& arguments) {
  std::string folder;
  if (const std::string* given = Find(arguments, "--out")) {
    folder = *given;
  } else {
#ifdef _WIN32
    char path[MAX_PATH] = {};
    const DWORD length = GetTempPathA(sizeof path, path);
    folder = std::string(path, length < sizeof path ? length : 0) + "morvalind-demo";
    CreateDirectoryA(folder.c_str(), nullptr);
#else
    const char* temp = std::getenv("TMPDIR");
    folder = std::string(temp != nullptr && *temp != '\0' ? temp : "/tmp") + "/morvalind-demo-" +
             std::to_string(getuid());
    mkdir(folder.c_str(), 0755);
#endif
  }
  return folder;
}

}  // namespace

int RunDemo(const Arguments& arguments) {
  const Clock::time_point began = Clock::now();
  const bool json = WantsJson(arguments);
  long seconds = 0;
  int status = kExitOk;
  if (!ReadSeconds(arguments, 3, &seconds, &status)) {
    return status;
  }
  const std::string folder = DemoFolder(arguments);
#ifdef _WIN32
  const std::string capture_path = folder + "\\morvalind-demo.ts";
#else
  const std::string capture_path = folder + "/morvalind-demo.ts";
#endif
  std::FILE* file = std::fopen(capture_path.c_str(), "wb");
  if (file == nullptr) {
    return Fail(kExitFile, "cannot write " + capture_path + ": " + std::strerror(errno));
  }
  const std::string module_path = ModulePath(arguments);
  CardSession card(arguments);
  if (card.status() != kExitOk) {
    std::fclose(file);
    std::remove(capture_path.c_str());
    return card.status();
  }
  const DeviceInterfaceInfo& info = card.module().info();
  const CardLibrary& library = card.library();
  if (!json) {
    std::printf("Morvalind demo\n");
    std::printf("Module            %s\n", module_path.c_str());
    std::printf("Device            %s, file version %s, product version %s\n",
                FieldText(info.device_name).c_str(), PackedVersion(info.file_version).c_str(),
                PackedVersion(info.product_version).c_str());
    std::printf("Author            %s\n", FieldText(info.author).c_str());
    std::printf("Card library      %s (%s)\n", library.path.c_str(),
                library.lineup_entry != nullptr ? "the stand-in card" : "no lineup: a real card");
    std::printf("DeviceOpen        0 (opened)\n\n");
  }
  std::vector<LineupRow> rows;
  if (!ReadLineup(library, arguments, &rows, &status)) {
    std::fclose(file);
    std::remove(capture_path.c_str());
    return status;
  }

  if (!json) {
    std::printf("%-3s %-12s %-12s %-9s %-3s %-6s %-4s %-7s %-8s %-7s %-6s %s\n", "Sat", "Satellite",
                "Switch", "Frequency", "Pol", "kSym/s", "FEC", "Lock", "Strength", "Quality",
                "Tune", "Services");
  }
  const LineupRow* chosen = nullptr;
  for (LineupRow& row : rows) {
    SelectAndTune(card.entries(), row.transponder, row.dish, &row.report);
    const bool locked =
        row.report.switch_result == kResultOk && row.report.tune_result == kResultOk;
    if (locked && (chosen == nullptr || row.services.size() > chosen->services.size())) {
      chosen = &row;
    }
    if (!json) {
      char frequency[40];
      std::snprintf(frequency, sizeof frequency, "%g MHz", row.transponder.frequency_mhz);
      std::printf("%3d %-12s %-12s %-9s %-3c %6g %-4s %-7s %7d%% %6d%% %5.2fs %s\n", row.satellite,
                  row.satellite_name.c_str(),
                  row.dish.port != 0 ? HexBytes(row.report.switch_message).c_str() : "-", frequency,
                  row.transponder.polarity, row.transponder.symbol_rate_ksps,
                  FecName(row.transponder.fec_code).c_str(),
                  row.report.switch_result != kResultOk ? "refused"
                  : locked                              ? "Lock"
                                                        : "No lock",
                  Percent(row.report.signal.record.strength),
                  Percent(row.report.signal.record.quality), row.report.seconds,
                  row.services.c_str());
      std::fflush(stdout);
    }
  }

  CaptureResult result;
  bool captured = false;
  if (chosen != nullptr) {
    TuneReport again;
    SelectAndTune(card.entries(), chosen->transponder, chosen->dish, &again);
    if (again.tune_result == kResultOk) {
      if (!json) {
        std::printf("\nCapture           %ld s of %s to %s\n", seconds,
                    TransponderText(chosen->transponder).c_str(), capture_path.c_str());
      }
      Capture(card.entries(), file, static_cast<double>(seconds), !json, &result);
      captured = true;
    }
  }
  const std::int32_t closed = card.Close();
  const bool file_ok = std::fclose(file) == 0 && !result.write_failed;
  if (!captured) {
    std::remove(capture_path.c_str());
  }
  if (json) {
    std::vector<std::string> lineup;
    for (const LineupRow& row : rows) {
      JsonFields fields = {{"satellite", JsonNumber(row.satellite)},
                           {"satellite_name", JsonText(row.satellite_name)},
                           {"services", JsonText(row.services)}};
      for (const auto& field : TuneJson(card, row.transponder, row.dish, row.report)) {
        if (field.first != "card_library") {
          fields.push_back(field);
        }
      }
      lineup.push_back(JsonObject(fields));
    }
    JsonFields fields = {{"module", JsonText(module_path)},
                         {"device", JsonText(FieldText(info.device_name))},
                         {"file_version", JsonText(PackedVersion(info.file_version))},
                         {"product_version", JsonText(PackedVersion(info.product_version))},
                         {"card_library", JsonText(library.path)},
                         {"lineup", JsonArray(lineup)}};
    if (captured) {
      JsonFields capture = {{"file", JsonText(capture_path)},
                            {"transponder", JsonObject(TransponderJson(chosen->transponder))}};
      for (const auto& field : StreamSummaryJson(result)) {
        capture.push_back(field);
      }
      fields.push_back({"capture", JsonObject(capture)});
    }
    fields.push_back({"close_result", JsonNumber(closed)});
    fields.push_back({"seconds", JsonNumber(SecondsSince(began))});
    PrintJson(fields);
  } else {
    if (captured) {
      PrintStreamSummary(result);
    }
    std::printf("\nDeviceClose       %d (%s)\n", static_cast<int>(closed),
                closed == kResultOk ? "closed" : "failed");
    std::printf("Demo took %.1f s\n", SecondsSince(began));
  }
  if (chosen == nullptr) {
    return Fail(kExitNoLock, "no transponder of the lineup locked, so nothing was captured");
  }
  if (!captured) {
    return Fail(kExitNoLock, "the capture's transponder did not lock again");
  }
  if (!file_ok) {
    return Fail(kExitFile, "writing " + capture_path + " failed: the file is incomplete");
  }
  return closed == kResultOk ? kExitOk : kExitFailure;
}
