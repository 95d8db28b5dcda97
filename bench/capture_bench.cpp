// Packets per second through the capture worker, reading the stand-in card's
// unpaced stream, against an ideal loop over the same reads (copy 188 bytes,
// one indirect call per packet), and what the idle loop costs while recording
// is off. Run: capture_bench --benchmark_counters_tabular=true
#include <benchmark/benchmark.h>
#include <time.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <thread>

#include "capture/capture_worker.h"
#include "plugin/context.h"
#include "plugin/entries.h"
#include "sim/control.h"

namespace {

constexpr std::int64_t kPacketsPerIteration = std::int64_t{5120} * 8;

std::atomic<std::int64_t> delivered{0};

std::int32_t MV_STDCALL CountPacket(const std::uint8_t* packet, std::int32_t /*length*/) {
  benchmark::DoNotOptimize(packet[3]);
  delivered.fetch_add(1, std::memory_order_relaxed);
  return 0;
}

double ProcessCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

void OpenCard() {
  SimReset();
  SimSetPacing(0);
  DeviceSetStreamCallback(CountPacket);
  if (DeviceOpen() != 0) {
    std::abort();
  }
}

// The real worker: the capture thread reads and delivers; this thread only
// waits for the count, sleeping between looks.
void CaptureWorkerLoop(benchmark::State& state) {
  OpenCard();
  delivered = 0;
  SimSetRecording(1);
  std::int64_t goal = 0;
  for (auto _ : state) {  // NOLINT(clang-analyzer-deadcode.DeadStores)
    goal += kPacketsPerIteration;
    while (delivered.load(std::memory_order_relaxed) < goal) {
      std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
  }
  SimSetRecording(0);
  state.SetItemsProcessed(delivered.load());
  DeviceClose();
}
BENCHMARK(CaptureWorkerLoop)->UseRealTime()->MinTime(2.0)->Unit(benchmark::kMillisecond);

// The same reads on this thread, each packet copied and handed to the same
// callback through a pointer the compiler cannot see through.
void IdealLoop(benchmark::State& state) {
  OpenCard();
  device_context.capture_worker->StopCapture();  // this thread reads instead
  SimSetRecording(1);
  const std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[CaptureWorker::kReadSize]);
  StreamCallback volatile callback = CountPacket;
  std::uint8_t packet[188];
  delivered = 0;
  for (auto _ : state) {  // NOLINT(clang-analyzer-deadcode.DeadStores)
    std::int64_t done = 0;
    while (done < kPacketsPerIteration) {
      const std::int32_t count =
          device_context.board_control->TSRecordRead(buffer.get(), CaptureWorker::kReadSize);
      for (std::int32_t offset = 0; offset + 188 <= count; offset += 188) {
        std::memcpy(packet, buffer.get() + offset, 188);
        callback(packet, 188);
        ++done;
      }
    }
  }
  SimSetRecording(0);
  state.SetItemsProcessed(delivered.load());
  DeviceClose();
}
BENCHMARK(IdealLoop)->UseRealTime()->MinTime(2.0)->Unit(benchmark::kMillisecond);

// Recording off: the capture thread reads nothing and sleeps 1 ms between
// reads. Reports the process's CPU time per second of wall time.
void IdleLoop(benchmark::State& state) {
  OpenCard();
  double cpu = 0;
  double wall = 0;
  for (auto _ : state) {  // NOLINT(clang-analyzer-deadcode.DeadStores)
    const double cpu_start = ProcessCpuSeconds();
    const auto wall_start = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(1));
    cpu += ProcessCpuSeconds() - cpu_start;
    wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - wall_start).count();
  }
  state.counters["cpu_per_wall"] = cpu / wall;
  state.counters["reads_per_s"] = static_cast<double>(SimReadCount()) / wall;
  DeviceClose();
}
BENCHMARK(IdleLoop)->UseRealTime()->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
