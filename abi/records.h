// The records the host application exchanges with the module, and the entry
// table's function types. Every record is a plain little-endian byte layout
// with no alignment gaps.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/win32.h"

#pragma pack(push, 1)

// Filled by DeviceGetInterfaceInfo.
struct DeviceInterfaceInfo {
  char device_name[256];
  std::uint32_t file_version;     // 1.0.0.0, one byte a component, major first
  std::uint32_t product_version;  // 1.1.0.0 in the same packing
  char author[256];
  std::uint32_t word_520;
  std::uint32_t word_524;
};
static_assert(sizeof(DeviceInterfaceInfo) == 528, "host record layout");
static_assert(offsetof(DeviceInterfaceInfo, author) == 264, "host record layout");

// Filled by DeviceFillDefaults; bytes 0 to 7 belong to the host.
struct DefaultsRecord {
  std::uint8_t host_bytes[8];
  std::uint32_t word_8;
  std::uint32_t word_12;
  std::uint32_t word_16;
  std::uint32_t word_20;
};
static_assert(sizeof(DefaultsRecord) == 24, "host record layout");

// The host's description of a transponder; five of its words start at odd offsets.
struct TuningRecord {
  std::uint32_t passthrough_0;
  std::uint32_t tristate_option;
  std::uint32_t primary_value;
  std::uint8_t polarity;
  std::uint32_t word2_value;
  std::uint32_t word3_value;
  std::uint32_t word4_value;
  std::uint32_t passthrough_25;
  std::uint32_t fec_code;
};
static_assert(sizeof(TuningRecord) == 33, "host record layout");
static_assert(offsetof(TuningRecord, word2_value) == 13, "host record layout");
static_assert(offsetof(TuningRecord, fec_code) == 29, "host record layout");

// Signal figures; the module writes bytes 4, 5 and 6 and no others.
struct SignalRecord {
  std::uint8_t host_bytes[4];
  std::uint8_t strength;
  std::uint8_t quality;
  std::uint8_t locked;
};
static_assert(sizeof(SignalRecord) == 7, "host record layout");

// A DiSEqC message: at least 8 bytes, and at least 5 + length.
struct DiseqcRecord {
  std::uint8_t host_bytes[4];
  std::uint8_t length;
  std::uint8_t message[3];  // continues for `length` bytes in the host's record
};
static_assert(sizeof(DiseqcRecord) == 8, "host record layout");

#pragma pack(pop)

// The host's packet callback: one 188-byte transport-stream packet per call.
using StreamCallback = std::int32_t(MV_STDCALL*)(const std::uint8_t* packet, std::int32_t length);

using EntryVoid = std::int32_t(MV_STDCALL*)();
using EntryValue = std::int32_t(MV_STDCALL*)(std::uint32_t value);
using EntrySetCallback = std::int32_t(MV_STDCALL*)(StreamCallback callback);
using EntryTune = std::int32_t(MV_STDCALL*)(const TuningRecord* record);
using EntryGetSignal = std::int32_t(MV_STDCALL*)(SignalRecord* signal, TuningRecord* tuning);
using EntryFillDefaults = std::int32_t(MV_STDCALL*)(DefaultsRecord* record);
using EntrySendDiseqc = std::int32_t(MV_STDCALL*)(DiseqcRecord* record, std::uint32_t mode);

// The thirteen-slot entry table filled by DeviceGetInterface, in slot order.
struct DeviceInterface {
  EntryVoid open;                   // 0  DeviceOpen
  EntryVoid close;                  // 1  DeviceClose
  EntrySetCallback set_callback;    // 2  DeviceSetStreamCallback
  EntryValue stub_fail_3;           // 3  DeviceStubFail
  EntryValue stub_fail_4;           // 4  DeviceStubFail
  EntryTune tune;                   // 5  DeviceTune
  EntryGetSignal get_signal;        // 6  DeviceGetSignal
  EntryVoid stub_ok_7;              // 7  DeviceStubOk
  EntryFillDefaults fill_defaults;  // 8  DeviceFillDefaults
  EntrySendDiseqc send_diseqc;      // 9  DeviceSendDiseqc
  EntryVoid stub_ok_10;             // 10 DeviceStubOk
  EntryValue stub_code6_11;         // 11 DeviceStubCode6
  EntryValue stub_code6_12;         // 12 DeviceStubCode6
};
static_assert(sizeof(DeviceInterface) == 13 * sizeof(void*), "thirteen slots");

using ExportGetInterface = std::int32_t(MV_STDCALL*)(DeviceInterface* table);
using ExportGetInterfaceInfo = std::int32_t(MV_STDCALL*)(DeviceInterfaceInfo* info);

// Entry results shared by the card-facing entries.
constexpr std::int32_t kResultOk = 0;
constexpr std::int32_t kResultFailed = 1;
constexpr std::int32_t kResultBadArgument = 2;
