// DeviceSendDiSEqC: tone burst, LNB supply in direct mode, and the message.
#include "card/demod_regs.h"
#include "plugin/context.h"
#include "plugin/entries.h"

namespace {

constexpr std::uint32_t kLastMode = 2;  // 0 message, 1 burst A first, 2 burst B first
constexpr std::uint8_t kNoBurst = 0xFF;
constexpr std::uint8_t kLongestVendorMessage = 4;  // longer ones go through the registers
constexpr DWORD kSettleMs = 10;

// The command byte (record offset 7) of positioner drive commands.
constexpr std::size_t kCommandByteOffset = 7;
constexpr std::uint8_t kDriveToStoredPosition = 0x6B;
constexpr std::uint8_t kDriveToAngle = 0x6E;

}  // namespace

std::int32_t MV_STDCALL DeviceSendDiseqc(DiseqcRecord* record, std::uint32_t mode) {
  DeviceContext& device = device_context;
  if (!device.device_open) {
    return kResultFailed;
  }
  if (mode > kLastMode || record == nullptr) {
    return kResultBadArgument;
  }
  const bool direct = device.direct_access != 0;
  std::uint8_t* message = record->message;
  const std::uint8_t length = record->length;

  if (mode != 0 &&
      device.frontend->SendDiSEqCMsg(message, 0, static_cast<std::uint8_t>(mode - 1)) != kDvbOk) {
    return kResultFailed;
  }
  if (direct) {
    const std::uint8_t polarity = device.current_tuning.polarity;
    // Other polarity values leave the LNB power controller alone.
    if (polarity == 0 || polarity == 1) {
      device.register_access->WriteLnbControl(polarity == 0 ? demod::kLnbPolarity0
                                                            : demod::kLnbPolarity1);
      Sleep(kSettleMs);
    }
  }
  const std::int32_t sent = direct && length > kLongestVendorMessage
                                ? device.register_access->SendLongDiseqc(message, length)
                                : device.frontend->SendDiSEqCMsg(message, length, kNoBurst);
  if (sent != 0) {
    return kResultFailed;
  }
  const std::uint8_t command = reinterpret_cast<const std::uint8_t*>(record)[kCommandByteOffset];
  if (command == kDriveToStoredPosition || command == kDriveToAngle) {
    device.board_control->TSRecordOnOff(0);
  }
  return kResultOk;
}
