// Selecting the dish and tuning, and the report of it: see tuning.h.
#include "host/tuning.h"

#include <chrono>

#include "host/numbers.h"
#include "host/program.h"
#include "host/terminal.h"

namespace {

// "burst A, switch port 2 (E0 10 38 F6)": what the dish selection sent.
std::string DishText(const DishSelection& dish, const TuneReport& report) {
  std::string text;
  if (dish.burst != 0) {
    text = std::string("burst ") + BurstName(dish.burst);
  }
  if (dish.port != 0) {
    text += (text.empty() ? "" : ", ") + std::string("switch port ") + std::to_string(dish.port) +
            " (" + HexBytes(report.switch_message) + ")";
  }
  return text;
}

bool SelectsDish(const DishSelection& dish) { return dish.port != 0 || dish.burst != 0; }

}  // namespace

void SelectAndTune(const DeviceInterface& entries, const TuneRequest& request, TuneReport* report) {
  const Transponder& transponder = request.transponder;
  if (SelectsDish(request.dish)) {
    if (request.dish.port != 0) {
      const bool horizontal = MakeTuningRecord(transponder).polarity == 0;
      report->switch_message = SwitchMessage(request.dish.port, horizontal, transponder.tone);
    }
    report->switch_result = SendDiseqc(entries, report->switch_message, request.dish.burst);
    if (report->switch_result != kResultOk) {
      return;
    }
  }
  const TuningRecord record = MakeTuningRecord(transponder);
  const auto start = std::chrono::steady_clock::now();
  report->tune_result = entries.tune(&record);
  report->seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  report->signal = ReadSignal(entries);
}

bool Locked(const TuneReport& report) {
  return report.switch_result == kResultOk && report.tune_result == kResultOk;
}

void SayTune(const TuneRequest& request, const TuneReport& report) {
  const Transponder& transponder = request.transponder;
  if (SelectsDish(request.dish)) {
    Say("Dish              %s: %s\n", DishText(request.dish, report).c_str(),
        report.switch_result == kResultOk ? "sent" : "refused");
  }
  Say("Transponder       %s (LNB %s MHz, tone %s)\n", TransponderText(transponder).c_str(),
      ThousandthsText(transponder.lof_khz).c_str(), transponder.tone ? "on" : "off");
  if (report.switch_result == kResultOk) {
    Say("Tune              %s in %.2f s (DeviceTune %d)\n",
        report.tune_result == kResultOk ? "locked" : "no lock", report.seconds,
        static_cast<int>(report.tune_result));
    Say("Signal            %s\n",
        SignalLine(report.signal, TerminalWidth(ReportStream()) - 19).c_str());
  }
}

Json TransponderJson(const Transponder& t) {
  return {{"frequency_mhz", static_cast<double>(t.frequency_khz) / 1000},
          {"polarization", std::string(1, static_cast<char>(t.polarization))},
          {"symbol_rate_ksps", static_cast<double>(t.symbol_rate) / 1000},
          {"fec", FecName(t.fec_code)},
          {"inversion", InversionName(t.inversion)},
          {"lnb", t.lnb != nullptr ? t.lnb->name : "custom"},
          {"lof_mhz", static_cast<double>(t.lof_khz) / 1000},
          {"tone", t.tone}};
}

void AddTuneJson(const TuneRequest& request, const TuneReport& report, Json* object) {
  (*object)["transponder"] = TransponderJson(request.transponder);
  if (SelectsDish(request.dish)) {
    const DishSelection& dish = request.dish;
    (*object)["dish"] = {{"port", dish.port != 0 ? Json(dish.port) : Json()},
                         {"burst", dish.burst != 0 ? Json(BurstName(dish.burst)) : Json()},
                         {"message", HexBytes(report.switch_message)},
                         {"result", report.switch_result},
                         {"sent", report.switch_result == kResultOk}};
  }
  (*object)["tune"] = {
      {"result", report.tune_result}, {"locked", Locked(report)}, {"seconds", report.seconds}};
  (*object)["signal"] = SignalJson(report.signal);
}

int TuneFailure(const TuneRequest& request, const TuneReport& report) {
  if (report.switch_result != kResultOk) {
    return Fail(kExitFailure, "the card refused the dish selection (" +
                                  DishText(request.dish, report) + ", DeviceSendDiseqc returned " +
                                  std::to_string(report.switch_result) + ")");
  }
  return Fail(kExitNoLock, "no lock on " + TransponderText(request.transponder) +
                               " (DeviceTune returned " + std::to_string(report.tune_result) + ")");
}
