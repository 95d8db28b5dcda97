// DiSEqC messages as SAT>IP's src: see diseqc.h.
#include "satipcard/diseqc.h"

#include <cstdio>

namespace satipcard {

namespace {

constexpr std::uint8_t kNoBurst = 0xFF;
constexpr std::uint8_t kWriteN0 = 0x38;  // committed switches

bool Committed(const std::uint8_t* message, std::uint8_t count) {
  return count == 4 && (message[0] & 0xFC) == 0xE0 && (message[1] & 0xF8) == 0x10 &&
         message[2] == kWriteN0 && (message[3] & 0xF0) == 0xF0;
}

std::string Hex(const std::uint8_t* message, std::uint8_t count) {
  std::string text;
  for (int i = 0; i < count; ++i) {
    char byte[4];
    std::snprintf(byte, sizeof byte, "%s%02X", i == 0 ? "" : " ", message[i]);
    text += byte;
  }
  return text;
}

}  // namespace

SwitchChoice SwitchFromDiseqc(const std::uint8_t* message, std::uint8_t count, std::uint8_t burst) {
  SwitchChoice choice;
  if (count > 0 && message == nullptr) {
    choice.kind = SwitchChoice::Kind::kCannot;
    choice.reason = "no message bytes";
    return choice;
  }
  if (count > 0 && burst != kNoBurst) {
    choice.kind = SwitchChoice::Kind::kCannot;
    choice.reason = "a message and a burst at once (a switch behind a switch) has no src";
    return choice;
  }
  if (count > 0 && !Committed(message, count)) {
    choice.kind = SwitchChoice::Kind::kCannot;
    choice.reason = Hex(message, count) + " is no committed switch command (E0 10 38 Fx)";
    return choice;
  }
  if (count > 0) {
    choice.kind = SwitchChoice::Kind::kSource;
    choice.src = ((message[3] >> 2) & 3) + 1;
    return choice;
  }
  if (burst == 0 || burst == 1) {
    choice.kind = SwitchChoice::Kind::kSource;
    choice.src = burst + 1;
    return choice;
  }
  if (burst != kNoBurst) {
    choice.kind = SwitchChoice::Kind::kCannot;
    choice.reason = "burst " + std::to_string(burst) + " is neither A (0) nor B (1)";
  }
  return choice;
}

}  // namespace satipcard
