// The capture loop on the stand-in card, through DeviceOpen and DeviceClose:
// what reaches the host's callback for scripted reads, and how close ends the
// capture thread.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "capture/capture_worker.h"
#include "platform/testing.h"
#include "plugin/context.h"
#include "plugin/entries.h"
#include "sim/control.h"
#include "tests/support/journals.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::size_t kPacket = CaptureWorker::kPacketSize;

// A packet whose bytes all derive from `number`, starting with `sync`.
Bytes MakePacket(std::uint32_t number, std::uint8_t sync = 0x47) {
  Bytes packet(kPacket);
  for (std::size_t i = 0; i < kPacket; ++i) {
    packet[i] = static_cast<std::uint8_t>(std::size_t{number} * 7 + i);
  }
  packet[0] = sync;
  std::memcpy(&packet[4], &number, sizeof number);
  return packet;
}

std::uint32_t NumberOf(const Bytes& packet) {
  std::uint32_t number = 0;
  std::memcpy(&number, &packet[4], sizeof number);
  return number;
}

Bytes Join(const std::vector<Bytes>& parts) {
  Bytes joined;
  for (const Bytes& part : parts) {
    joined.insert(joined.end(), part.begin(), part.end());
  }
  return joined;
}

void Queue(const Bytes& bytes) {
  SimQueueChunk(bytes.data(), static_cast<std::int32_t>(bytes.size()));
}

// What the host's callbacks received, shared with the capture thread.
struct Received {
  std::mutex mutex;
  std::condition_variable arrived;
  std::vector<Bytes> packets;
  std::vector<const std::uint8_t*> addresses;
  std::vector<std::int32_t> lengths;
  std::vector<char> receivers;      // 'A' or 'B': which callback took the packet
  std::vector<std::int64_t> reads;  // the card's read count at the call
  DWORD thread_id = 0;
  HANDLE thread = nullptr;
  std::int32_t close_result = -1;
  std::int64_t reads_at_close = -1;

  void Take(char receiver, const std::uint8_t* packet, std::int32_t length) {
    const std::int64_t read = SimReadCount();
    std::lock_guard<std::mutex> hold(mutex);
    if (thread == nullptr) {
      thread_id = GetCurrentThreadId();
      thread = OpenThread(SYNCHRONIZE | THREAD_QUERY_INFORMATION, 0, thread_id);
    }
    packets.emplace_back(packet, packet + length);
    addresses.push_back(packet);
    lengths.push_back(length);
    receivers.push_back(receiver);
    reads.push_back(read);
    arrived.notify_all();
  }

  bool WaitFor(std::size_t count) {
    std::unique_lock<std::mutex> hold(mutex);
    return arrived.wait_for(hold, std::chrono::seconds(20),
                            [&] { return packets.size() >= count; });
  }

  std::vector<std::uint32_t> Numbers() {
    std::lock_guard<std::mutex> hold(mutex);
    std::vector<std::uint32_t> numbers;
    for (const Bytes& packet : packets) {
      numbers.push_back(NumberOf(packet));
    }
    return numbers;
  }
};

Received* received = nullptr;
std::atomic<bool> hang_released{false};

std::int32_t MV_STDCALL CallbackA(const std::uint8_t* packet, std::int32_t length) {
  received->Take('A', packet, length);
  return 0;
}

std::int32_t MV_STDCALL CallbackB(const std::uint8_t* packet, std::int32_t length) {
  received->Take('B', packet, length);
  return 0;
}

std::int32_t MV_STDCALL CallbackSwitchingToB(const std::uint8_t* packet, std::int32_t length) {
  received->Take('A', packet, length);
  DeviceSetStreamCallback(CallbackB);
  return 0;
}

std::int32_t MV_STDCALL CallbackClosing(const std::uint8_t* packet, std::int32_t length) {
  received->Take('A', packet, length);
  if (received->packets.size() == 1) {
    received->close_result = DeviceClose();
    received->reads_at_close = SimReadCount();
  }
  return 0;
}

// A lock of the host's, which its callback holds while it is slow: about a
// second by the tick count, which the callback leaves to others to move.
std::mutex host_lock;

std::int32_t MV_STDCALL CallbackSlowWithHostLock(const std::uint8_t* packet, std::int32_t length) {
  received->Take('A', packet, length);
  const std::lock_guard<std::mutex> hold(host_lock);
  const DWORD start = GetTickCount();
  while (GetTickCount() - start <= 1000 && !hang_released) {
    std::this_thread::yield();
  }
  return 0;
}

DWORD ExitCodeOf(HANDLE thread) {
  EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
  DWORD code = 0;
  GetExitCodeThread(thread, &code);
  CloseHandle(thread);
  return code;
}

class CaptureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    received = new Received;
    SimReset();
    SimSetGeneratedStream(0);  // only what a test queues
    PlatformUseVirtualClock(1, 1000);
    PlatformHoldClock(1);  // no stop runs out of time unless a test lets the clock move
    DeviceSetStreamCallback(CallbackA);
  }

  void TearDown() override {
    hang_released = true;
    DeviceClose();
    DeviceSetStreamCallback(nullptr);
    hang_released = false;
    PlatformSetSleepHook(nullptr);
    PlatformHoldClock(0);
    PlatformUseVirtualClock(0, 0);
    if (received->thread != nullptr) {
      CloseHandle(received->thread);
    }
    delete received;
    received = nullptr;
  }
};

std::mutex idle_mutex;
std::vector<std::int64_t> idle_sleeps;  // the read count at every Sleep(1)

void RecordIdleSleep(std::uint32_t milliseconds) {
  if (milliseconds == CaptureWorker::kIdleSleepMs) {
    const std::int64_t reads = SimReadCount();
    std::lock_guard<std::mutex> hold(idle_mutex);
    idle_sleeps.push_back(reads);
  }
}

TEST_F(CaptureTest, ReadsOfNothingOrAFailureAreFollowedByASleepAndDeliverNothing) {
  idle_sleeps.clear();
  PlatformSetSleepHook(RecordIdleSleep);
  ASSERT_EQ(DeviceOpen(), 0);
  SimQueueChunk(nullptr, -1);
  SimQueueChunk(nullptr, 0);
  Queue(MakePacket(1));
  SimSetRecording(1);
  ASSERT_TRUE(received->WaitFor(1));
  EXPECT_EQ(received->Numbers(), std::vector<std::uint32_t>{1});
  const std::int64_t packet_read = received->reads[0];
  if (kPlatformVirtualClock) {
    // The two empty reads just before the packet's read were each followed by a sleep.
    std::lock_guard<std::mutex> hold(idle_mutex);
    EXPECT_NE(std::find(idle_sleeps.begin(), idle_sleeps.end(), packet_read - 1),
              idle_sleeps.end());
    EXPECT_NE(std::find(idle_sleeps.begin(), idle_sleeps.end(), packet_read - 2),
              idle_sleeps.end());
    EXPECT_EQ(std::find(idle_sleeps.begin(), idle_sleeps.end(), packet_read), idle_sleeps.end());
  } else {
    EXPECT_GE(packet_read, 3);
  }
}

TEST_F(CaptureTest, OnlyPacketsStartingWithTheSyncByteAreDeliveredEachAsACopyOfItsOwn) {
  ASSERT_EQ(DeviceOpen(), 0);
  const std::vector<Bytes> batch = {MakePacket(1), MakePacket(2, 0x46), MakePacket(3),
                                    MakePacket(4, 0x00), MakePacket(5)};
  Queue(Join(batch));
  SimSetRecording(1);
  ASSERT_TRUE(received->WaitFor(3));
  EXPECT_EQ(received->Numbers(), (std::vector<std::uint32_t>{1, 3, 5}));
  std::lock_guard<std::mutex> hold(received->mutex);
  EXPECT_EQ(received->packets[0], batch[0]);
  EXPECT_EQ(received->packets[1], batch[2]);
  EXPECT_EQ(received->packets[2], batch[4]);
  // One packet buffer of the module's own: the same address every time, never
  // an address in the read buffer.
  EXPECT_EQ(received->addresses[0], received->addresses[1]);
  EXPECT_EQ(received->addresses[1], received->addresses[2]);
  EXPECT_EQ(received->lengths, (std::vector<std::int32_t>{188, 188, 188}));
  EXPECT_EQ(received->reads[0], received->reads[2]);  // one batch, one read
}

TEST_F(CaptureTest, AFullReadOffersAll5120PacketsAndALargerStreamContinuesInTheNextRead) {
  ASSERT_EQ(DeviceOpen(), 0);
  std::vector<Bytes> packets;
  for (std::uint32_t n = 0; n < 5121; ++n) {
    packets.push_back(MakePacket(n));
  }
  Queue(Join(packets));
  SimSetRecording(1);
  ASSERT_TRUE(received->WaitFor(5121));
  const std::vector<std::uint32_t> numbers = received->Numbers();
  ASSERT_EQ(numbers.size(), 5121U);
  for (std::uint32_t n = 0; n < 5121; ++n) {
    ASSERT_EQ(numbers[n], n);
  }
  EXPECT_EQ(received->reads[0], received->reads[5119]);
  EXPECT_LT(received->reads[5119], received->reads[5120]);
}

TEST_F(CaptureTest, ACallbackReplacedWithinABatchTakesTheNextPacket) {
  DeviceSetStreamCallback(CallbackSwitchingToB);
  ASSERT_EQ(DeviceOpen(), 0);
  Queue(Join({MakePacket(1), MakePacket(2), MakePacket(3)}));
  SimSetRecording(1);
  ASSERT_TRUE(received->WaitFor(3));
  std::lock_guard<std::mutex> hold(received->mutex);
  EXPECT_EQ(received->receivers, (std::vector<char>{'A', 'B', 'B'}));
}

// Reads that cut the stream anywhere. Packets 1 to `packets`, those in
// `unsynced` with 0x46 for their sync byte, bytes [lost_from, lost_from +
// lost) missing from the stream, read in `reads` (-1: a read of nothing).
struct CutStream {
  const char* what;
  std::uint32_t packets;
  std::vector<std::uint32_t> unsynced;
  std::size_t lost_from;
  std::size_t lost;
  std::vector<std::int32_t> reads;
  std::vector<std::uint32_t> delivered;
};

TEST_F(CaptureTest, PacketsFollowTheStreamAcrossReadsAndOnlyBrokenOnesAreLost) {
  const CutStream cases[] = {
      {"every read ends inside a packet", 4, {}, 0, 0, {288, -1, 326, 138}, {1, 2, 3, 4}},
      {"reads of one byte", 2, {}, 0, 0, {1, 1, 186, 1, 187}, {1, 2}},
      {"a packet without its sync byte across a read's end", 4, {2}, 0, 0, {288, 464}, {1, 3, 4}},
      {"a packet without its sync byte where a read continues",
       4,
       {3},
       0,
       0,
       {288, 464},
       {1, 2, 4}},
      {"a read cut short, the rest of its packet lost", 4, {}, 288, 88, {288, 376}, {1, 3, 4}},
  };
  ASSERT_EQ(DeviceOpen(), 0);
  std::size_t offered = 0;
  for (const CutStream& cut : cases) {
    Bytes stream;
    for (std::uint32_t n = 1; n <= cut.packets; ++n) {
      const bool unsynced =
          std::find(cut.unsynced.begin(), cut.unsynced.end(), n) != cut.unsynced.end();
      const Bytes packet = MakePacket(n, unsynced ? 0x46 : 0x47);
      stream.insert(stream.end(), packet.begin(), packet.end());
    }
    stream.erase(stream.begin() + static_cast<long>(cut.lost_from),
                 stream.begin() + static_cast<long>(cut.lost_from + cut.lost));
    std::size_t at = 0;
    for (const std::int32_t read : cut.reads) {
      if (read < 0) {
        SimQueueChunk(nullptr, read);
        continue;
      }
      Queue(Bytes(stream.begin() + static_cast<long>(at),
                  stream.begin() + static_cast<long>(at) + read));
      at += static_cast<std::size_t>(read);
    }
    ASSERT_EQ(at, stream.size()) << cut.what;
    SimSetRecording(1);
    offered += cut.delivered.size();
    ASSERT_TRUE(received->WaitFor(offered)) << cut.what;
    SimSetRecording(0);
    std::lock_guard<std::mutex> hold(received->mutex);
    ASSERT_EQ(received->packets.size(), offered) << cut.what;
    for (std::size_t i = 0; i < cut.delivered.size(); ++i) {
      EXPECT_EQ(received->packets[offered - cut.delivered.size() + i], MakePacket(cut.delivered[i]))
          << cut.what << ", packet " << cut.delivered[i];
    }
  }
}

TEST_F(CaptureTest, PacketsWhileNoCallbackIsSetAreDropped) {
  DeviceSetStreamCallback(nullptr);
  ASSERT_EQ(DeviceOpen(), 0);
  Queue(Join({MakePacket(1), MakePacket(2)}));
  SimSetRecording(1);
  // A read after the one that took the chunk: its batch is over.
  std::int64_t reads = 0;
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (SimQueuedChunks() != 0 && std::chrono::steady_clock::now() < give_up) {
    std::this_thread::yield();
  }
  reads = SimReadCount();
  while (SimReadCount() <= reads && std::chrono::steady_clock::now() < give_up) {
    std::this_thread::yield();
  }
  DeviceSetStreamCallback(CallbackA);
  Queue(MakePacket(3));
  ASSERT_TRUE(received->WaitFor(1));
  EXPECT_EQ(received->Numbers(), std::vector<std::uint32_t>{3});
}

TEST_F(CaptureTest, CloseWhileIdleSwitchesRecordingOffTwiceAndTheThreadEndsByItself) {
  ASSERT_EQ(DeviceOpen(), 0);
  Queue(MakePacket(1));
  SimSetRecording(1);
  ASSERT_TRUE(received->WaitFor(1));
  SimSetRecording(0);
  SimJournalClear();
  ASSERT_EQ(DeviceClose(), 0);
  EXPECT_EQ(JournalOf("TSRecordOnOff").size(), 2U);
  HANDLE thread = received->thread;
  received->thread = nullptr;
  EXPECT_EQ(ExitCodeOf(thread), WorkerThread::kExitCode);
}

TEST_F(CaptureTest, CloseFromInsideTheCallbackEndsTheBatchAndLeavesTheWorkerToItsThread) {
  DeviceSetStreamCallback(CallbackClosing);
  ASSERT_EQ(DeviceOpen(), 0);
  std::vector<Bytes> packets;
  for (std::uint32_t n = 0; n < 5120; ++n) {
    packets.push_back(MakePacket(n));
  }
  Queue(Join(packets));  // one full read
  SimSetRecording(1);
  ASSERT_TRUE(received->WaitFor(1));
  HANDLE thread = nullptr;
  {
    std::lock_guard<std::mutex> hold(received->mutex);
    thread = received->thread;
    received->thread = nullptr;
  }
  EXPECT_EQ(ExitCodeOf(thread), WorkerThread::kExitCode);
  EXPECT_EQ(received->close_result, 0);
  // Nothing after the close returned: no packet, no read.
  EXPECT_EQ(received->Numbers(), std::vector<std::uint32_t>{0});
  EXPECT_EQ(SimReadCount(), received->reads_at_close);
  EXPECT_EQ(SimLiveObjects(SIM_OBJECT_BOARD_CONTROL), 0);
  // The card opens again with a new worker.
  DeviceSetStreamCallback(CallbackA);
  ASSERT_EQ(DeviceOpen(), 0);
  Queue(MakePacket(9));
  SimSetRecording(1);
  ASSERT_TRUE(received->WaitFor(2));
  EXPECT_EQ(received->Numbers().back(), 9U);
}

TEST_F(CaptureTest, OpenFailsWhenTheCaptureThreadDoesNotStartAndStartsItOnTheNextOpen) {
  PlatformFailThreadStarts(1);
  EXPECT_EQ(DeviceOpen(), 1);
  // The card is open all the same: a second open starts only the worker.
  SimJournalClear();
  EXPECT_EQ(DeviceOpen(), 0);
  EXPECT_TRUE(JournalOf("OpenDevice").empty());
  Queue(MakePacket(1));
  SimSetRecording(1);
  ASSERT_TRUE(received->WaitFor(1));
  EXPECT_EQ(DeviceClose(), 0);
}

TEST_F(CaptureTest, ACloseThatMeetsASlowCallbackReturnsAndTheThreadEndsByItselfLater) {
  DeviceSetStreamCallback(CallbackSlowWithHostLock);
  ASSERT_EQ(DeviceOpen(), 0);
  Queue(Join({MakePacket(1), MakePacket(2)}));
  SimSetRecording(1);
  ASSERT_TRUE(received->WaitFor(1));
  PlatformHoldClock(0);         // only the close's own yields move the clock
  EXPECT_EQ(DeviceClose(), 0);  // once more than 200 ms have passed
  HANDLE thread = nullptr;
  {
    std::lock_guard<std::mutex> hold(received->mutex);
    thread = received->thread;
    received->thread = nullptr;
  }
  Sleep(1000);  // the callback's second passes
  // The thread was not ended inside the host's code: it left the callback,
  // delivered nothing more and ended by itself, and the host's lock is free.
  EXPECT_EQ(ExitCodeOf(thread), WorkerThread::kExitCode);
  EXPECT_TRUE(host_lock.try_lock());
  host_lock.unlock();
  EXPECT_EQ(received->Numbers(), std::vector<std::uint32_t>{1});
  // A new open gets a new worker and new vendor objects.
  DeviceSetStreamCallback(CallbackA);
  ASSERT_EQ(DeviceOpen(), 0);
  Queue(MakePacket(7));
  SimSetRecording(1);
  ASSERT_TRUE(received->WaitFor(2));
  EXPECT_EQ(received->Numbers().back(), 7U);
}

TEST_F(CaptureTest, AReadThatHangsInTheCardLibraryIsEndedByForceAtClose) {
  // A worker of the case before may still be on its way out (slowly under
  // emulation): count from when it has gone.
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (PlatformThreadObjects() != 0 && std::chrono::steady_clock::now() < limit) {
    std::this_thread::yield();
  }
  const int thread_objects = PlatformThreadObjects();
  ASSERT_EQ(DeviceOpen(), 0);
  Queue(MakePacket(1));
  SimSetRecording(1);
  ASSERT_TRUE(received->WaitFor(1));
  SimHangReads(1);
  while (SimHangingReads() == 0) {  // the next read has begun, and hangs
    std::this_thread::yield();
  }
  PlatformHoldClock(0);
  EXPECT_EQ(DeviceClose(), 0);
  HANDLE thread = received->thread;
  received->thread = nullptr;
  EXPECT_EQ(ExitCodeOf(thread), WorkerThread::kTerminatedExitCode);
  SimHangReads(0);
  EXPECT_EQ(PlatformThreadObjects(), thread_objects);  // its object and handle were released
  ASSERT_EQ(DeviceOpen(), 0);
  Queue(MakePacket(2));
  SimSetRecording(1);
  ASSERT_TRUE(received->WaitFor(2));
  EXPECT_EQ(received->Numbers().back(), 2U);
}

}  // namespace
