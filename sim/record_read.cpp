// What a read of the card's stream does beyond the stream itself: a read that
// hangs inside the library, and reads that hand back one buffer of bytes over
// and over (a stream generated once, for measurements).
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "sim/card.h"
#include "sim/stream.h"

namespace sim {
namespace {

std::atomic<bool> hang_reads{false};
std::atomic<int> hanging_reads{0};

struct Repeat {
  std::mutex mutex;
  bool on = false;
  std::vector<std::uint8_t> kept;  // the first read's bytes, once taken
};

Repeat& TheRepeat() {
  static auto* repeat = new Repeat;  // lives as long as the process
  return *repeat;
}

}  // namespace

std::int32_t RecordRead(std::uint8_t* buffer, std::int32_t capacity, bool recording) {
  if (hang_reads) {
    ++hanging_reads;
    while (hang_reads) {
      std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    --hanging_reads;
  }
  Repeat& repeat = TheRepeat();
  {
    std::lock_guard<std::mutex> hold(repeat.mutex);
    if (repeat.on && !repeat.kept.empty() && recording && buffer != nullptr && capacity > 0) {
      const std::size_t size = std::min(repeat.kept.size(), static_cast<std::size_t>(capacity));
      std::memcpy(buffer, repeat.kept.data(), size);
      return static_cast<std::int32_t>(size);
    }
  }
  const std::int32_t result = TheStream().Read(buffer, capacity);
  std::lock_guard<std::mutex> hold(repeat.mutex);
  if (repeat.on && repeat.kept.empty() && result > 0) {
    repeat.kept.assign(buffer, buffer + result);
  }
  return result;
}

void ResetRecordRead() {
  hang_reads = false;
  Repeat& repeat = TheRepeat();
  std::lock_guard<std::mutex> hold(repeat.mutex);
  repeat.on = false;
  repeat.kept.clear();
}

}  // namespace sim

extern "C" {

SIM_API void SimHangReads(int on) { sim::hang_reads = on != 0; }

SIM_API int SimHangingReads(void) { return sim::hanging_reads; }

SIM_API void SimRepeatReads(int on) {
  sim::Repeat& repeat = sim::TheRepeat();
  std::lock_guard<std::mutex> hold(repeat.mutex);
  repeat.on = on != 0;
  repeat.kept.clear();
}

}  // extern "C"
