// Register traffic with the demodulator and the LNB power controller.
#include "card/register_access.h"

#include "card/demod_regs.h"
#include "card/vendor.h"
#include "platform/win32.h"

BusReadRoutine bus_read = nullptr;
BusWriteRoutine bus_write = nullptr;

namespace {

// The exported routine the bus routines are found from.
#ifdef _WIN32
constexpr const char* kSendDiseqcExport = "?SendDiSEqCMsg@CDVBFrontend@@QAE?AW4DVB_ERROR@@PAEEE@Z";
#else
constexpr const char* kSendDiseqcExport = "CDVBFrontend_SendDiSEqCMsg";
#endif

// The library builds the module knows, by the low 16 bits of the exported
// SendDiSEqCMsg, and the distances of the bus routines from it.
struct LibraryLayout {
  std::uint16_t send_diseqc_low_bits;
  std::uintptr_t read_distance;
  std::uintptr_t write_distance;
};
constexpr LibraryLayout kKnownLayouts[] = {
    {0x79E0, 0xDF50, 0xDE80},
    {0x79B0, 0xDA50, 0xD980},
};

constexpr DWORD kDiseqcPollMs = 10;
constexpr DWORD kDiseqcWaitLimitMs = 200;  // waited longer than this: give up

constexpr std::int32_t kBusFailed = -1;

enum class Op { kWrite, kUpdate, kPause };

struct ProgrammeStep {
  Op op;
  std::uint8_t reg;
  std::uint8_t value;  // written value, or for an update the bits to clear
  std::uint8_t set;    // for an update: the bits to set
};

constexpr DWORD kProgrammePauseMs = 10;

// The demodulator's start-up programme, issued exactly in this order.
// clang-format off
constexpr ProgrammeStep kDemodulatorProgramme[] = {
    // op          reg   value/clear  set
    {Op::kWrite,  0x00, 0x00, 0x00},
    {Op::kPause,  0x00, 0x00, 0x00},  // 10 ms
    {Op::kWrite,  0x01, 0x94, 0x00},
    {Op::kWrite,  0x02, 0x35, 0x00},
    {Op::kWrite,  0x03, 0xE4, 0x00},
    {Op::kWrite,  0x04, 0x43, 0x00},
    {Op::kWrite,  0x0C, 0x0C, 0x00},
    {Op::kWrite,  0x1B, 0xB0, 0x00},
    {Op::kWrite,  0x20, 0x89, 0x00},
    {Op::kWrite,  0x30, 0x01, 0x00},
    {Op::kWrite,  0x32, 0x00, 0x00},
    {Op::kWrite,  0x31, 0x56, 0x00},
    {Op::kWrite,  0x55, 0x2C, 0x00},
    {Op::kWrite,  0x3A, 0x0B, 0x00},
    {Op::kWrite,  0x3B, 0x01, 0x00},
    {Op::kUpdate, 0x55, 0x20, 0x00},
    {Op::kWrite,  0x11, 0x81, 0x00},
    {Op::kWrite,  0x12, 0x81, 0x00},
    {Op::kWrite,  0x19, 0x40, 0x00},
    {Op::kWrite,  0x56, 0x80, 0x00},
    {Op::kWrite,  0x57, 0x08, 0x00},
    {Op::kWrite,  0x10, 0x2A, 0x00},
    {Op::kWrite,  0x58, 0x61, 0x00},
    {Op::kUpdate, 0x58, 0x01, 0x00},
    {Op::kWrite,  0x05, 0x0B, 0x00},
    {Op::kWrite,  0x37, 0x63, 0x00},
    {Op::kWrite,  0x3F, 0x0A, 0x00},
    {Op::kWrite,  0x40, 0x64, 0x00},
    {Op::kWrite,  0x41, 0x4F, 0x00},
    {Op::kWrite,  0x42, 0x43, 0x00},
    {Op::kWrite,  0x1A, 0x61, 0x00},
    {Op::kWrite,  0x3D, 0x80, 0x00},
    {Op::kWrite,  0x36, 0x00, 0x00},
    {Op::kWrite,  0x34, 0x78, 0x00},
    {Op::kWrite,  0x35, 0x00, 0x00},
};
// clang-format on

}  // namespace

bool BusRoutinesFor(std::uintptr_t send_diseqc, BusRoutineAddresses* routines) {
  for (const LibraryLayout& layout : kKnownLayouts) {
    if ((send_diseqc & 0xFFFFU) == layout.send_diseqc_low_bits) {
      *routines = {send_diseqc + layout.read_distance, send_diseqc + layout.write_distance};
      return true;
    }
  }
  return false;
}

std::int32_t RegisterAccess::LocateBusRoutines() {
  HMODULE library = LoadLibraryA(kVendorLibrary);
  if (library == nullptr) {
    return -1;
  }
  const auto send_diseqc =
      reinterpret_cast<std::uintptr_t>(GetProcAddress(library, kSendDiseqcExport));
  BusRoutineAddresses routines{};
  if (!BusRoutinesFor(send_diseqc, &routines)) {
    return -1;
  }
  // The routines are code at computed addresses inside the library.
  bus_read = reinterpret_cast<BusReadRoutine>(routines.read);  // NOLINT(performance-no-int-to-ptr)
  bus_write =
      reinterpret_cast<BusWriteRoutine>(routines.write);  // NOLINT(performance-no-int-to-ptr)
  return 0;
}

std::int32_t RegisterAccess::ReadRegister(std::uint8_t reg) {
  std::uint8_t received = 0;
  const std::int32_t result = bus_read(demod::kBusAddress, &reg, 1, &received, 1);
  if (result != 0) {
    // A failure must never pass for a register value.
    return result < 0 ? result : kBusFailed;
  }
  return received;
}

std::int32_t RegisterAccess::WriteRegister(std::uint8_t reg, std::uint8_t value) {
  const std::uint8_t bytes[2] = {reg, value};
  return bus_write(demod::kBusAddress, bytes, 2);
}

void RegisterAccess::UpdateRegister(std::uint8_t reg, std::uint8_t clear, std::uint8_t set) {
  const std::int32_t value = ReadRegister(reg);
  if (value < 0) {
    return;
  }
  WriteRegister(reg, static_cast<std::uint8_t>((value & ~clear) | set));
}

void RegisterAccess::WriteLnbControl(std::uint8_t control) {
  bus_write(demod::kLnbBusAddress, &control, 1);
}

void RegisterAccess::ReadSignalLevel(std::uint8_t& level) {
  level = static_cast<std::uint8_t>(ReadRegister(demod::kSignalLevel) & 0xFF);
}

bool RegisterAccess::CheckDemodulatorId() {
  return ReadRegister(demod::kIdentification) == demod::kIdSupported;
}

void RegisterAccess::WaitDiseqcIdle() {
  DWORD waited = 0;
  for (;;) {
    // Only a status actually read can end the wait: a failed read says nothing
    // about the transmission.
    const std::int32_t status = ReadRegister(demod::kDiseqcStatus);
    if (status >= 0 && (status & demod::kDiseqcIdle) != 0) {
      return;
    }
    waited += kDiseqcPollMs;
    if (waited > kDiseqcWaitLimitMs) {
      return;
    }
    Sleep(kDiseqcPollMs);
  }
}

void RegisterAccess::InitDemodulator() {
  for (const ProgrammeStep& step : kDemodulatorProgramme) {
    switch (step.op) {
      case Op::kWrite:
        WriteRegister(step.reg, step.value);
        break;
      case Op::kUpdate:
        UpdateRegister(step.reg, step.value, step.set);
        break;
      case Op::kPause:
        Sleep(kProgrammePauseMs);
        break;
    }
  }
}

std::int32_t RegisterAccess::SendLongDiseqc(const std::uint8_t* message, std::uint32_t length) {
  if (message == nullptr || length < 1 || length > demod::kDiseqcLongestMessage) {
    return -1;
  }
  const std::int32_t saved = ReadRegister(demod::kDiseqcControl);
  if (saved < 0) {
    return -1;
  }
  // Every message byte is written even after a failure, but a message not
  // loaded whole is never started.
  bool loaded = true;
  for (std::uint32_t i = 0; i < length; ++i) {
    if (WriteRegister(static_cast<std::uint8_t>(demod::kDiseqcMessage + i), message[i]) != 0) {
      loaded = false;
    }
  }
  if (!loaded) {
    return -1;
  }
  const auto start =
      static_cast<std::uint8_t>(((length - 1) << demod::kDiseqcLengthShift) | demod::kDiseqcStart);
  if (WriteRegister(demod::kDiseqcControl, start) != 0) {
    return -1;
  }
  WaitDiseqcIdle();
  return WriteRegister(demod::kDiseqcControl, static_cast<std::uint8_t>(saved)) == 0 ? 0 : -1;
}
