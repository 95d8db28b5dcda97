// The process-wide state of the one card the module drives.
#pragma once

#include <atomic>
#include <cstdint>

#include "abi/records.h"
#include "card/register_access.h"
#include "card/vendor.h"

class CaptureWorker;

// What `stream_callback` holds while the host has set no callback: it drops
// the packet, so that the capture loop calls the field's value without a test.
std::int32_t MV_STDCALL DropPacket(const std::uint8_t* packet, std::int32_t length);

struct DeviceContext {
  CDVBBoardControl* board_control = nullptr;
  CDVBFrontend* frontend = nullptr;
  CaptureWorker* capture_worker = nullptr;
  RegisterAccess* register_access = nullptr;
  // Written by the host's thread, read by the capture thread for every packet.
  std::atomic<StreamCallback> stream_callback{DropPacket};
  bool device_open = false;
  std::uint32_t direct_access = 0;
  TuningRecord current_tuning{};  // survives close
};

extern DeviceContext device_context;
