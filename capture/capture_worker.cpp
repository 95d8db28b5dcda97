// The capture loop: read whatever the card has recorded, cut it into 188-byte
// packets and offer each one that starts with the sync byte to the host.
#include "capture/capture_worker.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "plugin/context.h"

namespace {

// Copies the packet into the host's packet buffer and hands it over, if it
// starts with the sync byte and a callback is set. The callback is read afresh
// for every packet, so that a replacement takes effect at once.
inline void Offer(const std::uint8_t* packet, std::uint8_t* host_copy) {
  std::memcpy(host_copy, packet, CaptureWorker::kPacketSize);
  if (host_copy[0] != CaptureWorker::kSyncByte) {
    return;
  }
  if (const StreamCallback callback = device_context.stream_callback.load()) {
    callback(host_copy, static_cast<std::int32_t>(CaptureWorker::kPacketSize));
  }
}

}  // namespace

CaptureWorker::CaptureWorker() { InitializeCriticalSection(&delivery_lock_); }

CaptureWorker::~CaptureWorker() {
  EndThreadForDestruction();
  // A thread terminated inside a delivery died holding the lock; deleting a
  // lock that is held is undefined, so it is then left as it is.
  if (!WasTerminated()) {
    DeleteCriticalSection(&delivery_lock_);
  }
}

std::int32_t CaptureWorker::StartCapture() { return Start(kPriority); }

std::int32_t CaptureWorker::StopCapture() {
  if (CDVBBoardControl* board = device_context.board_control) {
    board->TSRecordOnOff(0);
  }
  Stop(kStopLimitMs);
  return 1;
}

std::int32_t CaptureWorker::Run() {
  // One buffer for every read of this run; nothing is allocated per read.
  const std::unique_ptr<std::uint8_t[]> buffer(new (std::nothrow) std::uint8_t[kReadSize]);
  if (!buffer) {
    return 0;
  }
  std::uint8_t host_copy[kPacketSize];
  // The head of a packet that a read cut off; the next read completes it, so
  // the packet grid follows the stream across reads and no byte is invented.
  std::uint8_t partial[kPacketSize];
  std::size_t partial_size = 0;

  while (IsRunning() != 0) {
    const std::int32_t result = device_context.board_control->TSRecordRead(buffer.get(), kReadSize);
    if (result <= 0) {
      Sleep(kIdleSleepMs);
      continue;
    }
    // A count beyond the buffer cannot be true: only the buffer is read.
    const auto count = static_cast<std::size_t>(std::min(result, kReadSize));
    const std::uint8_t* data = buffer.get();

    EnterCriticalSection(&delivery_lock_);
    std::size_t offset = 0;
    if (partial_size > 0) {
      offset = std::min(kPacketSize - partial_size, count);
      std::memcpy(partial + partial_size, data, offset);
      partial_size += offset;
      if (partial_size == kPacketSize) {
        Offer(partial, host_copy);
        partial_size = 0;
      }
    }
    for (; count - offset >= kPacketSize; offset += kPacketSize) {
      Offer(data + offset, host_copy);
    }
    if (offset < count) {
      std::memcpy(partial + partial_size, data + offset, count - offset);
      partial_size += count - offset;
    }
    LeaveCriticalSection(&delivery_lock_);
  }
  return 0;
}
