// The module's boundary with the host: the two exports, the entry table, the
// descriptor, and the entries answered without touching the card.
#include <cstring>

#include "plugin/entries.h"

namespace {

constexpr char kDeviceName[] = "Morvalind DVB-S WDM/PCI";
constexpr char kAuthor[] = "Ola Berg (o@example.net)";
static_assert(sizeof kAuthor - 1 == 24, "the credit is 24 characters");

constexpr std::uint32_t kFileVersion = 0x01000000;     // 1.0.0.0
constexpr std::uint32_t kProductVersion = 0x01010000;  // 1.1.0.0

}  // namespace

extern "C" std::int32_t MV_STDCALL DeviceGetInterfaceInfo(DeviceInterfaceInfo* info) {
  if (info == nullptr) {
    return kResultFailed;
  }
  // Whole strings with their terminators; the rest of each field stays the host's.
  std::memcpy(info->device_name, kDeviceName, sizeof kDeviceName);
  info->file_version = kFileVersion;
  info->product_version = kProductVersion;
  std::memcpy(info->author, kAuthor, sizeof kAuthor);
  info->word_520 = 0;
  info->word_524 = 1;
  return kResultOk;
}

extern "C" std::int32_t MV_STDCALL DeviceGetInterface(DeviceInterface* table) {
  if (table == nullptr) {
    return kResultFailed;
  }
  *table = DeviceInterface{
      DeviceOpen,       DeviceClose,    DeviceSetStreamCallback,
      DeviceStubFail,   DeviceStubFail, DeviceTune,
      DeviceGetSignal,  DeviceStubOk,   DeviceFillDefaults,
      DeviceSendDiseqc, DeviceStubOk,   DeviceStubCode6,
      DeviceStubCode6,
  };
  return kResultOk;
}

std::int32_t MV_STDCALL DeviceStubFail(std::uint32_t /*value*/) { return 1; }

std::int32_t MV_STDCALL DeviceStubOk() { return 0; }

std::int32_t MV_STDCALL DeviceStubCode6(std::uint32_t /*value*/) { return 6; }

std::int32_t MV_STDCALL DeviceFillDefaults(DefaultsRecord* record) {
  if (record == nullptr) {
    return kResultFailed;
  }
  record->word_8 = 1;
  record->word_12 = 1;
  record->word_16 = 0;
  record->word_20 = 0xFFFF;
  return kResultOk;
}
