// The process-wide state of the one card the module drives.
#pragma once

#include <atomic>
#include <cstdint>

#include "card/register_access.h"
#include "card/vendor.h"
#include "plugin/records.h"

class CaptureWorker;

struct DeviceContext {
  CDVBBoardControl* board_control = nullptr;
  CDVBFrontend* frontend = nullptr;
  CaptureWorker* capture_worker = nullptr;
  RegisterAccess* register_access = nullptr;
  // Written by the host's thread, read by the capture thread for every packet.
  std::atomic<StreamCallback> stream_callback{nullptr};
  bool device_open = false;
  std::uint32_t direct_access = 0;
  TuningRecord current_tuning{};  // survives close
};

extern DeviceContext device_context;
