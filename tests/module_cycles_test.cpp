// Open, tune, capture and close, over and over: every cycle releases what it
// took. Memory is checked by the heap in use, by the leak checker of the
// native-asan build and by the card's count of live objects; threads (and,
// under Windows, handles) by the process's own counts. All must come back to
// where they stood.
//
// 1,000 cycles natively and 100 under Wine; MORVALIND_CYCLES sets the count.
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <windows.h>
// windows.h must come first.
#include <tlhelp32.h>
#else
#include <dirent.h>
#endif

#include "platform/testing.h"
#include "tests/support/cycle_count.h"
#include "tests/support/heap_in_use.h"
#include "tests/support/module_fixture.h"
#include "tests/support/tuning_records.h"

namespace {

struct ResourceCounts {
  long threads = 0;
  long handles = 0;  // Windows only
  std::int64_t heap = 0;
};

ResourceCounts Count() {
  ResourceCounts counts;
  counts.heap = HeapInUse();
#ifdef _WIN32
  DWORD handles = 0;
  GetProcessHandleCount(GetCurrentProcess(), &handles);
  counts.handles = static_cast<long>(handles);
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  THREADENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
    if (entry.th32OwnerProcessID == GetCurrentProcessId()) {
      ++counts.threads;
    }
  }
  CloseHandle(snapshot);
#else
  if (DIR* tasks = opendir("/proc/self/task")) {
    while (const dirent* task = readdir(tasks)) {
      if (task->d_name[0] != '.') {
        ++counts.threads;
      }
    }
    closedir(tasks);
  }
#endif
  return counts;
}

// A thread that has been told to end takes a moment to leave: the counts are
// read again until they are back at `baseline`, for at most 20 s.
ResourceCounts SettledCounts(const ResourceCounts& baseline) {
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  ResourceCounts counts = Count();
  while ((counts.threads > baseline.threads || counts.handles > baseline.handles) &&
         std::chrono::steady_clock::now() < give_up) {
    std::this_thread::yield();
    counts = Count();
  }
  return counts;
}

constexpr int kPacketsPerCycle = 8;
// What a cycle allocates it gives back; the stand-in card's journals, which
// keep their latest lines, may fill up meanwhile (about 60 KB when full).
constexpr std::int64_t kHeapGrowthLimit = std::int64_t{256} * 1024;

std::mutex delivered_mutex;
std::int64_t delivered = 0;

std::int32_t MV_STDCALL CountPacket(const std::uint8_t* /*packet*/, std::int32_t /*length*/) {
  std::lock_guard<std::mutex> hold(delivered_mutex);
  ++delivered;
  return 0;
}

std::int64_t Delivered() {
  std::lock_guard<std::mutex> hold(delivered_mutex);
  return delivered;
}

class Cycles : public ModuleTest {
 protected:
  static void RunCycle(const TuningRecord& tuning, const std::vector<std::uint8_t>& packets);
};

// One open, tune, capture of the queued packets, close.
void Cycles::RunCycle(const TuningRecord& tuning, const std::vector<std::uint8_t>& packets) {
  PlatformHoldClock(0);
  ASSERT_EQ(Entries().open(), 0);
  const std::int64_t before = Delivered();
  SimQueueChunk(packets.data(), static_cast<std::int32_t>(packets.size()));
  ASSERT_EQ(Entries().tune(&tuning), 0);
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (Delivered() < before + kPacketsPerCycle && std::chrono::steady_clock::now() < give_up) {
    std::this_thread::yield();
  }
  ASSERT_EQ(Delivered(), before + kPacketsPerCycle);
  PlatformHoldClock(1);  // close waits for the capture thread's own end
  ASSERT_EQ(Entries().close(), 0);
  ASSERT_EQ(SimLiveObjects(SIM_OBJECT_BOARD_CONTROL), 0);
  ASSERT_EQ(SimLiveObjects(SIM_OBJECT_FRONTEND), 0);
}

TEST_F(Cycles, OpenTuneCaptureCloseAgainAndAgainLeavesNothingBehind) {
  SimSetGeneratedStream(0);  // each cycle's packets are the queued ones alone
  SimSetLockPolls(1);
  Entries().set_callback(CountPacket);
  std::vector<std::uint8_t> packets(std::size_t{188} * kPacketsPerCycle, 0x5A);
  for (int i = 0; i < kPacketsPerCycle; ++i) {
    packets[188 * static_cast<std::size_t>(i)] = 0x47;
  }
  const TuningRecord tuning = LineupRecord(2);

  // The first cycles load what stays loaded (the card's library, the runtime's
  // thread pool); the counts are taken after them.
  for (int i = 0; i < 3; ++i) {
    RunCycle(tuning, packets);
    ASSERT_FALSE(HasFatalFailure());
  }
  const ResourceCounts baseline = SettledCounts(Count());
  const int cycles = CycleCount();
  for (int i = 0; i < cycles; ++i) {
    RunCycle(tuning, packets);
    ASSERT_FALSE(HasFatalFailure()) << "cycle " << i;
  }
  const ResourceCounts after = SettledCounts(baseline);
  std::printf("%d cycles: threads %ld -> %ld, handles %ld -> %ld, heap in use %lld -> %lld KB\n",
              cycles, baseline.threads, after.threads, baseline.handles, after.handles,
              static_cast<long long>(baseline.heap / 1024),
              static_cast<long long>(after.heap / 1024));
  EXPECT_EQ(after.threads, baseline.threads);
  EXPECT_EQ(after.handles, baseline.handles);
  EXPECT_LT(after.heap - baseline.heap, kHeapGrowthLimit);
  EXPECT_EQ(Delivered(), static_cast<std::int64_t>(cycles + 3) * kPacketsPerCycle);
  PlatformHoldClock(0);
}

}  // namespace
