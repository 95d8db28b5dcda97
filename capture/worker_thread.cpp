// The worker thread: a state word under one lock, a cooperative stop with a
// time limit, and forced termination once the limit has passed.
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

void WorkerThread::EndThreadForDestruction() {
  if (state_ == kRunning) {
    Stop(kDestroyStopLimitMs);
    return;
  }
  if (state_ == kStopping) {
    // Stopping by its own request: its thread may still be inside Run.
    EnterCriticalSection(&state_lock_);
    const bool own_thread = OnOwnThread();
    LeaveCriticalSection(&state_lock_);
    if (!own_thread) {
      WaitForEnd(GetTickCount(), kDestroyStopLimitMs);
    }
  }
}

void WorkerThread::DeleteWorker(WorkerThread* worker) {
  if (worker == nullptr) {
    return;
  }
  EnterCriticalSection(&worker->state_lock_);
  const bool own_thread = worker->OnOwnThread();
  if (own_thread) {
    worker->delete_on_exit_ = true;
    if (worker->state_ == kRunning) {
      worker->state_ = kStopping;
    }
  }
  LeaveCriticalSection(&worker->state_lock_);
  if (!own_thread) {
    delete worker;
  }
}

std::int32_t WorkerThread::Run() { return 1; }

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
  terminated_ = false;
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
  // `thread_` is already clear and nothing is terminated.
  EnterCriticalSection(&state_lock_);
  HANDLE ended = nullptr;
  if (thread_ != nullptr) {
    // A handle of our own: the thread object's handle is released by the
    // thread's exit path, which a termination still under way may reach.
    ended = OpenThread(SYNCHRONIZE, 0, thread_->thread_id);
    TerminateThread(thread_->handle, kTerminatedExitCode);
    terminated_ = true;
    state_ = kIdle;
    thread_ = nullptr;
  }
  LeaveCriticalSection(&state_lock_);
  if (ended != nullptr) {
    // Termination only starts the end: nothing the thread could reach is
    // released before it has stopped running.
    WaitForSingleObject(ended, INFINITE);
    CloseHandle(ended);
  }
}

bool WorkerThread::OnOwnThread() {
  return thread_ != nullptr && GetCurrentThreadId() == thread_->thread_id;
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
