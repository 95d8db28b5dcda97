// The capture worker: the worker thread that moves the card's transport stream
// to the host, one 188-byte packet per call of the host's StreamCallback.
#pragma once

#include <cstddef>
#include <cstdint>

#include "capture/worker_thread.h"

class CaptureWorker : public WorkerThread {
 public:
  static constexpr std::size_t kPacketSize = 188;
  static constexpr std::uint8_t kSyncByte = 0x47;
  static constexpr std::int32_t kReadSize = 962560;  // 5,120 packets
  static constexpr std::uint32_t kIdleSleepMs = 1;
  static constexpr std::uint32_t kStopLimitMs = 200;
  static constexpr std::int32_t kPriority = THREAD_PRIORITY_NORMAL;

  CaptureWorker();
  // Stops a running thread (200 ms limit) before the delivery lock goes.
  ~CaptureWorker() override;

  // Starts the capture thread: 1 it started, 0 it did not.
  std::int32_t StartCapture();
  // Switches the card's recording off, then stops the thread; always 1.
  std::int32_t StopCapture();

 protected:
  // Reads the card's stream until stopped and hands its packets to the host;
  // always 0, so the thread ends when it returns.
  std::int32_t Run() override;

 private:
  // Held for the whole batch of deliveries of one read.
  CRITICAL_SECTION delivery_lock_;
};

static_assert(CaptureWorker::kReadSize % CaptureWorker::kPacketSize == 0, "whole packets");
