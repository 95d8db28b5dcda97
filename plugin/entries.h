// The module's entries, in the order of the host's entry table.
#pragma once

#include <cstdint>

#include "abi/records.h"

#ifdef _WIN32
#define MV_EXPORT
#else
#define MV_EXPORT __attribute__((visibility("default")))
#endif

extern "C" {
MV_EXPORT std::int32_t MV_STDCALL DeviceGetInterface(DeviceInterface* table);
MV_EXPORT std::int32_t MV_STDCALL DeviceGetInterfaceInfo(DeviceInterfaceInfo* info);
}

std::int32_t MV_STDCALL DeviceOpen();
std::int32_t MV_STDCALL DeviceClose();
std::int32_t MV_STDCALL DeviceSetStreamCallback(StreamCallback callback);
std::int32_t MV_STDCALL DeviceStubFail(std::uint32_t value);
std::int32_t MV_STDCALL DeviceTune(const TuningRecord* record);
std::int32_t MV_STDCALL DeviceGetSignal(SignalRecord* signal, TuningRecord* tuning);
std::int32_t MV_STDCALL DeviceStubOk();
std::int32_t MV_STDCALL DeviceFillDefaults(DefaultsRecord* record);
std::int32_t MV_STDCALL DeviceSendDiseqc(DiseqcRecord* record, std::uint32_t mode);
std::int32_t MV_STDCALL DeviceStubCode6(std::uint32_t value);
