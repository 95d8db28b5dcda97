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
  // whose thread may outlive the stop.
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
  // `timeout_ms` have passed by the tick count, ends it by force where the
  // worker allows it (see MayEndByForce); returns 1.
  std::int32_t Stop(std::uint32_t timeout_ms);

  // Stops the thread as Stop(200) does and deletes `worker`. A thread that is
  // still there afterwards (the caller is that thread, inside Run, or it was
  // left to end by itself) deletes the worker on its way out.
  static void DeleteWorker(WorkerThread* worker);

 protected:
  // One work step on the worker thread: nonzero to be called again, 0 to end.
  virtual std::int32_t Run();

  // Asked once the stop limit has passed with the thread still there, with
  // state_lock_ held. True: the thread may be ended by force now, and stays
  // where it is until it has been. False: it is somewhere it must not be ended
  // (the worker then leaves it to end by itself, and the thread must touch
  // nothing outside the worker any more; the module stays loaded until it has
  // ended). The base thread may be ended anywhere.
  virtual bool MayEndByForce();

  // Whether the caller is the worker's own thread.
  bool OnWorkerThread();

  // What every destructor in the hierarchy does first, before it releases
  // anything the thread may use: stop a running thread, or wait for a stopping
  // one, until it is gone. Safe to call more than once.
  void EndThreadForDestruction();

 private:
  static UINT ThreadEntry(void* worker);
  bool OnOwnThread();  // the caller holds state_lock_
  // Stop(200) for a running thread; for a stopping one that another thread
  // asked to end, the same wait and forced end.
  void EndThread();
  // Waits from `start` until the thread has ended, then, once more than
  // `timeout_ms` have passed, ends it by force or leaves it to end by itself.
  void WaitForEnd(std::uint32_t start, std::uint32_t timeout_ms);

  CRITICAL_SECTION state_lock_;
  std::atomic<std::int32_t> state_{kIdle};
  AfxThread* thread_ = nullptr;  // guarded by state_lock_
  bool delete_on_exit_ = false;  // guarded by state_lock_
  bool left_to_end_ = false;     // guarded by state_lock_: a forced end was refused
};
