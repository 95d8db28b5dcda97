// The tune command (tune a transponder, report lock and signal), the signal
// command (strength, quality and lock, once or refreshed) and the diseqc
// command (a DiSEqC message, switch port, tone burst or positioner command).
#include <cctype>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "host/card_session.h"
#include "host/commands.h"
#include "host/json.h"
#include "host/options.h"
#include "host/program.h"
#include "host/tuning.h"

int RunTune(const Arguments& arguments) {
  Transponder transponder;
  DishSelection dish;
  int status = kExitOk;
  if (!ReadTuneOptions(arguments, "tune", &transponder, &dish, &status)) {
    return status;
  }
  CardSession card(arguments);
  if (card.status() != kExitOk) {
    return card.status();
  }
  TuneReport report;
  SelectAndTune(card.entries(), transponder, dish, &report);
  if (WantsJson(arguments)) {
    PrintJson(TuneJson(card, transponder, dish, report));
  } else {
    PrintTune(card, transponder, dish, report);
  }
  if (report.switch_result != kResultOk || report.tune_result != kResultOk) {
    return TuneFailure(transponder, dish, report);
  }
  return kExitOk;
}

int RunSignal(const Arguments& arguments) {
  long watch = 0;
  if (const std::string* seconds = Find(arguments, "--watch")) {
    if (!ParseInteger(*seconds, 1, 86400, &watch)) {
      return Fail(kExitUsage, "--watch " + *seconds + ": give whole seconds, 1..86400");
    }
  }
  Transponder transponder;
  DishSelection dish;
  int status = kExitOk;
  const bool tune = HasTransponder(arguments);
  if (tune && !ReadTuneOptions(arguments, "signal", &transponder, &dish, &status)) {
    return status;
  }
  CardSession card(arguments);
  if (card.status() != kExitOk) {
    return card.status();
  }
  TuneReport report;
  if (tune) {
    SelectAndTune(card.entries(), transponder, dish, &report);
    if (report.switch_result != kResultOk) {
      return TuneFailure(transponder, dish, report);
    }
  }
  const bool json = WantsJson(arguments);
  const bool terminal = IsTerminal() && !json;
  const Clock::time_point start = Clock::now();
  SignalReading reading = ReadSignal(card.entries());
  std::vector<std::string> samples;
  for (;;) {
    if (json) {
      JsonFields fields = SignalJson(reading);
      fields.push_back({"seconds", JsonNumber(SecondsSince(start))});
      samples.push_back(JsonObject(fields));
    } else {
      std::printf(terminal && watch > 0 ? "\r%s  " : "%s\n", SignalLine(reading, true).c_str());
      std::fflush(stdout);
    }
    if (reading.result != kResultOk || SecondsSince(start) >= static_cast<double>(watch)) {
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(terminal ? 250 : 1000));
    reading = ReadSignal(card.entries());
  }
  if (terminal && watch > 0) {
    std::printf("\n");
  }
  if (json) {
    JsonFields fields;
    if (tune) {
      fields = TuneJson(card, transponder, dish, report);
    }
    fields.push_back({"samples", JsonArray(samples)});
    PrintJson(fields);
  }
  if (reading.result != kResultOk) {
    return Fail(kExitFailure, "the card gave no signal figures (DeviceGetSignal returned " +
                                  std::to_string(reading.result) + ")");
  }
  if (tune && report.tune_result != kResultOk) {
    return TuneFailure(transponder, dish, report);
  }
  return kExitOk;
}

int RunDiseqc(const Arguments& arguments) {
  DishSelection dish;
  std::string error;
  if (!ParseDishSelection(arguments, &dish, &error)) {
    return Fail(kExitUsage, error);
  }
  const std::string* words = Find(arguments, kWordsKey);
  const std::string* position = Find(arguments, "--goto");
  if ((words != nullptr) + (dish.port != 0) + (position != nullptr) > 1) {
    return Fail(kExitUsage, "give one of: message bytes, --port, --goto");
  }
  std::vector<std::uint8_t> message;
  std::string what;
  if (words != nullptr) {
    if (!ParseHexBytes(*words, &message, &error)) {
      return Fail(kExitUsage, error + "; give the message in hex bytes, e.g. E0 10 38 F3");
    }
    if (message.size() > 255) {
      return Fail(kExitUsage, "a message holds at most 255 bytes");
    }
    what = "message";
  } else if (dish.port != 0) {
    char polarity = 'V';
    if (const std::string* given = Find(arguments, "--pol")) {
      if (*given != "H" && *given != "V" && *given != "h" && *given != "v") {
        return Fail(kExitUsage, "--pol " + *given + ": give H or V");
      }
      polarity = static_cast<char>(std::toupper(static_cast<unsigned char>((*given)[0])));
    }
    bool high_band = false;
    if (const std::string* tone = Find(arguments, "--tone")) {
      if (*tone != "on" && *tone != "off") {
        return Fail(kExitUsage, "--tone " + *tone + ": give on or off");
      }
      high_band = *tone == "on";
    }
    message = SwitchMessage(dish.port, polarity, high_band);
    what = "switch port " + std::to_string(dish.port);
  } else if (position != nullptr) {
    long stored = 0;
    if (!ParseInteger(*position, 0, 255, &stored)) {
      return Fail(kExitUsage, "--goto " + *position + ": give a stored position 0..255");
    }
    message = GotoMessage(static_cast<int>(stored));
    what = "positioner to stored position " + std::to_string(stored);
  } else if (dish.burst == 0) {
    return Fail(kExitUsage, "nothing to send: give message bytes, --port, --burst or --goto");
  }
  if (dish.burst != 0) {
    what =
        std::string("burst ") + (dish.burst == 1 ? "A" : "B") + (what.empty() ? "" : ", ") + what;
  }
  CardSession card(arguments);
  if (card.status() != kExitOk) {
    return card.status();
  }
  const std::int32_t result = SendDiseqc(card.entries(), message, dish.burst);
  if (WantsJson(arguments)) {
    PrintJson({{"card_library", JsonText(card.library().path)},
               {"what", JsonText(what)},
               {"message", JsonText(HexBytes(message))},
               {"mode", JsonNumber(dish.burst)},
               {"result", JsonNumber(result)},
               {"sent", JsonBool(result == kResultOk)}});
  } else {
    std::printf("Card library      %s\n", card.library().path.c_str());
    std::printf("DiSEqC            %s%s%s: %s (DeviceSendDiseqc %d)\n", what.c_str(),
                message.empty() ? "" : " ", message.empty() ? "" : HexBytes(message).c_str(),
                result == kResultOk ? "sent" : "refused", static_cast<int>(result));
  }
  if (result != kResultOk) {
    return Fail(kExitFailure, "the card did not send " + what + " (DeviceSendDiseqc returned " +
                                  std::to_string(result) + ")");
  }
  return kExitOk;
}
