// Fuzz target: arbitrary host records and modes for the entries that take
// records (tune, signal, DiSEqC), null pointers among them, interleaved with
// arbitrary behaviour of the stand-in card (results of every vendor step, bus
// failures, stream chunks, recording, lock, signal figures) and with the
// host's callback replaced, cleared or closing the card from inside. Each
// input ends with the card closed. Runs on the virtual clock.
#include <fuzzer/FuzzedDataProvider.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "abi/records.h"
#include "fuzz/loaded_module.h"
#include "platform/testing.h"
#include "sim/control.h"
#include "tests/support/tuning_records.h"

namespace {

DeviceInterface entries{};
std::atomic<std::int64_t> delivered{0};
std::atomic<int> closes_from_callback{0};
std::atomic<bool> close_in_callback{false};

std::int32_t MV_STDCALL Count(const std::uint8_t* /*packet*/, std::int32_t /*length*/) {
  delivered.fetch_add(1);
  return 0;
}

std::int32_t MV_STDCALL CountToo(const std::uint8_t* /*packet*/, std::int32_t /*length*/) {
  delivered.fetch_add(1);
  return 0;
}

// Closes the card from the capture thread, once per request.
std::int32_t MV_STDCALL Closing(const std::uint8_t* /*packet*/, std::int32_t /*length*/) {
  if (close_in_callback.exchange(false)) {
    entries.close();
    closes_from_callback.fetch_add(1);
  }
  return 0;
}

bool LoadModule() {
  entries = LoadedModuleEntries();
  return true;
}

// Close waits for the capture thread's own end: a forced end would leave the
// card's locks held by a dead thread.
std::int32_t Close() {
  PlatformHoldClock(1);
  const std::int32_t result = entries.close();
  PlatformHoldClock(0);
  return result;
}

void ScriptCard(FuzzedDataProvider& input) {
  switch (input.ConsumeIntegralInRange(0, 11)) {
    case 0:
      SimSetResult(input.ConsumeIntegralInRange(0, SIM_STEP_COUNT - 1),
                   input.ConsumeIntegral<std::int32_t>());
      break;
    case 1:
      SimBusFailLine(input.ConsumeIntegralInRange(0, 400));
      break;
    case 2:
      SimBusFailAll(input.ConsumeBool() ? 1 : 0);
      break;
    case 3:
      SimBusFailRegister(input.ConsumeBool() ? 0x1C : 0x10, input.ConsumeIntegral<std::uint8_t>(),
                         input.ConsumeBool() ? 1 : 0);
      break;
    case 4: {
      const std::vector<std::uint8_t> chunk =
          input.ConsumeBytes<std::uint8_t>(input.ConsumeIntegralInRange<std::size_t>(0, 1200));
      SimQueueChunk(chunk.data(), chunk.empty() ? input.ConsumeIntegralInRange(-5, 0)
                                                : static_cast<std::int32_t>(chunk.size()));
      break;
    }
    case 5:
      SimSetRecording(input.ConsumeBool() ? 1 : 0);
      break;
    case 6:
      SimSetLockPolls(input.ConsumeIntegralInRange(-2, 40));
      break;
    case 7:
      SimSetFrontendFlags(input.ConsumeIntegral<std::uint32_t>());
      break;
    case 8:
      SimSetTransponderSignal(input.ConsumeIntegralInRange(-1, 7), input.ConsumeIntegral<int>(),
                              input.ConsumeFloatingPoint<double>());
      break;
    case 9:
      SimBusSetDiseqcBusyReads(input.ConsumeIntegralInRange(-1, 20));
      break;
    case 10:
      SimBusSetRegister(input.ConsumeIntegral<std::uint8_t>(),
                        input.ConsumeIntegral<std::uint8_t>());
      break;
    default:
      SimSetGeneratedStream(input.ConsumeBool() ? 1 : 0);
      SimSetPacing(input.ConsumeBool() ? 0U : input.ConsumeIntegral<std::uint32_t>());
      break;
  }
}

void CallEntry(FuzzedDataProvider& input, bool& open) {
  switch (input.ConsumeIntegralInRange(0, 8)) {
    case 0:
      open = entries.open() == 0 || open;
      break;
    case 1:
      Close();
      open = false;
      break;
    case 2: {
      TuningRecord record{};
      const std::vector<std::uint8_t> bytes = input.ConsumeBytes<std::uint8_t>(sizeof record);
      if (!bytes.empty()) {
        std::memcpy(&record, bytes.data(), bytes.size());
      }
      entries.tune(input.ConsumeBool() ? &record : nullptr);
      break;
    }
    case 3: {
      const TuningRecord record = LineupRecord(input.ConsumeIntegralInRange(0, 5));
      entries.tune(&record);
      break;
    }
    case 4: {
      SignalRecord signal{};
      TuningRecord tuning{};
      entries.get_signal(input.ConsumeBool() ? &signal : nullptr,
                         input.ConsumeBool() ? &tuning : nullptr);
      break;
    }
    case 5: {
      // The host's record holds at least 5 + length bytes.
      std::uint8_t record[5 + 255 + 3] = {};
      const std::vector<std::uint8_t> bytes = input.ConsumeBytes<std::uint8_t>(sizeof record);
      if (!bytes.empty()) {
        std::memcpy(record, bytes.data(), bytes.size());
      }
      const auto mode = input.ConsumeBool() ? input.ConsumeIntegralInRange<std::uint32_t>(0, 3)
                                            : input.ConsumeIntegral<std::uint32_t>();
      entries.send_diseqc(input.ConsumeBool() ? reinterpret_cast<DiseqcRecord*>(record) : nullptr,
                          mode);
      break;
    }
    case 6: {
      const int which = input.ConsumeIntegralInRange(0, 2);
      entries.set_callback(which == 0 ? Count : which == 1 ? CountToo : nullptr);
      break;
    }
    case 7: {
      // Lets the stream run for a moment (real time, bounded) so that packets
      // flow while the next calls come.
      const std::int64_t before = delivered.load();
      const auto give_up = std::chrono::steady_clock::now() + std::chrono::milliseconds(5);
      while (delivered.load() == before && std::chrono::steady_clock::now() < give_up) {
        std::this_thread::yield();
      }
      break;
    }
    default: {
      // Close from inside the callback: one packet with the sync byte, and the
      // next call waits until the capture thread has closed the card.
      if (!open) {
        break;
      }
      std::uint8_t packet[188] = {0x47};
      close_in_callback = true;
      const int closes = closes_from_callback.load();
      entries.set_callback(Closing);
      SimQueueChunk(packet, sizeof packet);
      SimSetRecording(1);
      const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(2);
      while (closes_from_callback.load() == closes && std::chrono::steady_clock::now() < give_up) {
        std::this_thread::yield();
      }
      if (close_in_callback.exchange(false)) {
        break;  // the packet did not come (recording switched off by the card's script)
      }
      open = false;
      break;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool loaded = LoadModule();
  (void)loaded;
  PlatformUseVirtualClock(1, 1000);
  SimReset();
  SimSetGeneratedStream(0);
  FuzzedDataProvider input(data, size);
  bool open = false;
  for (int step = 0; step < 48 && input.remaining_bytes() > 0; ++step) {
    if (input.ConsumeBool()) {
      ScriptCard(input);
    } else {
      CallEntry(input, open);
    }
  }
  Close();
  // A close from inside the callback may still be winding down its thread.
  entries.set_callback(nullptr);
  PlatformUseVirtualClock(0, 0);
  return 0;
}
