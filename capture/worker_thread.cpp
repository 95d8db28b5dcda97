// The worker thread: a state word under one lock, a cooperative stop with a
// time limit, and a forced end once the limit has passed where the worker
// allows one.
#include "capture/worker_thread.h"

WorkerThread::WorkerThread() { InitializeCriticalSection(&state_lock_); }

WorkerThread::~WorkerThread() {
  EndThreadForDestruction();
  // The thread marks itself idle inside the lock and leaves it a moment later;
  // the lock is deleted only once it has been left.
  EnterCriticalSection(&state_lock_);
  LeaveCriticalSection(&state_lock_);
  DeleteCriticalSection(&state_lock_);
}

void WorkerThread::EndThread() {
  if (state_ == kRunning) {
    Stop(kDestroyStopLimitMs);
    return;
  }
  if (state_ == kStopping) {
    // Stopping by its own request: its thread may still be inside Run. One
    // that a stop has already left to end by itself is not waited for again.
    EnterCriticalSection(&state_lock_);
    const bool wait = !OnOwnThread() && !left_to_end_;
    LeaveCriticalSection(&state_lock_);
    if (wait) {
      WaitForEnd(GetTickCount(), kDestroyStopLimitMs);
    }
  }
}

void WorkerThread::EndThreadForDestruction() {
  EndThread();
  // A thread left to end by itself still runs the worker's code: the object
  // must outlive it. (DeleteWorker leaves such a worker to its thread instead.)
  if (!OnWorkerThread()) {
    while (state_ != kIdle) {
      Sleep(1);
    }
  }
}

void WorkerThread::DeleteWorker(WorkerThread* worker) {
  if (worker == nullptr) {
    return;
  }
  if (!worker->OnWorkerThread()) {
    worker->EndThread();
  }
  EnterCriticalSection(&worker->state_lock_);
  const bool thread_there = worker->thread_ != nullptr;
  if (thread_there) {
    worker->delete_on_exit_ = true;
    if (worker->state_ == kRunning) {
      worker->state_ = kStopping;
    }
  }
  LeaveCriticalSection(&worker->state_lock_);
  if (!thread_there) {
    delete worker;
  }
}

std::int32_t WorkerThread::Run() { return 1; }

bool WorkerThread::MayEndByForce() { return true; }

std::int32_t WorkerThread::Start(std::int32_t priority) {
  EnterCriticalSection(&state_lock_);
  if (state_ != kIdle) {
    LeaveCriticalSection(&state_lock_);
    return 0;
  }
  // Running before the thread exists, so that its first test finds it running.
  // The thread cannot finish before `thread_` is recorded: its exit path waits
  // for this lock.
  state_ = kRunning;
  left_to_end_ = false;
  thread_ = AfxBeginThread(ThreadEntry, this, priority, 0, 0, nullptr);
  if (thread_ == nullptr) {
    state_ = kIdle;
    LeaveCriticalSection(&state_lock_);
    return 0;
  }
  LeaveCriticalSection(&state_lock_);
  return 1;
}

std::int32_t WorkerThread::IsRunning() const { return state_ == kRunning ? 1 : 0; }

std::int32_t WorkerThread::Stop(std::uint32_t timeout_ms) {
  EnterCriticalSection(&state_lock_);
  if (state_ != kRunning) {
    LeaveCriticalSection(&state_lock_);
    return 0;
  }
  state_ = kStopping;
  const bool own_thread = OnOwnThread();
  LeaveCriticalSection(&state_lock_);
  if (own_thread) {
    return 1;  // the thread winds down when the current Run returns
  }
  WaitForEnd(GetTickCount(), timeout_ms);
  return 1;
}

void WorkerThread::WaitForEnd(std::uint32_t start, std::uint32_t timeout_ms) {
  if (state_ == kIdle) {
    return;
  }
  // Polls rather than blocks, and yields between tests. The elapsed time is
  // taken in unsigned 32-bit arithmetic, so that it is right across the tick
  // count's wrap; the limit has passed only when it is strictly exceeded.
  bool timed_out = false;
  while (!timed_out) {
    const std::uint32_t elapsed = GetTickCount() - start;
    if (elapsed > timeout_ms) {
      timed_out = true;
    } else {
      Sleep(0);
    }
    if (state_ == kIdle) {
      if (!timed_out) {
        return;
      }
      break;
    }
  }

  // Forced end. When the thread finished in the pass that crossed the limit,
  // `thread_` is already clear and nothing is ended.
  EnterCriticalSection(&state_lock_);
  AfxThread* ended = nullptr;
  if (thread_ != nullptr) {
    // From ~WorkerThread this is the base's answer, as meant: a derived worker
    // ends its thread in its own destructor, before the base's runs.
    if (MayEndByForce()) {  // NOLINT(clang-analyzer-optin.cplusplus.VirtualCall)
      TerminateThread(thread_->handle, kTerminatedExitCode);
      ended = thread_;
      state_ = kIdle;
      thread_ = nullptr;
    } else {
      // It ends by itself; the state stays Stopping until then. The module
      // stays loaded for it until it has left the module's code, whatever the
      // host unloads meanwhile.
      left_to_end_ = true;
      AfxHoldModuleUntilThreadEnds(thread_);
    }
  }
  LeaveCriticalSection(&state_lock_);
  if (ended != nullptr) {
    // Termination only starts the end. Once the thread has stopped, its object
    // and handle are released here: its function never returns to do it.
    WaitForSingleObject(ended->handle, INFINITE);
    AfxReleaseThread(ended);
  }
}

bool WorkerThread::OnOwnThread() {
  return thread_ != nullptr && GetCurrentThreadId() == thread_->thread_id;
}

bool WorkerThread::OnWorkerThread() {
  EnterCriticalSection(&state_lock_);
  const bool own_thread = OnOwnThread();
  LeaveCriticalSection(&state_lock_);
  return own_thread;
}

UINT WorkerThread::ThreadEntry(void* worker) {
  auto* self = static_cast<WorkerThread*>(worker);
  while (self->state_ == kRunning) {
    if (self->Run() == 0) {
      break;
    }
  }
  EnterCriticalSection(&self->state_lock_);
  self->state_ = kIdle;
  self->thread_ = nullptr;
  const bool delete_self = self->delete_on_exit_;
  LeaveCriticalSection(&self->state_lock_);
  if (delete_self) {
    delete self;
  }
  return kExitCode;
}
