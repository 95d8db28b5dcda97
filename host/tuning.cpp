// Selecting the dish and tuning, and the report of it: see tuning.h.
#include "host/tuning.h"

#include <algorithm>

#include "host/program.h"

namespace host {

using dvb::CardFecCode;
using dvb::ChannelEntry;
using dvb::CodeRateName;
using dvb::DeliverySystem;
using dvb::FecName;
using dvb::FindLnb;
using dvb::HexBytes;
using dvb::InversionName;
using dvb::LnbBand;
using dvb::LnbType;
using dvb::LnbTypes;
using dvb::Polarization;
using dvb::PolarizationLetter;
using dvb::SwitchMessage;
using dvb::ThousandthsText;
using dvb::Transponder;
using dvb::TransponderParameters;
using dvb::TransponderText;

namespace {

constexpr std::size_t kShortestBar = 5;
constexpr std::size_t kLongestBar = 30;

// "burst A, switch port 2 (E0 10 38 F6)": what the dish selection sent.
std::string DishText(const DishSelection& dish, const TuneReport& report) {
  const std::string burst = dish.burst != 0 ? std::string("burst ") + BurstName(dish.burst) : "";
  return dish.port == 0
             ? burst
             : burst + (burst.empty() ? "" : ", ") + "switch port " + std::to_string(dish.port) +
                   " (" + HexBytes(report.switch_message) + ")";
}

bool SelectsDish(const DishSelection& dish) { return dish.port != 0 || dish.burst != 0; }

// A bar of `width` characters, filled in proportion to `percent`.
std::string Bar(int percent, std::size_t width) {
  const std::size_t filled =
      (static_cast<std::size_t>(std::clamp(percent, 0, 100)) * width + 50) / 100;
  return "[" + std::string(filled, '#') + std::string(width - filled, '.') + "]";
}

}  // namespace

const char* BurstName(int burst) { return burst == 1 ? "A" : burst == 2 ? "B" : ""; }

std::int32_t SendDiseqc(const DeviceInterface& entries, const std::vector<std::uint8_t>& message,
                        int burst) {
  // The record holds at least 8 bytes and at least 5 + length.
  std::vector<std::uint8_t> record(std::max<std::size_t>(8, 5 + message.size()), 0);
  record[4] = static_cast<std::uint8_t>(message.size());
  std::copy(message.begin(), message.end(), record.begin() + 5);
  return entries.send_diseqc(reinterpret_cast<DiseqcRecord*>(record.data()),
                             static_cast<std::uint32_t>(burst));
}

TuningRecord MakeTuningRecord(const Transponder& t) {
  TuningRecord record{};
  record.primary_value = t.frequency_khz;
  record.word2_value = t.symbol_rate;
  record.word3_value = t.lof_khz;
  record.word4_value = t.tone ? 1 : 0;
  // Circular polarisation rides on the same two voltages: right like vertical (13 V).
  record.polarity =
      t.polarization == Polarization::kVertical || t.polarization == Polarization::kRight ? 1 : 0;
  record.fec_code = t.fec_code;
  record.tristate_option = t.inversion;
  return record;
}

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
  const Clock::time_point start = Clock::now();
  report->tune_result = entries.tune(&record);
  report->seconds = SecondsSince(start);
  report->signal = ReadSignal(entries);
}

bool Locked(const TuneReport& report) {
  return report.switch_result == kResultOk && report.tune_result == kResultOk;
}

Json TransponderJson(const Transponder& t) {
  return {{"frequency_mhz", static_cast<double>(t.frequency_khz) / 1000},
          {"polarization", std::string(1, PolarizationLetter(t.polarization))},
          {"symbol_rate_ksps", static_cast<double>(t.symbol_rate) / 1000},
          {"fec", FecName(t.fec_code)},
          {"inversion", InversionName(t.inversion)},
          {"lnb", t.lnb != nullptr ? t.lnb->name : "custom"},
          {"lof_mhz", static_cast<double>(t.lof_khz) / 1000},
          {"tone", t.tone}};
}

void ReportTune(const TuneRequest& request, const TuneReport& report, Json* object, bool text) {
  const Transponder& transponder = request.transponder;
  const DishSelection& dish = request.dish;
  (*object)["transponder"] = TransponderJson(transponder);
  if (SelectsDish(dish) && text) {
    Say("Dish              %s: %s\n", DishText(dish, report).c_str(),
        report.switch_result == kResultOk ? "sent" : "refused");
  }
  if (text) {
    Say("Transponder       %s (LNB %s MHz, tone %s)\n", TransponderText(transponder).c_str(),
        ThousandthsText(transponder.lof_khz).c_str(), transponder.tone ? "on" : "off");
  }
  if (report.switch_result == kResultOk && text) {
    Say("Tune              %s in %.2f s (DeviceTune %d)\nSignal            %s\n",
        report.tune_result == kResultOk ? "locked" : "no lock", report.seconds,
        static_cast<int>(report.tune_result),
        SignalLine(report.signal, TerminalWidth(ReportStream()) - 19).c_str());
  }
  if (SelectsDish(dish)) {
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

SignalReading ReadSignal(const DeviceInterface& entries) {
  SignalReading reading;
  reading.result = entries.get_signal(&reading.record, &reading.tuning);
  return reading;
}

int Percent(std::uint8_t figure) { return figure > 100 ? 100 : figure; }

const char* LockWords(const SignalReading& reading) {
  return reading.result != kResultOk  ? "no answer"
         : reading.record.locked != 0 ? "Lock"
                                      : "No lock";
}

std::string SignalLine(const SignalReading& reading, std::size_t width) {
  const int strength = Percent(reading.record.strength);
  const int quality = Percent(reading.record.quality);
  const std::string plain =
      Format("%-9s  Strength %3d%%  Quality %3d%%", LockWords(reading), strength, quality);
  const std::size_t room = width > plain.size() + 6 ? (width - plain.size() - 6) / 2 : 0;
  if (room < kShortestBar) {
    return plain.substr(0, width);
  }
  const std::size_t bar = room < kLongestBar ? room : kLongestBar;
  return Format("%-9s  Strength %3d%% %s  Quality %3d%% %s", LockWords(reading), strength,
                Bar(strength, bar).c_str(), quality, Bar(quality, bar).c_str());
}

Json SignalJson(const SignalReading& reading) {
  return {{"result", reading.result},
          {"locked", reading.result == kResultOk && reading.record.locked != 0},
          {"strength", reading.record.strength},
          {"quality", reading.record.quality}};
}

// A channel file's entry as the same request the tune options make: its
// LNB by name (universal when it names none), SAT_NUMBER as the switch port.
bool ChannelRequest(const ChannelEntry& entry, TuneRequest* request, std::string* error) {
  const TransponderParameters& p = entry.transponder;
  Transponder& t = request->transponder;
  t.frequency_khz = p.frequency_khz;
  t.polarization = p.polarization;
  t.symbol_rate = p.symbol_rate;
  t.inversion = static_cast<std::uint32_t>(p.inversion);
  t.lnb = p.lnb.empty() ? &LnbTypes()[0] : FindLnb(p.lnb);
  if (p.delivery_system != DeliverySystem::kDvbS) {
    *error = "it is DVB-S2, which this DVB-S card does not receive";
  } else if (p.polarization == Polarization::kOff) {
    *error = "it has no polarisation (POLARIZATION = OFF)";
  } else if (!CardFecCode(p.fec, &t.fec_code)) {
    *error = std::string("its INNER_FEC ") + CodeRateName(p.fec) + " is not a DVB-S code rate";
  } else if (t.lnb == nullptr) {
    *error = "its LNB " + p.lnb + " is not a type this program knows (--lnb list)";
  } else if (p.satellite_number.has_value() &&
             (*p.satellite_number < 0 || *p.satellite_number > 3)) {
    *error = "its SAT_NUMBER " + std::to_string(*p.satellite_number) + " is not a switch port 0..3";
  } else {
    request->dish.port = p.satellite_number.has_value() ? *p.satellite_number + 1 : 0;
    return true;
  }
  return false;
}

std::string ChannelFileLnb(const Transponder& t) {
  if (t.lnb != nullptr) {
    return t.lnb->dvbv5_name;
  }
  for (const LnbType& lnb : LnbTypes()) {
    const LnbBand& band = lnb.bands[0];
    if (lnb.bands[1].lof_mhz == 0 && band.lof_mhz * 1000 == t.lof_khz &&
        t.frequency_khz >= band.low_mhz * 1000 && t.frequency_khz <= band.high_mhz * 1000) {
      return lnb.dvbv5_name;
    }
  }
  return "";
}

}  // namespace host
