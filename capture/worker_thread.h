// A reusable owner of at most one background thread that runs a work step,
// `Run`, until the step asks to end or the owner stops the thread.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/win32.h"

class WorkerThread {
 public:
  enum State : std::int32_t { kIdle = 0, kRunning = 1, kStopping = 2 };

  static constexpr std::uint32_t kExitCode = 42;
  static constexpr std::uint32_t kTerminatedExitCode = static_cast<std::uint32_t>(-42);
  static constexpr std::uint32_t kDestroyStopLimitMs = 200;

  WorkerThread();
  // Stops a running thread first (200 ms limit); see DeleteWorker for a worker
  // that is deleted from its own thread.
  virtual ~WorkerThread();

  WorkerThread(const WorkerThread&) = delete;
  WorkerThread& operator=(const WorkerThread&) = delete;

  // 1 when a new thread was started at `priority`; 0 when the worker was not
  // idle or no thread could be created.
  std::int32_t Start(std::int32_t priority);
  // 1 while the state is Running; Stopping counts as not running. Takes no lock.
  std::int32_t IsRunning() const;
  // 0 when the worker was not Running. Otherwise asks the thread to stop and,
  // unless called from that thread, waits until it has ended or, once more than
  // `timeout_ms` have passed by the tick count, terminates it; returns 1.
  std::int32_t Stop(std::uint32_t timeout_ms);

  // Deletes `worker`. Called from the worker's own thread (a stop requested
  // from inside Run), the thread deletes the worker itself on its way out,
  // since Run is still on its stack.
  static void DeleteWorker(WorkerThread* worker);

 protected:
  // One work step on the worker thread: nonzero to be called again, 0 to end.
  virtual std::int32_t Run();

  // What every destructor in the hierarchy does first, before it releases
  // anything the thread may use: stop a running thread, or wait for a stopping
  // one that another thread asked to end. Safe to call more than once.
  void EndThreadForDestruction();

  // True when the last stop had to terminate the thread: whatever the thread
  // had entered may still be held by it.
  bool WasTerminated() const { return terminated_; }

 private:
  static UINT ThreadEntry(void* worker);
  bool OnOwnThread();  // the caller holds state_lock_
  // Waits from `start` until the thread has ended, terminating it once more
  // than `timeout_ms` have passed.
  void WaitForEnd(std::uint32_t start, std::uint32_t timeout_ms);

  CRITICAL_SECTION state_lock_;
  std::atomic<std::int32_t> state_{kIdle};
  AfxThread* thread_ = nullptr;  // guarded by state_lock_
  bool delete_on_exit_ = false;  // guarded by state_lock_
  bool terminated_ = false;      // written by the owner's thread only
};
