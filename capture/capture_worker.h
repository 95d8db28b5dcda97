// The capture worker: the worker thread that moves the card's transport stream
// to the host, one 188-byte packet per call of the host's StreamCallback.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "abi/records.h"
#include "capture/worker_thread.h"
#include "card/vendor.h"

class CaptureWorker : public WorkerThread {
 public:
  static constexpr std::size_t kPacketSize = 188;
  static constexpr std::uint8_t kSyncByte = 0x47;
  static constexpr std::int32_t kReadSize = 962560;  // 5,120 packets
  static constexpr std::uint32_t kIdleSleepMs = 1;
  static constexpr std::uint32_t kStopLimitMs = 200;
  static constexpr std::int32_t kPriority = THREAD_PRIORITY_NORMAL;

  // Reads through `board` and hands packets to the callback that `callback`
  // holds at the time of each packet (never null: while the host has set no
  // callback it holds one that drops the packet); both outlive the capture
  // thread's reads.
  CaptureWorker(CDVBBoardControl* board, const std::atomic<StreamCallback>* callback);
  // Stops a running thread (200 ms limit) before the delivery lock goes.
  ~CaptureWorker() override;

  // Starts the capture thread: 1 it started, 0 it did not.
  std::int32_t StartCapture();
  // Switches the card's recording off, then stops the thread; always 1. Called
  // from inside the host's callback, it also ends the current batch: no
  // further packet of it is offered.
  std::int32_t StopCapture();

 protected:
  // Reads the card's stream until stopped and hands its packets to the host;
  // always 0, so the thread ends when it returns.
  std::int32_t Run() override;
  // Only while the thread is inside the card library's read: never inside the
  // host's callback or the module's own code, where it may hold the host's
  // locks or the delivery lock.
  bool MayEndByForce() override;

 private:
  // Where the capture thread is, as far as a forced end is concerned.
  enum Place : std::int32_t {
    kInModule,  // the module's code or the host's callback: not to be ended
    kInRead,    // inside TSRecordRead: may be ended
    kEnding,    // the owner is ending it inside the read; it must stay there
    kLeft,      // the owner gave it up: it touches nothing outside the worker again
  };

  // False when the owner has given the thread up: no read may start.
  bool EnterRead();
  // Waits to be ended when the owner is ending the thread.
  void LeaveRead();
  // Offers the packets of one read; `count` bytes at `data`.
  void DeliverBatch(const std::uint8_t* data, std::size_t count);
  // Copies `packet` into the packet buffer and hands it to the callback that
  // `callback` holds now, if it starts with the sync byte.
  void Offer(const std::uint8_t* packet, const std::atomic<StreamCallback>* callback);

  CDVBBoardControl* const board_;
  const std::atomic<StreamCallback>* const callback_;
  // Held for the whole batch of deliveries of one read.
  CRITICAL_SECTION delivery_lock_;
  std::atomic<std::int32_t> place_{kInModule};
  // Packets of the current batch are offered while their address is below
  // this; cleared to end the batch early (a close from inside the callback, or
  // a close that gave the thread up). Read before every packet.
  std::atomic<std::uintptr_t> batch_limit_{0};

  // Capture thread only, from here on.
  // The read buffer, obtained when Run begins and released when it ends (or
  // with the worker, after a forced end).
  std::unique_ptr<std::uint8_t[]> read_buffer_;
  // The packet buffer the host receives, the same address for every packet;
  // aligned so that no part of a copy into it straddles a cache line.
  alignas(64) std::uint8_t host_copy_[kPacketSize] = {};
  // The last piece of a read shorter than a packet, with its size.
  std::uint8_t tail_[kPacketSize] = {};
  std::size_t tail_size_ = 0;
};

static_assert(CaptureWorker::kReadSize % CaptureWorker::kPacketSize == 0, "whole packets");
