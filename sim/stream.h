// The stand-in card's transport stream as the card's reads see it: the
// recording switch, pacing, scripted chunks, and the source of the packets,
// the generated multiplex (sim/generator.h) or a recording (sim/replay.h).
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "sim/generator.h"
#include "sim/replay.h"

namespace sim {

// The stream behind TSRecordRead. Reads deliver data only while recording is
// on: first any scripted chunks, in order, then (unless switched off) the
// card's own stream: as many whole packets as the bit rate has produced since
// recording was switched on, or a full buffer when unpaced. A recording plays
// at the pace of its PCR instead, padded with null packets up to the bit rate
// when it asks for stuffing (sim/README.md, Replay).
class CardStream {
 public:
  CardStream();
  void Reset(std::uint32_t bits_per_second = kDefaultBitsPerSecond);
  void SetRecording(bool on);
  void SetPacing(std::uint32_t bits_per_second);  // 0: unpaced
  void SetGenerated(bool on);
  // The source: the generated stream of `multiplex`, or, when `recording` is
  // given, that recording from its start.
  void SetSource(MultiplexDescription multiplex, std::shared_ptr<const Recording> recording,
                 bool stuffing);
  // A read that returns `size` bytes of `data`, or, for a size of 0 or less,
  // returns that size and stores nothing. A chunk larger than the reader's
  // buffer is read in parts.
  void QueueChunk(const std::uint8_t* data, std::int32_t size);
  std::int32_t Read(std::uint8_t* buffer, std::int32_t capacity);

  int QueuedChunks();
  std::int64_t GeneratedPackets();

 private:
  struct Chunk {
    std::vector<std::uint8_t> data;
    std::int32_t result;
  };

  void Restart();   // the source from its start; the caller holds mutex_
  void Reanchor();  // pacing counted from now; the caller holds mutex_
  std::uint64_t MicrosecondsSinceRecording() const;
  // Packets the rate has produced and reads have not taken, at most `capacity`.
  std::uint64_t PacketsDue(std::uint64_t capacity) const;
  std::uint64_t ReplayPackets(std::uint8_t* buffer, std::uint64_t capacity);

  std::mutex mutex_;
  bool recording_ = false;
  bool generated_ = true;
  std::uint32_t bits_per_second_ = kDefaultBitsPerSecond;
  MultiplexDescription multiplex_;
  TransportStreamGenerator generator_;
  std::shared_ptr<const Recording> recording_file_;  // null: the generator plays
  bool stuffing_ = false;
  std::unique_ptr<Replay> replay_;
  std::deque<Chunk> chunks_;
  std::chrono::steady_clock::time_point recording_since_;
  std::uint64_t delivered_since_ = 0;  // packets read since recording_since_
  std::uint64_t replay_since_ = 0;     // the replay's stream time at recording_since_
  std::int64_t generated_packets_ = 0;
};

CardStream& TheStream();

}  // namespace sim
