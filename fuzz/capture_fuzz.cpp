// Fuzz target for the capture loop's delivery, through the loaded module and
// the stand-in card: a stream of numbered packets, some without their sync
// byte, some bytes missing, read in arbitrary pieces (reads of nothing among
// them). What reaches the host's callback is compared with what the cutting
// rule promises, worked out here on the whole stream:
//   - with no byte missing, every packet that has its sync byte arrives once,
//     in order, and nothing else does, however the reads cut the stream;
//   - in any case, exactly the packets the rule makes of these reads arrive.
// Only sync bytes are 0x47 in these streams: the payload never looks like one.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

#include "abi/records.h"
#include "fuzz/loaded_module.h"
#include "platform/testing.h"
#include "sim/control.h"

namespace {

constexpr std::size_t kPacket = 188;
constexpr std::uint8_t kSync = 0x47;

using Bytes = std::vector<std::uint8_t>;

std::mutex delivered_mutex;
std::vector<Bytes> delivered;

std::int32_t MV_STDCALL Take(const std::uint8_t* packet, std::int32_t length) {
  const std::lock_guard<std::mutex> hold(delivered_mutex);
  delivered.emplace_back(packet, packet + length);
  return 0;
}

// Packet `number`: its sync byte (or not), its number in two bytes, and a
// payload that never holds 0x47.
Bytes MakePacket(std::uint32_t number, bool synced) {
  Bytes packet(kPacket);
  packet[0] = synced ? kSync : static_cast<std::uint8_t>(0x46 + 2 * (number % 2));
  packet[1] = static_cast<std::uint8_t>(0x80 | ((number >> 6) & 0x3F));
  packet[2] = static_cast<std::uint8_t>(0x80 | (number & 0x3F));
  for (std::size_t i = 3; i < kPacket; ++i) {
    const auto byte = static_cast<std::uint8_t>(number * 31 + i * 7);
    packet[i] = byte == kSync ? 0x48 : byte;
  }
  return packet;
}

// The rule, on the whole list of reads (a size of 0 or less reads nothing).
std::vector<Bytes> Promised(const Bytes& stream, const std::vector<std::int32_t>& reads) {
  std::vector<Bytes> packets;
  Bytes tail;
  std::size_t at = 0;
  for (const std::int32_t size : reads) {
    if (size <= 0) {
      continue;
    }
    Bytes read(stream.begin() + static_cast<long>(at),
               stream.begin() + static_cast<long>(at) + size);
    at += static_cast<std::size_t>(size);
    if (!tail.empty()) {
      const std::size_t need = kPacket - tail.size();
      if (read.size() < need) {
        tail.insert(tail.end(), read.begin(), read.end());
        continue;
      }
      // The read continues the tail unless it plainly starts a packet of its
      // own: a sync byte first, and none where the tail's packet would end.
      const bool own_start = read.size() > need && read[need] != kSync && read[0] == kSync;
      if (!own_start) {
        tail.insert(tail.end(), read.begin(), read.begin() + static_cast<long>(need));
        if (tail[0] == kSync) {
          packets.push_back(tail);
        }
        read.erase(read.begin(), read.begin() + static_cast<long>(need));
      }
      tail.clear();
    }
    std::size_t offset = 0;
    for (; read.size() - offset >= kPacket; offset += kPacket) {
      if (read[offset] == kSync) {
        packets.emplace_back(read.begin() + static_cast<long>(offset),
                             read.begin() + static_cast<long>(offset + kPacket));
      }
    }
    tail.assign(read.begin() + static_cast<long>(offset), read.end());
  }
  return packets;
}

// Waits until the card has handed out every queued read and the capture
// thread has finished delivering the last one (it has begun the next read).
void WaitForTheReads() {
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (SimQueuedChunks() != 0) {
    if (std::chrono::steady_clock::now() > give_up) {
      std::abort();
    }
    std::this_thread::yield();
  }
  const std::int64_t reads = SimReadCount();
  while (SimReadCount() == reads) {
    if (std::chrono::steady_clock::now() > give_up) {
      std::abort();
    }
    std::this_thread::yield();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const DeviceInterface& entries = LoadedModuleEntries();
  FuzzedDataProvider input(data, size);

  // The stream: numbered packets, one in `unsynced_one_in` without its sync byte.
  const auto count = input.ConsumeIntegralInRange<std::uint32_t>(1, 64);
  const auto unsynced_one_in = input.ConsumeIntegralInRange<std::uint32_t>(0, 8);
  Bytes stream;
  std::vector<Bytes> synced;
  for (std::uint32_t n = 0; n < count; ++n) {
    const bool sync = unsynced_one_in == 0 || input.ConsumeIntegralInRange(1U, unsynced_one_in) > 1;
    const Bytes packet = MakePacket(n, sync);
    stream.insert(stream.end(), packet.begin(), packet.end());
    if (sync) {
      synced.push_back(packet);
    }
  }
  // Bytes missing from the stream, anywhere.
  const int gaps = input.ConsumeIntegralInRange(0, 3) == 3 ? input.ConsumeIntegralInRange(1, 3) : 0;
  for (int i = 0; i < gaps && stream.size() > 1; ++i) {
    const auto from = input.ConsumeIntegralInRange<std::size_t>(0, stream.size() - 1);
    const auto length = input.ConsumeIntegralInRange<std::size_t>(
        1, std::min<std::size_t>(400, stream.size() - from));
    stream.erase(stream.begin() + static_cast<long>(from),
                 stream.begin() + static_cast<long>(from + length));
  }
  // The reads, in one of a few patterns, with reads of nothing among them.
  const int pattern = input.ConsumeIntegralInRange(0, 3);
  std::vector<std::int32_t> reads;
  for (std::size_t left = stream.size(); left > 0;) {
    if (input.remaining_bytes() > 0 && input.ConsumeIntegralInRange(0, 7) == 0) {
      reads.push_back(input.ConsumeIntegralInRange(-1, 0));
      continue;
    }
    std::size_t piece = left;
    if (input.remaining_bytes() > 0) {
      switch (pattern) {
        case 0:  // anything
          piece = input.ConsumeIntegralInRange<std::size_t>(1, 3 * kPacket);
          break;
        case 1:  // a few bytes at a time
          piece = input.ConsumeIntegralInRange<std::size_t>(1, 12);
          break;
        case 2:  // whole packets, now and then a few bytes more or less
          piece = kPacket * input.ConsumeIntegralInRange<std::size_t>(1, 4) +
                  input.ConsumeIntegralInRange<std::size_t>(0, 2) - 1;
          break;
        default:  // just short of or just past a packet's end
          piece = kPacket + input.ConsumeIntegralInRange<std::size_t>(0, 2) - 1;
          break;
      }
    }
    piece = std::min(piece, left);
    reads.push_back(static_cast<std::int32_t>(piece));
    left -= piece;
  }

  PlatformUseVirtualClock(1, 1000);
  PlatformHoldClock(1);  // close waits for the capture thread's own end
  SimReset();
  SimSetGeneratedStream(0);
  {
    const std::lock_guard<std::mutex> hold(delivered_mutex);
    delivered.clear();
  }
  entries.set_callback(Take);
  if (entries.open() != 0) {
    std::abort();
  }
  std::size_t at = 0;
  for (const std::int32_t read : reads) {
    SimQueueChunk(read > 0 ? stream.data() + at : nullptr, read);
    at += static_cast<std::size_t>(std::max(read, 0));
  }
  SimSetRecording(1);
  WaitForTheReads();
  entries.close();
  entries.set_callback(nullptr);
  PlatformHoldClock(0);
  PlatformUseVirtualClock(0, 0);

  const std::vector<Bytes> promised = Promised(stream, reads);
  if (gaps == 0 && promised != synced) {
    std::fprintf(stderr, "the rule loses or invents packets: %zu promised, %zu in the stream\n",
                 promised.size(), synced.size());
    std::abort();
  }
  const std::lock_guard<std::mutex> hold(delivered_mutex);
  if (delivered != promised) {
    std::fprintf(stderr, "delivered %zu packets, the rule promises %zu\n", delivered.size(),
                 promised.size());
    std::abort();
  }
  return 0;
}
