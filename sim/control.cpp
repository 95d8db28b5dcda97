// The stand-in card's control panel.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "sim/card.h"
#include "sim/stream.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace sim {

void Card::Reset() {
  std::fill(std::begin(results), std::end(results), 0);
  results[SIM_STEP_OPEN_DEVICE] = 1;
  frontend_flags = 0;
  recording = false;
  device_open = false;
  journal.Clear();
  reads = 0;
  // Objects still alive stay counted as live; the count of constructions
  // starts again, so that each test sees only its own.
  std::fill(std::begin(constructions), std::end(constructions), 0);
  bus.Reset();
  frontend.Reset(settings);
  TheStream().Reset(settings.bits_per_second);
  ResetRecordRead();
}

void Card::Log(const std::string& call) { journal.Add({call, CurrentThread()}); }

int CopyLine(const std::string& line, char* buffer, int capacity) {
  if (buffer != nullptr && capacity > 0) {
    const std::size_t copied = std::min(line.size(), static_cast<std::size_t>(capacity - 1));
    std::memcpy(buffer, line.data(), copied);
    buffer[copied] = '\0';
  }
  return static_cast<int>(line.size());
}

std::string Hex(const std::uint8_t* bytes, int count) {
  std::string text;
  for (int i = 0; i < count; ++i) {
    char byte[4];
    std::snprintf(byte, sizeof byte, i == 0 ? "%02X" : " %02X", bytes[i]);
    text += byte;
  }
  return text;
}

Card& TheCard() {
  static Card* card = [] {
    auto* fresh = new Card;  // lives as long as the process: threads may call late
    // Set up as the lineup file the environment names says (sim/README.md).
    LoadSettings(LineupFileInUse(), ReplayFileInUse(), &fresh->settings, &fresh->lineup_error);
    fresh->Reset();
    return fresh;
  }();
  return *card;
}

std::uint32_t CurrentThread() {
#ifdef _WIN32
  return GetCurrentThreadId();
#else
  return static_cast<std::uint32_t>(syscall(SYS_gettid));
#endif
}

}  // namespace sim

using sim::TheCard;

extern "C" {

SIM_API void SimReset(void) {
  auto& card = TheCard();
  std::lock_guard<std::mutex> hold(card.mutex);
  card.settings = sim::BuiltInSettings();
  card.lineup_error.clear();
  card.Reset();
}

SIM_API void SimSetResult(int step, int32_t result) {
  if (step < 0 || step >= SIM_STEP_COUNT) {
    return;
  }
  auto& card = TheCard();
  std::lock_guard<std::mutex> hold(card.mutex);
  card.results[step] = result;
}

SIM_API void SimSetFrontendFlags(uint32_t flags) {
  auto& card = TheCard();
  std::lock_guard<std::mutex> hold(card.mutex);
  card.frontend_flags = flags;
}

SIM_API int SimLiveObjects(int object) {
  auto& card = TheCard();
  std::lock_guard<std::mutex> hold(card.mutex);
  return (object == 0 || object == 1) ? card.live[object] : -1;
}

SIM_API int SimConstructions(int object) {
  auto& card = TheCard();
  std::lock_guard<std::mutex> hold(card.mutex);
  return (object == 0 || object == 1) ? card.constructions[object] : -1;
}

SIM_API int SimRecording(void) {
  auto& card = TheCard();
  std::lock_guard<std::mutex> hold(card.mutex);
  return card.recording ? 1 : 0;
}

SIM_API int SimJournalSize(void) {
  auto& card = TheCard();
  std::lock_guard<std::mutex> hold(card.mutex);
  return static_cast<int>(card.journal.size());
}

SIM_API int SimJournalLine(int index, char* buffer, int capacity) {
  auto& card = TheCard();
  std::lock_guard<std::mutex> hold(card.mutex);
  return sim::CopyJournalLine(
      card.journal, index,
      [](const sim::JournalLine& line) -> const std::string& { return line.call; }, buffer,
      capacity);
}

SIM_API uint32_t SimJournalThread(int index) {
  auto& card = TheCard();
  std::lock_guard<std::mutex> hold(card.mutex);
  if (index < 0 || static_cast<std::size_t>(index) >= card.journal.size()) {
    return 0;
  }
  return card.journal[static_cast<std::size_t>(index)].thread;
}

SIM_API void SimJournalClear(void) {
  auto& card = TheCard();
  std::lock_guard<std::mutex> hold(card.mutex);
  card.journal.Clear();
}

SIM_API int64_t SimReadCount(void) {
  auto& card = TheCard();
  std::lock_guard<std::mutex> hold(card.mutex);
  return card.reads;
}

SIM_API void SimSetRecording(int on) {
  auto& card = TheCard();
  std::lock_guard<std::mutex> hold(card.mutex);
  card.recording = on != 0;
  sim::TheStream().SetRecording(card.recording);
}

SIM_API void SimSetPacing(uint32_t bits_per_second) { sim::TheStream().SetPacing(bits_per_second); }

SIM_API void SimSetGeneratedStream(int on) { sim::TheStream().SetGenerated(on != 0); }

SIM_API void SimQueueChunk(const uint8_t* data, int32_t size) {
  sim::TheStream().QueueChunk(data, size);
}

SIM_API int SimQueuedChunks(void) { return sim::TheStream().QueuedChunks(); }

SIM_API int64_t SimGeneratedPackets(void) { return sim::TheStream().GeneratedPackets(); }

}  // extern "C"
