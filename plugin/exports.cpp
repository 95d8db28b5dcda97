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
  // One slot a line, in slot order.
  table->open = DeviceOpen;                       // 0
  table->close = DeviceClose;                     // 1
  table->set_callback = DeviceSetStreamCallback;  // 2
  table->stub_fail_3 = DeviceStubFail;            // 3
  table->stub_fail_4 = DeviceStubFail;            // 4
  table->tune = DeviceTune;                       // 5
  table->get_signal = DeviceGetSignal;            // 6
  table->stub_ok_7 = DeviceStubOk;                // 7
  table->fill_defaults = DeviceFillDefaults;      // 8
  table->send_diseqc = DeviceSendDiseqc;          // 9
  table->stub_ok_10 = DeviceStubOk;               // 10
  table->stub_code6_11 = DeviceStubCode6;         // 11
  table->stub_code6_12 = DeviceStubCode6;         // 12
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
