// Selecting the dish and tuning, and the report of it: see tuning.h.
#include "host/tuning.h"

#include <cstdio>

#include "host/program.h"

namespace {

// "burst A, switch port 2 (E0 10 38 F6)": what the dish selection sent.
std::string DishText(const DishSelection& dish, const TuneReport& report) {
  std::string text;
  if (dish.burst != 0) {
    text = std::string("burst ") + (dish.burst == 1 ? "A" : "B");
  }
  if (dish.port != 0) {
    text += (text.empty() ? "" : ", ") + std::string("switch port ") + std::to_string(dish.port) +
            " (" + HexBytes(report.switch_message) + ")";
  }
  return text;
}

}  // namespace

std::string TransponderText(const Transponder& transponder) {
  char text[128];
  std::snprintf(text, sizeof text, "%g MHz %c %g kSym/s FEC %s", transponder.frequency_mhz,
                transponder.polarity, transponder.symbol_rate_ksps,
                FecName(transponder.fec_code).c_str());
  return text;
}

JsonFields TransponderJson(const Transponder& transponder) {
  return {{"frequency_mhz", JsonNumber(transponder.frequency_mhz)},
          {"polarity", JsonText(std::string(1, transponder.polarity))},
          {"symbol_rate_ksps", JsonNumber(transponder.symbol_rate_ksps)},
          {"fec", JsonText(FecName(transponder.fec_code))},
          {"lof_mhz", JsonNumber(transponder.lof_khz / 1000.0)},
          {"tone", JsonBool(transponder.high_band)}};
}

bool SelectAndTune(const DeviceInterface& entries, const Transponder& transponder,
                   const DishSelection& dish, TuneReport* report) {
  if (dish.port != 0 || dish.burst != 0) {
    if (dish.port != 0) {
      report->switch_message =
          SwitchMessage(dish.port, transponder.polarity, transponder.high_band);
    }
    report->switch_result = SendDiseqc(entries, report->switch_message, dish.burst);
    if (report->switch_result != kResultOk) {
      return false;
    }
  }
  const TuningRecord record = MakeTuningRecord(transponder);
  const Clock::time_point start = Clock::now();
  report->tune_result = entries.tune(&record);
  report->seconds = SecondsSince(start);
  report->signal = ReadSignal(entries);
  return true;
}

bool ReadTuneOptions(const Arguments& arguments, const char* command, Transponder* transponder,
                     DishSelection* dish, int* status) {
  std::string error;
  if (!ParseTransponder(arguments, transponder, &error) ||
      !ParseDishSelection(arguments, dish, &error)) {
    *status = Fail(kExitUsage, error + " (see '" + kProgram + " help " + command + "')");
    return false;
  }
  return true;
}

void PrintTune(const CardSession& card, const Transponder& transponder, const DishSelection& dish,
               const TuneReport& report) {
  std::printf("Card library      %s\n", card.library().path.c_str());
  if (dish.port != 0 || dish.burst != 0) {
    std::printf("Dish              %s: %s\n", DishText(dish, report).c_str(),
                report.switch_result == kResultOk ? "sent" : "refused");
  }
  std::printf("Transponder       %s (LNB %g MHz, tone %s)\n", TransponderText(transponder).c_str(),
              transponder.lof_khz / 1000.0, transponder.high_band ? "on" : "off");
  if (report.switch_result == kResultOk) {
    std::printf("Tune              %s in %.2f s (DeviceTune %d)\n",
                report.tune_result == kResultOk ? "locked" : "no lock", report.seconds,
                static_cast<int>(report.tune_result));
    std::printf("Signal            %s\n", SignalLine(report.signal, true).c_str());
  }
}

JsonFields TuneJson(const CardSession& card, const Transponder& transponder,
                    const DishSelection& dish, const TuneReport& report) {
  JsonFields fields = {{"card_library", JsonText(card.library().path)},
                       {"transponder", JsonObject(TransponderJson(transponder))}};
  if (dish.port != 0 || dish.burst != 0) {
    fields.push_back({"dish", JsonObject({{"port", JsonNumber(dish.port)},
                                          {"burst", JsonNumber(dish.burst)},
                                          {"message", JsonText(HexBytes(report.switch_message))},
                                          {"result", JsonNumber(report.switch_result)}})});
  }
  fields.push_back({"tune_result", JsonNumber(report.tune_result)});
  fields.push_back({"locked", JsonBool(report.tune_result == kResultOk)});
  fields.push_back({"tune_seconds", JsonNumber(report.seconds)});
  fields.push_back({"signal", JsonObject(SignalJson(report.signal))});
  return fields;
}

int TuneFailure(const Transponder& transponder, const DishSelection& dish,
                const TuneReport& report) {
  if (report.switch_result != kResultOk) {
    return Fail(kExitFailure, "the card refused the dish selection (" + DishText(dish, report) +
                                  ", DeviceSendDiseqc returned " +
                                  std::to_string(report.switch_result) + ")");
  }
  return Fail(kExitNoLock, "no lock on " + TransponderText(transponder) + " (DeviceTune returned " +
                               std::to_string(report.tune_result) + ")");
}
