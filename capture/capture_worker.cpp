// The capture loop: read whatever the card has recorded, cut it into 188-byte
// packets and offer each one that starts with the sync byte to the host.
//
// Packets are cut on one grid per read, in steps of 188 bytes, and a piece that
// does not start with the sync byte is dropped with the grid kept: the loop
// never searches for a sync byte. A read's grid starts at its first byte,
// unless the read continues the piece that the previous read left over (its
// tail, shorter than a packet): with a tail of t bytes the next packet of the
// stream ends 188 - t bytes into the read, and the read continues the tail
// when it ends right there or shows a sync byte there, or when it does not
// start with a sync byte of its own. The tail's packet is then completed from
// the read and the read's grid starts where it ends; otherwise the tail is
// dropped. A read shorter than what the tail lacks is added to the tail and the
// next read decides. A tail is kept whatever its first byte: one without a sync
// byte is never delivered, but it still says where the next packet starts.
// Every byte handed over is a byte a read returned, in the order of the reads.
#include "capture/capture_worker.h"

#include <algorithm>
#include <cstring>
#include <new>

CaptureWorker::CaptureWorker(CDVBBoardControl* board, const std::atomic<StreamCallback>* callback)
    : board_(board), callback_(callback) {
  InitializeCriticalSection(&delivery_lock_);
}

CaptureWorker::~CaptureWorker() {
  EndThreadForDestruction();
  // The thread is gone, and it was never ended inside a delivery.
  DeleteCriticalSection(&delivery_lock_);
}

std::int32_t CaptureWorker::StartCapture() {
  place_ = kInModule;
  return Start(kPriority);
}

std::int32_t CaptureWorker::StopCapture() {
  board_->TSRecordOnOff(0);
  const bool from_callback = OnWorkerThread();
  Stop(kStopLimitMs);
  if (from_callback) {
    batch_limit_.store(0, std::memory_order_relaxed);
  }
  return 1;
}

bool CaptureWorker::EnterRead() {
  std::int32_t place = kInModule;
  return place_.compare_exchange_strong(place, kInRead);
}

void CaptureWorker::LeaveRead() {
  std::int32_t place = kInRead;
  if (!place_.compare_exchange_strong(place, kInModule)) {
    // The owner is ending this thread by force and has counted on it being in
    // the read: it stays out of everything else, holding nothing, until then.
    for (;;) {
      Sleep(kIdleSleepMs);
    }
  }
}

bool CaptureWorker::MayEndByForce() {
  std::int32_t place = place_.load();
  for (;;) {
    switch (place) {
      case kInRead:
        if (place_.compare_exchange_weak(place, kEnding)) {
          return true;
        }
        break;
      case kInModule:
        // Left to end by itself: no further packet of its batch goes to the
        // host, and no further read is made.
        if (place_.compare_exchange_weak(place, kLeft)) {
          batch_limit_.store(0);
          return false;
        }
        break;
      default:
        return place == kEnding;
    }
  }
}

inline void CaptureWorker::Offer(const std::uint8_t* packet,
                                 const std::atomic<StreamCallback>* callback) {
  // The sync byte is tested in the read buffer, before the copy.
  if (__builtin_expect(packet[0] != kSyncByte, 0)) {
    return;
  }
  std::memcpy(host_copy_, packet, kPacketSize);
  // Read afresh for every packet, so that a replacement takes effect at once.
  callback->load(std::memory_order_acquire)(host_copy_, static_cast<std::int32_t>(kPacketSize));
}

void CaptureWorker::DeliverBatch(const std::uint8_t* data, std::size_t count) {
  std::size_t start = 0;  // where the read's own grid starts
  bool tail_completed = false;
  if (tail_size_ > 0) {
    const std::size_t need = kPacketSize - tail_size_;
    if (count < need) {
      std::memcpy(tail_ + tail_size_, data, count);
      tail_size_ += count;
      return;
    }
    if (count == need || data[need] == kSyncByte || data[0] != kSyncByte) {
      std::memcpy(tail_ + tail_size_, data, need);
      start = need;
      tail_completed = true;
    }
    tail_size_ = 0;
  }
  const std::size_t rest = (count - start) % kPacketSize;

  const std::size_t whole_end = count - rest;  // one past the read's last whole packet
  const std::atomic<StreamCallback>* const callback = callback_;

  EnterCriticalSection(&delivery_lock_);
  // Packet addresses below the limit are offered: the last whole packet's
  // address and those before it.
  const auto first = reinterpret_cast<std::uintptr_t>(data + start);
  batch_limit_.store(
      whole_end >= start + kPacketSize ? first + (whole_end - start) - kPacketSize + 1 : 0);
  if (place_.load() != kLeft) {
    if (tail_completed) {
      Offer(tail_, callback);
    }
    for (const std::uint8_t* packet = data + start;
         reinterpret_cast<std::uintptr_t>(packet) < batch_limit_.load(std::memory_order_relaxed);
         packet += kPacketSize) {
      Offer(packet, callback);
    }
  }
  LeaveCriticalSection(&delivery_lock_);

  if (rest > 0) {
    std::memcpy(tail_, data + count - rest, rest);
    tail_size_ = rest;
  }
}

std::int32_t CaptureWorker::Run() {
  // One buffer for every read of this run; nothing is allocated per read.
  read_buffer_.reset(new (std::nothrow) std::uint8_t[kReadSize]);
  if (!read_buffer_) {
    return 0;
  }
  tail_size_ = 0;
  while (IsRunning() != 0 && EnterRead()) {
    const std::int32_t result = board_->TSRecordRead(read_buffer_.get(), kReadSize);
    LeaveRead();
    if (result <= 0) {
      Sleep(kIdleSleepMs);
      continue;
    }
    // A count beyond the buffer cannot be true: only the buffer is read.
    DeliverBatch(read_buffer_.get(), static_cast<std::size_t>(std::min(result, kReadSize)));
  }
  read_buffer_.reset();
  return 0;
}
