// Tuning, signal status and DiSEqC entries.
#include "plugin/entries.h"
#include "plugin/context.h"

std::int32_t MV_STDCALL DeviceTune(const TuningRecord* record) {
  if (!device_context.device_open) {
    return kResultFailed;
  }
  return record == nullptr ? kResultBadArgument : kResultFailed;
}

std::int32_t MV_STDCALL DeviceGetSignal(SignalRecord* /*signal*/, TuningRecord* /*tuning*/) {
  return kResultFailed;
}

std::int32_t MV_STDCALL DeviceSendDiseqc(DiseqcRecord* record, std::uint32_t mode) {
  if (!device_context.device_open) {
    return kResultFailed;
  }
  return (mode > 2 || record == nullptr) ? kResultBadArgument : kResultFailed;
}
