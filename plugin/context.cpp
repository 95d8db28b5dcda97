// Opening and closing the card, and the host's packet callback.
#include "plugin/context.h"

#include <new>
#include <string>

#include "capture/capture_worker.h"
#include "plugin/entries.h"

DeviceContext device_context;

namespace {

void ShowOpenError(const char* text) {
  MessageBoxA(GetActiveWindow(), text, "Error", MB_OK | MB_ICONERROR);
}

// Deletes the vendor objects and the register accessor, in the close order.
void ReleaseCardObjects(DeviceContext& device) {
  CDVBFrontend::Destroy(device.frontend);
  device.frontend = nullptr;
  CDVBBoardControl::Destroy(device.board_control);
  device.board_control = nullptr;
  delete device.register_access;
  device.register_access = nullptr;
}

// A start-up step failed: one message box, and nothing acquired so far is kept,
// so that the next open starts from a clean context.
std::int32_t FailStartUp(DeviceContext& device, const char* text, bool vendor_device_opened) {
  ShowOpenError(text);
  if (vendor_device_opened) {
    CDVBCommon::CloseDevice();
  }
  ReleaseCardObjects(device);
  return kResultFailed;
}

// The last step of open: the worker that moves the stream to the host. A
// worker that runs already is kept; one whose thread has ended is started again.
std::int32_t StartCaptureWorker(DeviceContext& device) {
  if (device.capture_worker == nullptr) {
    device.capture_worker =
        new (std::nothrow) CaptureWorker(device.board_control, &device.stream_callback);
    if (device.capture_worker == nullptr) {
      return kResultFailed;
    }
  }
  if (device.capture_worker->IsRunning() != 0) {
    return kResultOk;
  }
  return device.capture_worker->StartCapture() == 1 ? kResultOk : kResultFailed;
}

}  // namespace

std::int32_t MV_STDCALL DeviceOpen() {
  DeviceContext& device = device_context;
  if (device.device_open) {
    // Already open: one set of vendor objects, one capture worker. Only a
    // worker that is missing is started again.
    return StartCaptureWorker(device);
  }

  std::string missing;
  if (!BindVendorLibrary(&missing)) {
    ShowOpenError(missing.c_str());
    return kResultFailed;
  }

  device.board_control = CDVBBoardControl::Create();
  device.frontend = device.board_control != nullptr ? CDVBFrontend::Create() : nullptr;
  device.register_access = device.frontend != nullptr ? new (std::nothrow) RegisterAccess : nullptr;
  if (device.register_access == nullptr) {
    ReleaseCardObjects(device);
    return kResultFailed;
  }

  InitDvbApiDll();
  if (CDVBCommon::OpenDevice(0, nullptr, 0) == 0) {
    return FailStartUp(device, "OpenDevice not successful", false);
  }
  if (device.board_control->ResetInit() != kDvbOk) {
    return FailStartUp(device, "ResetInit not successful", true);
  }
  if (device.board_control->EnableDataDMA(1) != kDvbOk) {
    return FailStartUp(device, "EnableDataDMA not successful", true);
  }
  if (device.frontend->Init() != kDvbOk) {
    return FailStartUp(device, "FrontendInit not successful", true);
  }
  device.device_open = true;

  // Direct mode when the library build's bus routines are found and the
  // demodulator is the supported one; a build the module does not know leaves
  // the mode as the last open found it. Nothing here makes open fail.
  if (device.register_access->LocateBusRoutines() == 0) {
    device.direct_access = device.register_access->CheckDemodulatorId() ? 1 : 0;
    if (device.direct_access != 0) {
      device.register_access->InitDemodulator();
    }
  }

  device.board_control->TSRecordOnOff(0);
  return StartCaptureWorker(device);
}

std::int32_t MV_STDCALL DeviceClose() {
  DeviceContext& device = device_context;
  if (!device.device_open) {
    return kResultFailed;
  }
  device.board_control->TSRecordOnOff(0);
  if (device.capture_worker != nullptr) {
    device.capture_worker->StopCapture();
  }
  CDVBCommon::CloseDevice();
  if (device.capture_worker != nullptr) {
    // From inside the host's callback, or when a slow callback kept the thread
    // past the stop limit, the capture thread is still in its loop: it then
    // deletes the worker itself once it has left it, touching no card object.
    WorkerThread::DeleteWorker(device.capture_worker);
    device.capture_worker = nullptr;
  }
  ReleaseCardObjects(device);
  device.device_open = false;
  return kResultOk;
}

std::int32_t MV_STDCALL DropPacket(const std::uint8_t* /*packet*/, std::int32_t /*length*/) {
  return 0;
}

std::int32_t MV_STDCALL DeviceSetStreamCallback(StreamCallback callback) {
  device_context.stream_callback.store(callback != nullptr ? callback : DropPacket);
  return kResultOk;
}
