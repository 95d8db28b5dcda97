// The worker thread: start and stop, the stop limit and forced termination,
// a stop from the thread itself, and destruction.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "capture/worker_thread.h"
#include "platform/testing.h"

namespace {

// Waits for something another thread does; fails the test after 20 s.
template <typename Condition>
bool Eventually(Condition condition) {
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > give_up) {
      return false;
    }
    std::this_thread::yield();
  }
  return true;
}

// A Run that never returns until released; it waits in real time, so that it
// moves no virtual clock.
void Hang(const std::atomic<bool>& released) {
  while (!released) {
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
}

class TestWorker : public WorkerThread {
 public:
  enum class Step { kAgain, kEndOnThirdRun, kHang, kStopItself, kStopAndDeleteItself };

  explicit TestWorker(Step step) : step_(step) {}
  ~TestWorker() override {
    EndThreadForDestruction();
    if (destroyed_ != nullptr) {
      *destroyed_ = true;
    }
  }

  // A handle of the test's own to the thread of the first Run.
  HANDLE WaitForThread() { return WaitForThread(thread_); }
  static HANDLE WaitForThread(std::atomic<HANDLE>& thread) {
    EXPECT_TRUE(Eventually([&thread] { return thread.load() != nullptr; }));
    return thread.exchange(nullptr);
  }

  std::atomic<int> runs{0};
  std::atomic<bool> released{false};
  std::atomic<int> self_stop_result{-1};
  std::atomic<int> running_after_self_stop{-1};
  std::atomic<int> priority{-100};
  std::atomic<bool>* destroyed_ = nullptr;
  std::atomic<HANDLE>* thread_out_ = &thread_;  // outside a worker that deletes itself

 protected:
  std::int32_t Run() override {
    if (runs++ == 0) {
      HANDLE self = OpenThread(SYNCHRONIZE | THREAD_QUERY_INFORMATION, 0, GetCurrentThreadId());
      priority = GetThreadPriority(self);
      *thread_out_ = self;
    }
    switch (step_) {
      case Step::kAgain:
        return 1;
      case Step::kEndOnThirdRun:
        return runs < 3 ? 1 : 0;
      case Step::kHang:
        Hang(released);
        return 1;
      case Step::kStopItself:
        self_stop_result = Stop(200);
        running_after_self_stop = IsRunning();
        Hang(released);
        return 1;
      case Step::kStopAndDeleteItself:
        Stop(200);
        DeleteWorker(this);
        return 1;
    }
    return 0;
  }

 private:
  Step step_;
  std::atomic<HANDLE> thread_{nullptr};
};

DWORD ExitCodeOf(HANDLE thread) {
  EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
  DWORD code = 0;
  EXPECT_NE(GetExitCodeThread(thread, &code), 0);
  CloseHandle(thread);
  return code;
}

class WorkerThreadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The clock moves only when a test says so: a cooperative stop can then
    // never run out of time, however slowly the threads are scheduled.
    PlatformUseVirtualClock(1, 5000);
    PlatformHoldClock(1);
  }
  void TearDown() override {
    PlatformSetSleepHook(nullptr);
    PlatformHoldClock(0);
    PlatformUseVirtualClock(0, 0);
  }
};

TEST_F(WorkerThreadTest, NeverStartedWorkerIsNotRunningAndStopDoesNothing) {
  TestWorker worker(TestWorker::Step::kAgain);
  EXPECT_EQ(worker.IsRunning(), 0);
  EXPECT_EQ(worker.Stop(200), 0);
  EXPECT_EQ(worker.runs, 0);
}

TEST_F(WorkerThreadTest, RunsUntilStoppedAndEndsByItselfWithExitCode42) {
  TestWorker worker(TestWorker::Step::kAgain);
  ASSERT_EQ(worker.Start(THREAD_PRIORITY_NORMAL), 1);
  HANDLE thread = worker.WaitForThread();
  EXPECT_EQ(worker.IsRunning(), 1);
  EXPECT_EQ(worker.Start(THREAD_PRIORITY_NORMAL), 0);        // one thread at a time
  ASSERT_TRUE(Eventually([&] { return worker.runs > 3; }));  // Run is called again and again

  EXPECT_EQ(worker.Stop(200), 1);
  EXPECT_EQ(worker.IsRunning(), 0);
  EXPECT_EQ(ExitCodeOf(thread), WorkerThread::kExitCode);
  EXPECT_EQ(worker.Stop(200), 0);
}

TEST_F(WorkerThreadTest, RunReturningZeroEndsTheThreadAndTheWorkerCanStartAgain) {
  TestWorker worker(TestWorker::Step::kEndOnThirdRun);
  ASSERT_EQ(worker.Start(THREAD_PRIORITY_NORMAL), 1);
  HANDLE first = worker.WaitForThread();
  EXPECT_EQ(ExitCodeOf(first), WorkerThread::kExitCode);
  EXPECT_EQ(worker.runs, 3);
  EXPECT_EQ(worker.IsRunning(), 0);
  EXPECT_EQ(worker.Stop(200), 0);

  worker.runs = 0;
  ASSERT_EQ(worker.Start(THREAD_PRIORITY_NORMAL), 1);
  EXPECT_EQ(ExitCodeOf(worker.WaitForThread()), WorkerThread::kExitCode);
}

TEST_F(WorkerThreadTest, TheThreadRunsAtThePriorityAskedFor) {
  TestWorker worker(TestWorker::Step::kAgain);
  ASSERT_EQ(worker.Start(THREAD_PRIORITY_BELOW_NORMAL), 1);
  HANDLE thread = worker.WaitForThread();
  EXPECT_EQ(worker.priority, THREAD_PRIORITY_BELOW_NORMAL);
  worker.Stop(200);
  ExitCodeOf(thread);
}

TEST_F(WorkerThreadTest, AThreadThatCannotBeCreatedLeavesTheWorkerIdle) {
  TestWorker worker(TestWorker::Step::kAgain);
  PlatformFailThreadStarts(1);
  EXPECT_EQ(worker.Start(THREAD_PRIORITY_NORMAL), 0);
  EXPECT_EQ(worker.IsRunning(), 0);
  EXPECT_EQ(worker.Stop(200), 0);
  ASSERT_EQ(worker.Start(THREAD_PRIORITY_NORMAL), 1);
  HANDLE thread = worker.WaitForThread();
  worker.Stop(200);
  EXPECT_EQ(ExitCodeOf(thread), WorkerThread::kExitCode);
}

TEST_F(WorkerThreadTest, StopFromInsideRunReturnsAtOnceAndTheThreadEndsWhenRunReturns) {
  TestWorker worker(TestWorker::Step::kStopItself);
  ASSERT_EQ(worker.Start(THREAD_PRIORITY_NORMAL), 1);
  HANDLE thread = worker.WaitForThread();
  ASSERT_TRUE(Eventually([&] { return worker.running_after_self_stop >= 0; }));
  EXPECT_EQ(worker.self_stop_result, 1);
  EXPECT_EQ(worker.running_after_self_stop, 0);
  // Stopping, not idle: neither a new start nor another stop acts.
  EXPECT_EQ(worker.Start(THREAD_PRIORITY_NORMAL), 0);
  EXPECT_EQ(worker.Stop(200), 0);

  worker.released = true;
  EXPECT_EQ(ExitCodeOf(thread), WorkerThread::kExitCode);
  EXPECT_EQ(worker.runs, 1);
  EXPECT_EQ(worker.Start(THREAD_PRIORITY_NORMAL), 1);
}

TEST_F(WorkerThreadTest, StartAndStopInQuickSuccessionNeverLoseOrDoubleAThread) {
  TestWorker worker(TestWorker::Step::kAgain);
  std::atomic<bool> done{false};
  std::thread observer([&] {
    while (!done) {
      const std::int32_t running = worker.IsRunning();
      EXPECT_TRUE(running == 0 || running == 1);
    }
  });
  for (int round = 0; round < 100; ++round) {
    ASSERT_EQ(worker.Start(THREAD_PRIORITY_NORMAL), 1) << round;
    EXPECT_EQ(worker.Stop(200), 1) << round;  // often before the thread's first Run
    EXPECT_EQ(worker.IsRunning(), 0);
  }
  done = true;
  observer.join();
  if (worker.runs > 0) {
    CloseHandle(worker.WaitForThread());  // the handle the first Run opened
  }
}

TEST_F(WorkerThreadTest, DestroyingARunningWorkerStopsItsThreadFirst) {
  std::atomic<bool> destroyed{false};
  auto* worker = new TestWorker(TestWorker::Step::kAgain);
  worker->destroyed_ = &destroyed;
  ASSERT_EQ(worker->Start(THREAD_PRIORITY_NORMAL), 1);
  HANDLE thread = worker->WaitForThread();
  delete worker;
  EXPECT_TRUE(destroyed);
  EXPECT_EQ(ExitCodeOf(thread), WorkerThread::kExitCode);
}

TEST_F(WorkerThreadTest, AWorkerDeletedByItsOwnThreadIsFreedOnlyWhenThatThreadLeavesRun) {
  std::atomic<bool> destroyed{false};
  std::atomic<HANDLE> thread_out{nullptr};
  auto* worker = new TestWorker(TestWorker::Step::kStopAndDeleteItself);
  worker->destroyed_ = &destroyed;
  worker->thread_out_ = &thread_out;
  ASSERT_EQ(worker->Start(THREAD_PRIORITY_NORMAL), 1);
  HANDLE thread = TestWorker::WaitForThread(thread_out);
  EXPECT_EQ(ExitCodeOf(thread), WorkerThread::kExitCode);
  EXPECT_TRUE(destroyed);
}

// A thread whose Run does not return is terminated once the limit has passed.
class ForcedEnd : public WorkerThreadTest, public ::testing::WithParamInterface<std::uint32_t> {};

TEST_P(ForcedEnd, ARunThatNeverReturnsIsTerminatedWithExitCodeMinus42) {
  const std::uint32_t start = GetParam();
  PlatformUseVirtualClock(1, start);
  PlatformHoldClock(0);  // here only the stop's own yields move the clock
  TestWorker worker(TestWorker::Step::kHang);
  ASSERT_EQ(worker.Start(THREAD_PRIORITY_NORMAL), 1);
  HANDLE thread = worker.WaitForThread();
  const DWORD before = GetTickCount();
  EXPECT_EQ(worker.Stop(200), 1);
  if (kPlatformVirtualClock) {
    // Terminated as soon as more than 200 ms have passed, not at exactly 200;
    // measured the same across the tick count's wrap.
    EXPECT_EQ(before, start);
    EXPECT_EQ(static_cast<DWORD>(GetTickCount() - start), 201U);
  }
  EXPECT_EQ(ExitCodeOf(thread), 0xFFFFFFD6U);
  EXPECT_EQ(worker.IsRunning(), 0);
  EXPECT_EQ(worker.Stop(200), 0);

  // The worker is idle again and starts a new thread.
  worker.released = true;
  worker.runs = 0;
  ASSERT_EQ(worker.Start(THREAD_PRIORITY_NORMAL), 1);
  HANDLE second = worker.WaitForThread();
  PlatformHoldClock(1);
  worker.Stop(200);
  EXPECT_EQ(ExitCodeOf(second), WorkerThread::kExitCode);
}

INSTANTIATE_TEST_SUITE_P(StartTicks, ForcedEnd, ::testing::Values(1000U, 0xFFFFFF80U));

TEST_F(WorkerThreadTest, ALimitOfZeroWaitsForOneTickThenTerminates) {
  PlatformHoldClock(0);
  TestWorker worker(TestWorker::Step::kHang);
  ASSERT_EQ(worker.Start(THREAD_PRIORITY_NORMAL), 1);
  HANDLE thread = worker.WaitForThread();
  const DWORD before = GetTickCount();
  EXPECT_EQ(worker.Stop(0), 1);
  if (kPlatformVirtualClock) {
    EXPECT_EQ(GetTickCount() - before, 1U);
  }
  EXPECT_EQ(ExitCodeOf(thread), 0xFFFFFFD6U);
}

#ifndef _WIN32
// Destroying a worker whose thread asked itself to stop waits for that thread.
std::atomic<bool>* release_on_sleep = nullptr;

TEST_F(WorkerThreadTest, DestroyingAStoppingWorkerWaitsForItsThread) {
  std::atomic<bool> destroyed{false};
  auto* worker = new TestWorker(TestWorker::Step::kStopItself);
  worker->destroyed_ = &destroyed;
  ASSERT_EQ(worker->Start(THREAD_PRIORITY_NORMAL), 1);
  HANDLE thread = worker->WaitForThread();
  ASSERT_TRUE(Eventually([&] { return worker->running_after_self_stop >= 0; }));
  // The thread is released only once the destructor waits for it.
  release_on_sleep = &worker->released;
  PlatformSetSleepHook([](std::uint32_t) { *release_on_sleep = true; });
  delete worker;
  EXPECT_TRUE(destroyed);
  EXPECT_EQ(ExitCodeOf(thread), WorkerThread::kExitCode);
}
#endif

}  // namespace
