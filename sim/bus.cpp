// The stand-in card's internal bus, its two private bus routines, and the
// control panel's bus calls.
#include "sim/bus.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "sim/card.h"

namespace sim {
namespace {

constexpr std::uint8_t kSignalLevelRegister = 0x1C;
constexpr std::uint8_t kIdentificationRegister = 0x1E;
constexpr std::uint8_t kDiseqcControlRegister = 0x36;
constexpr std::uint8_t kDiseqcStatusRegister = 0x50;
constexpr std::uint8_t kDiseqcMessageRegister = 0x48;  // first of the message bytes
constexpr std::uint8_t kDiseqcStartBit = 0x08;         // in the control register
constexpr std::uint8_t kDiseqcIdleBit = 0x01;          // in the status register

struct RegisterDefault {
  std::uint8_t reg;
  std::uint8_t value;
};

// The demodulator's registers after power-up; all others read 0.
constexpr RegisterDefault kPowerUp[] = {
    {kSignalLevelRegister, 0x40},     // a fair signal: lower is stronger
    {kIdentificationRegister, 0xE1},  // the supported demodulator
    {kDiseqcStatusRegister, kDiseqcIdleBit},
};

// Registers the card itself owns: writes to them are taken and ignored.
bool ReadOnly(std::uint8_t reg) {
  return reg == kSignalLevelRegister || reg == kIdentificationRegister ||
         reg == kDiseqcStatusRegister;
}

// " 01 94": bytes of a transaction, each after a space.
std::string Bytes(const std::uint8_t* bytes, int count) {
  return count > 0 ? " " + Hex(bytes, count) : std::string();
}

}  // namespace

void Bus::Reset() {
  std::fill(std::begin(registers), std::end(registers), std::uint8_t{0});
  for (const RegisterDefault& entry : kPowerUp) {
    registers[entry.reg] = entry.value;
  }
  lnb_control = -1;
  diseqc_busy_reads = 2;
  transmitting = false;
  busy_reads_left = 0;
  diseqc_sent.clear();
  lnb_written.clear();
  journal.Clear();
  fail_all = false;
  failing_lines.clear();
  failing_registers.clear();
}

std::uint8_t Bus::ReadDemodulator(std::uint8_t reg) {
  if (reg == kDiseqcStatusRegister && transmitting) {
    if (busy_reads_left == 0) {
      transmitting = false;
      registers[reg] = static_cast<std::uint8_t>(registers[reg] | kDiseqcIdleBit);
    } else if (busy_reads_left > 0) {
      --busy_reads_left;
    }
  }
  return registers[reg];
}

void Bus::WriteDemodulator(std::uint8_t reg, std::uint8_t value) {
  if (ReadOnly(reg)) {
    return;
  }
  registers[reg] = value;
  if (reg == kDiseqcControlRegister && (value & kDiseqcStartBit) != 0) {
    transmitting = true;
    busy_reads_left = diseqc_busy_reads;
    // Bits 4 to 6 hold the message length less one.
    const int length = ((value >> 4) & 7) + 1;
    diseqc_sent.assign(registers + kDiseqcMessageRegister,
                       registers + kDiseqcMessageRegister + length);
    registers[kDiseqcStatusRegister] =
        static_cast<std::uint8_t>(registers[kDiseqcStatusRegister] & ~kDiseqcIdleBit);
  }
}

std::int32_t Bus::Transfer(int device, const std::uint8_t* bytes, int count, std::uint8_t* buffer,
                           int read_count, bool is_read, std::size_t vendor_position) {
  char head[16];
  std::snprintf(head, sizeof head, "%s %02X", is_read ? "read" : "write", device & 0xFF);
  std::string text = head + Bytes(bytes, bytes != nullptr ? count : 0);

  const std::size_t line = journal.added();
  const int first = bytes != nullptr && count > 0 ? bytes[0] : -1;
  const bool known = device == kDemodulatorDevice || device == kLnbControllerDevice;
  const bool shaped =
      bytes != nullptr && count > 0 && read_count >= 0 && (read_count == 0 || buffer != nullptr);
  if (fail_all || failing_lines.count(line) != 0 || failing_registers.count({device, first}) != 0 ||
      !known || !shaped) {
    journal.Add({text + " failed", vendor_position});
    return -1;
  }

  if (device == kLnbControllerDevice) {
    lnb_control = bytes[count - 1];
    if (!is_read) {
      lnb_written.push_back(bytes[count - 1]);
    }
    for (int i = 0; i < read_count; ++i) {
      buffer[i] = static_cast<std::uint8_t>(lnb_control);
    }
  } else {
    // The first byte selects a register; further bytes are written to it and
    // the registers after it, and reads go on from where the writes ended.
    auto reg = static_cast<std::uint8_t>(bytes[0]);
    for (int i = 1; i < count; ++i) {
      WriteDemodulator(reg++, bytes[i]);
    }
    for (int i = 0; i < read_count; ++i) {
      buffer[i] = ReadDemodulator(reg++);
    }
  }
  if (is_read) {
    text += " ->" + Bytes(buffer, read_count);
  }
  journal.Add({text, vendor_position});
  return 0;
}

}  // namespace sim

using sim::TheCard;

// The two private bus routines: plain functions, arguments in the order the
// module passes them, caller-cleaned. The library does not export them; the
// layout file places an entry to each at a fixed distance from the exported
// SendDiSEqCMsg.
extern "C" std::int32_t SimBusRead(std::int32_t device, const std::uint8_t* bytes,
                                   std::int32_t count, std::uint8_t* buffer,
                                   std::int32_t read_count) {
  auto& card = TheCard();
  std::lock_guard<std::mutex> hold(card.mutex);
  const std::int32_t result =
      card.bus.Transfer(device, bytes, count, buffer, read_count, true, card.journal.added());
  card.frontend.TakeBusEvents(card.bus);
  return result;
}

extern "C" std::int32_t SimBusWrite(std::int32_t device, const std::uint8_t* bytes,
                                    std::int32_t count) {
  auto& card = TheCard();
  std::lock_guard<std::mutex> hold(card.mutex);
  const std::int32_t result =
      card.bus.Transfer(device, bytes, count, nullptr, 0, false, card.journal.added());
  card.frontend.TakeBusEvents(card.bus);
  return result;
}

extern "C" {

SIM_API int SimBusJournalSize(void) {
  auto& card = TheCard();
  std::lock_guard<std::mutex> hold(card.mutex);
  return static_cast<int>(card.bus.journal.size());
}

SIM_API int SimBusJournalLine(int index, char* buffer, int capacity) {
  auto& card = TheCard();
  std::lock_guard<std::mutex> hold(card.mutex);
  return sim::CopyJournalLine(
      card.bus.journal, index, [](const auto& line) -> const std::string& { return line.text; },
      buffer, capacity);
}

SIM_API int SimBusJournalPosition(int index) {
  auto& card = TheCard();
  std::lock_guard<std::mutex> hold(card.mutex);
  if (index < 0 || static_cast<std::size_t>(index) >= card.bus.journal.size()) {
    return -1;
  }
  // Counted among the vendor lines still held.
  const std::size_t position = card.bus.journal[static_cast<std::size_t>(index)].vendor_position;
  const std::size_t dropped = card.journal.dropped();
  return static_cast<int>(position > dropped ? position - dropped : 0);
}

SIM_API void SimBusJournalClear(void) {
  auto& card = TheCard();
  std::lock_guard<std::mutex> hold(card.mutex);
  card.bus.journal.Clear();
}

SIM_API int SimBusRegister(int reg) {
  auto& card = TheCard();
  std::lock_guard<std::mutex> hold(card.mutex);
  return card.bus.registers[reg & 0xFF];
}

SIM_API void SimBusSetRegister(int reg, int value) {
  auto& card = TheCard();
  std::lock_guard<std::mutex> hold(card.mutex);
  card.bus.registers[reg & 0xFF] = static_cast<std::uint8_t>(value);
}

SIM_API int SimBusLnbControl(void) {
  auto& card = TheCard();
  std::lock_guard<std::mutex> hold(card.mutex);
  return card.bus.lnb_control;
}

SIM_API void SimBusFailAll(int on) {
  auto& card = TheCard();
  std::lock_guard<std::mutex> hold(card.mutex);
  card.bus.fail_all = on != 0;
}

SIM_API void SimBusFailLine(int index) {
  auto& card = TheCard();
  std::lock_guard<std::mutex> hold(card.mutex);
  if (index >= 0) {
    card.bus.failing_lines.insert(static_cast<std::size_t>(index));
  }
}

SIM_API void SimBusFailRegister(int device, int reg, int on) {
  auto& card = TheCard();
  std::lock_guard<std::mutex> hold(card.mutex);
  if (on != 0) {
    card.bus.failing_registers.insert({device, reg});
  } else {
    card.bus.failing_registers.erase({device, reg});
  }
}

SIM_API void SimBusSetDiseqcBusyReads(int reads) {
  auto& card = TheCard();
  std::lock_guard<std::mutex> hold(card.mutex);
  card.bus.diseqc_busy_reads = reads;
}

}  // extern "C"
