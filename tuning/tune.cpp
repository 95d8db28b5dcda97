// DeviceTune: translate the host's tuning record for the vendor library, hand
// it over, wait for lock, and switch the stream recording on.
#include <cstring>

#include "card/demod_regs.h"
#include "plugin/context.h"
#include "plugin/entries.h"
#include "tuning/tuning.h"

namespace {

// Channel word 6: each known code carries n in its high nibble and n + 1 in
// its low nibble and yields n; any other code yields 0.
struct FecCode {
  std::uint32_t code;
  std::uint32_t word;
};
constexpr FecCode kFecCodes[] = {
    {0x12, 1}, {0x23, 2}, {0x34, 3}, {0x45, 4}, {0x56, 5}, {0x67, 6}, {0x78, 7}, {0x89, 8},
};

constexpr std::uint32_t kFlagNoFec = 1U << 0;
constexpr std::uint32_t kFlagWord1Two = 1U << 4;
constexpr std::uint32_t kFlagTristate = 1U << 20;

constexpr std::uint32_t kVoltageHorizontal = 18;  // polarity 0
constexpr std::uint32_t kVoltageVertical = 13;    // any other polarity

constexpr DWORD kSettleMs = 10;
constexpr DWORD kPollSpacingMs = 100;
constexpr unsigned kPollLimit = 30;

std::uint32_t FecWord(std::uint32_t code) {
  for (const FecCode& known : kFecCodes) {
    if (known.code == code) {
      return known.word;
    }
  }
  return 0;
}

}  // namespace

CDVBFrontend::_CHANNEL_TYPE BuildChannelRecord(const TuningRecord& request,
                                               std::uint32_t frontend_flags) {
  CDVBFrontend::_CHANNEL_TYPE channel{};
  channel.word[0] = request.primary_value;
  channel.word[1] = (frontend_flags & kFlagWord1Two) != 0 ? 2 : 1;
  channel.word[2] = request.word2_value;
  channel.word[3] = request.word3_value;
  channel.word[4] = request.word4_value;
  channel.word[5] = request.polarity != 0 ? kVoltageVertical : kVoltageHorizontal;
  channel.word[6] = (frontend_flags & kFlagNoFec) != 0 ? 0 : FecWord(request.fec_code);
  switch (request.tristate_option) {
    case 0:
    case 1:
      channel.word[7] = request.tristate_option;
      break;
    default:
      channel.word[7] = (frontend_flags & kFlagTristate) != 0 ? 1 : 0;
      break;
  }
  return channel;
}

bool WaitForLock(CDVBFrontend& frontend) {
  std::int32_t lock = 0;
  unsigned polls = 0;
  DWORD reference = GetTickCount();
  while (lock == 0) {
    // Unsigned difference: a wrap of the tick count does no harm.
    if (static_cast<DWORD>(GetTickCount() - reference) > kPollSpacingMs) {
      frontend.GetState(lock, nullptr, nullptr);
      reference = GetTickCount();
      ++polls;
    }
    // Tested after the poll and before its lock value: the 31st poll ends the
    // wait whatever it reported.
    if (polls > kPollLimit) {
      return false;
    }
    Sleep(1);
  }
  return true;
}

std::int32_t MV_STDCALL DeviceTune(const TuningRecord* record) {
  DeviceContext& device = device_context;
  if (!device.device_open) {
    return kResultFailed;
  }
  if (record == nullptr) {
    return kResultBadArgument;
  }
  TuningRecord request;
  std::memcpy(&request, record, sizeof request);
  if (request.primary_value == 0) {
    return kResultBadArgument;
  }
  const bool direct = device.direct_access != 0;

  device.board_control->TSRecordOnOff(0);
  if (direct) {
    device.register_access->WriteRegister(demod::kTuning, demod::kTuningHold);
  }
  Sleep(kSettleMs);
  if (device.frontend->SetChannel(BuildChannelRecord(request, device.frontend->FrontendFlags()),
                                  0) != kDvbOk) {
    return kResultFailed;
  }
  Sleep(kSettleMs);
  device.current_tuning = request;
  if (direct) {
    device.register_access->UpdateRegister(demod::kOutput, demod::kOutputBit6, demod::kOutputBit6);
    device.register_access->UpdateRegister(demod::kControl, demod::kControlBit0, 0x00);
  }
  if (!WaitForLock(*device.frontend)) {
    return kResultFailed;
  }
  if (direct) {
    device.register_access->WriteRegister(demod::kTuning, demod::kTuningLocked);
  }
  device.board_control->TSRecordOnOff(1);
  return kResultOk;
}
