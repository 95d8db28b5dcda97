// Packets through the capture worker against an ideal loop over the same reads
// (copy 188 bytes, one indirect call per packet), both fed by the stand-in card
// from one buffer of its stream generated once, so that neither measures the
// stream generator; measured in packets per CPU-second of the thread that
// delivers, rounds of the two loops taking turns. And what the capture thread
// costs while recording is off. The program times itself, so that it builds
// and runs the same on both targets (bench/callgrind.sh counts instructions).
//
//   capture_bench [--seconds S] [--rounds R]   rounds of about S s per loop
//   capture_bench --packets N                  N packets through each loop, once
//   capture_bench --idle                       the idle capture thread, 3 s
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "capture/capture_worker.h"
#include "plugin/context.h"
#include "plugin/entries.h"
#include "sim/control.h"

#ifndef _WIN32
#include <time.h>
#endif

namespace {

constexpr std::int64_t kPacketsPerRead = CaptureWorker::kReadSize / CaptureWorker::kPacketSize;

// CPU seconds of the calling thread, or of the whole process.
double CpuSeconds(bool thread) {
#ifdef _WIN32
  FILETIME created{};
  FILETIME ended{};
  FILETIME kernel{};
  FILETIME user{};
  if (thread) {
    GetThreadTimes(GetCurrentThread(), &created, &ended, &kernel, &user);
  } else {
    GetProcessTimes(GetCurrentProcess(), &created, &ended, &kernel, &user);
  }
  const auto ticks = [](const FILETIME& time) {
    return (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
  };
  return static_cast<double>(ticks(kernel) + ticks(user)) * 1e-7;
#else
  timespec now{};
  clock_gettime(thread ? CLOCK_THREAD_CPUTIME_ID : CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
#endif
}

double ThreadCpuSeconds() { return CpuSeconds(true); }

// The host's callback. Only the delivering thread touches the counters; the
// marks take the thread's CPU time after one read of warm-up and at the goal.
std::int64_t counted = 0;
std::int64_t next_mark = 0;
std::int64_t goal = 0;
double cpu_at_start = 0;
double cpu_at_goal = 0;
std::atomic<bool> reached{false};
volatile std::uint8_t sink = 0;

void Mark() {
  if (counted == goal) {
    cpu_at_goal = ThreadCpuSeconds();
    next_mark = -1;
    reached.store(true);
  } else {
    cpu_at_start = ThreadCpuSeconds();
    next_mark = goal;
  }
}

std::int32_t MV_STDCALL CountPacket(const std::uint8_t* packet, std::int32_t /*length*/) {
  sink = packet[3];
  if (++counted == next_mark) {
    Mark();
  }
  return 0;
}

// The ideal loop over one read: every packet copied and handed to the callback,
// through a pointer the compiler cannot see through.
#if defined(__GNUC__)
__attribute__((noinline))
#endif
void IdealBatch(const std::uint8_t* buffer, std::int32_t count, std::uint8_t* packet) {
  StreamCallback volatile callback = CountPacket;
  for (std::int32_t offset = 0; offset + 188 <= count; offset += 188) {
    std::memcpy(packet, buffer + offset, 188);
    callback(packet, 188);
  }
}

void OpenCard(std::int64_t packets) {
  SimReset();
  SimSetPacing(0);
  SimRepeatReads(1);  // one buffer of the stream, handed back by every read
  counted = 0;
  goal = kPacketsPerRead + packets;
  next_mark = kPacketsPerRead;
  reached = false;
  DeviceSetStreamCallback(CountPacket);
  if (DeviceOpen() != 0) {
    std::fprintf(stderr, "the stand-in card did not open\n");
    std::exit(1);
  }
}

struct Figures {
  std::int64_t delivered;  // all the loop delivered, warm-up included
  std::int64_t measured;   // from the end of warm-up to the goal
  double cpu_seconds;      // the delivering thread's, for the measured packets
  double rate() const { return static_cast<double>(measured) / cpu_seconds; }
};

// The capture thread reads and delivers; this thread waits, asleep.
Figures RunWorker(std::int64_t packets) {
  OpenCard(packets);
  SimSetRecording(1);
  while (!reached.load()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  SimSetRecording(0);
  DeviceClose();
  return {counted, packets, cpu_at_goal - cpu_at_start};
}

// This thread reads instead of the capture thread, and delivers.
Figures RunIdeal(std::int64_t packets) {
  OpenCard(packets);
  device_context.capture_worker->StopCapture();
  SimSetRecording(1);
  const std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[CaptureWorker::kReadSize]);
  alignas(64) std::uint8_t packet[188];  // aligned as the worker's packet buffer
  while (!reached.load(std::memory_order_relaxed)) {
    const std::int32_t count =
        device_context.board_control->TSRecordRead(buffer.get(), CaptureWorker::kReadSize);
    IdealBatch(buffer.get(), count, packet);
  }
  SimSetRecording(0);
  DeviceClose();
  return {counted, packets, cpu_at_goal - cpu_at_start};
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

int Rounds(double seconds, int rounds) {
  // A short first pass sets the packets per round.
  const Figures probe = RunIdeal(kPacketsPerRead * 200);
  const auto packets = static_cast<std::int64_t>(probe.rate() * seconds);
  std::printf("%-7s %12s %9s %16s\n", "loop", "packets", "cpu s", "Mpkt per cpu-s");
  std::vector<double> worker;
  std::vector<double> ideal;
  for (int round = 0; round < rounds; ++round) {
    const Figures w = RunWorker(packets);
    const Figures i = RunIdeal(packets);
    worker.push_back(w.rate());
    ideal.push_back(i.rate());
    std::printf("%-7s %12lld %9.3f %16.2f\n", "worker", static_cast<long long>(packets),
                w.cpu_seconds, w.rate() / 1e6);
    std::printf("%-7s %12lld %9.3f %16.2f\n", "ideal", static_cast<long long>(packets),
                i.cpu_seconds, i.rate() / 1e6);
  }
  const double w = Median(worker);
  const double i = Median(ideal);
  std::printf("median  worker %.2f, ideal %.2f Mpkt per cpu-s: worker/ideal %.3f\n", w / 1e6,
              i / 1e6, w / i);
  return 0;
}

int Once(std::int64_t packets) {
  const Figures w = RunWorker(packets);
  std::printf("worker packets %lld\n", static_cast<long long>(w.delivered));
  const Figures i = RunIdeal(packets);
  std::printf("ideal packets %lld\n", static_cast<long long>(i.delivered));
  return 0;
}

// Recording off: the capture thread reads nothing and sleeps 1 ms between reads.
int Idle() {
  OpenCard(0);
  const std::int64_t reads = SimReadCount();
  const double cpu = CpuSeconds(false);
  const auto wall = std::chrono::steady_clock::now();
  std::this_thread::sleep_for(std::chrono::seconds(3));
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - wall).count();
  std::printf("idle: %.4f cpu-s per s, %.0f reads per s\n", (CpuSeconds(false) - cpu) / seconds,
              static_cast<double>(SimReadCount() - reads) / seconds);
  DeviceClose();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  double seconds = 1.0;
  int rounds = 5;
  for (int i = 1; i < argc; ++i) {
    const std::string option = argv[i];
    const char* value = i + 1 < argc ? argv[i + 1] : "";
    if (option == "--idle") {
      return Idle();
    }
    if (option == "--packets") {
      return Once(std::atoll(value));
    }
    if (option == "--seconds") {
      seconds = std::atof(value);
      ++i;
    } else if (option == "--rounds") {
      rounds = std::max(1, std::atoi(value));
      ++i;
    } else {
      std::fprintf(stderr,
                   "usage: capture_bench [--seconds S] [--rounds R] | --packets N | --idle\n");
      return 2;
    }
  }
  return Rounds(seconds, rounds);
}
