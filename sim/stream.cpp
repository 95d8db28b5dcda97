// The stand-in card's transport stream as the card's reads see it.
#include "sim/stream.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>
#include <utility>

#include "sim/quoted.h"

namespace sim {

CardStream::CardStream() : generator_(DefaultMultiplex(), kDefaultBitsPerSecond) { Reset(); }

void CardStream::Reset(std::uint32_t bits_per_second) {
  std::lock_guard<std::mutex> hold(mutex_);
  recording_ = false;
  generated_ = true;
  bits_per_second_ = bits_per_second;
  multiplex_ = DefaultMultiplex();
  recording_file_.reset();
  stuffing_ = false;
  Restart();
  chunks_.clear();
  delivered_since_ = 0;
  generated_packets_ = 0;
}

void CardStream::Restart() {
  generator_ = TransportStreamGenerator(multiplex_, bits_per_second_);
  replay_.reset();
  if (recording_file_ != nullptr) {
    replay_ = std::make_unique<Replay>(recording_file_, bits_per_second_);
    if (!replay_->Playing()) {
      std::fprintf(stderr, "ttlcdacc (stand-in card): %s cannot be opened to play it\n",
                   Quoted(recording_file_->path).c_str());
    }
  }
}

void CardStream::Reanchor() {
  recording_since_ = std::chrono::steady_clock::now();
  delivered_since_ = 0;
  replay_since_ = replay_ != nullptr ? replay_->NextDue() : 0;
}

void CardStream::SetRecording(bool on) {
  std::lock_guard<std::mutex> hold(mutex_);
  if (on && !recording_) {
    Reanchor();
  }
  recording_ = on;
}

void CardStream::SetPacing(std::uint32_t bits_per_second) {
  std::lock_guard<std::mutex> hold(mutex_);
  bits_per_second_ = bits_per_second;
  if (bits_per_second != 0) {
    Restart();
  }
  Reanchor();
}

void CardStream::SetGenerated(bool on) {
  std::lock_guard<std::mutex> hold(mutex_);
  generated_ = on;
}

void CardStream::SetSource(MultiplexDescription multiplex,
                           std::shared_ptr<const Recording> recording, bool stuffing) {
  std::lock_guard<std::mutex> hold(mutex_);
  multiplex_ = std::move(multiplex);
  recording_file_ = std::move(recording);
  stuffing_ = stuffing;
  Restart();
  if (replay_ != nullptr) {
    Reanchor();  // the recording starts playing now
  }
}

void CardStream::QueueChunk(const std::uint8_t* data, std::int32_t size) {
  std::lock_guard<std::mutex> hold(mutex_);
  Chunk chunk{{}, size};
  if (size > 0 && data != nullptr) {
    chunk.data.assign(data, data + size);
  }
  chunks_.push_back(std::move(chunk));
}

int CardStream::QueuedChunks() {
  std::lock_guard<std::mutex> hold(mutex_);
  return static_cast<int>(chunks_.size());
}

std::int64_t CardStream::GeneratedPackets() {
  std::lock_guard<std::mutex> hold(mutex_);
  return generated_packets_;
}

std::uint64_t CardStream::MicrosecondsSinceRecording() const {
  return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                        std::chrono::steady_clock::now() - recording_since_)
                                        .count());
}

std::uint64_t CardStream::PacketsDue(std::uint64_t capacity) const {
  if (bits_per_second_ == 0) {
    return capacity;
  }
  const std::uint64_t produced =
      MicrosecondsSinceRecording() * bits_per_second_ / (1000000ULL * kPacketSize * 8);
  return std::min(capacity, produced - std::min(produced, delivered_since_));
}

// Unpaced, packets back to back; paced, each when the recording's clock says,
// and with stuffing a null packet in every slot of the bit rate that no packet
// of the recording is due for.
std::uint64_t CardStream::ReplayPackets(std::uint8_t* buffer, std::uint64_t capacity) {
  if (!replay_->Playing()) {
    return 0;
  }
  if (bits_per_second_ != 0 && stuffing_) {
    const std::uint64_t slots = PacketsDue(capacity);
    for (std::uint64_t i = 0; i < slots; ++i) {
      const std::uint64_t slot_time =
          replay_since_ + TicksOf((delivered_since_ + i) * kPacketSize * 8, bits_per_second_);
      if (replay_->NextDue() <= slot_time) {
        replay_->Next(buffer + i * kPacketSize);
      } else {
        NullPacket(buffer + i * kPacketSize);
      }
    }
    return slots;
  }
  const std::uint64_t now = bits_per_second_ == 0 ? std::numeric_limits<std::uint64_t>::max()
                                                  : replay_since_ + MicrosecondsSinceRecording() *
                                                                        (kTicksPerSecond / 1000000);
  std::uint64_t count = 0;
  while (count < capacity && replay_->NextDue() <= now) {
    replay_->Next(buffer + count * kPacketSize);
    ++count;
  }
  return count;
}

std::int32_t CardStream::Read(std::uint8_t* buffer, std::int32_t capacity) {
  std::lock_guard<std::mutex> hold(mutex_);
  if (!recording_ || buffer == nullptr || capacity <= 0) {
    return 0;
  }
  if (!chunks_.empty()) {
    Chunk& chunk = chunks_.front();
    if (chunk.result <= 0) {
      const std::int32_t result = chunk.result;
      chunks_.pop_front();
      return result;
    }
    const std::size_t size = std::min(chunk.data.size(), static_cast<std::size_t>(capacity));
    std::memcpy(buffer, chunk.data.data(), size);
    chunk.data.erase(chunk.data.begin(), chunk.data.begin() + static_cast<std::ptrdiff_t>(size));
    if (chunk.data.empty()) {
      chunks_.pop_front();
    }
    return static_cast<std::int32_t>(size);
  }
  if (!generated_) {
    return 0;
  }
  const std::uint64_t room = static_cast<std::uint64_t>(capacity) / kPacketSize;
  std::uint64_t packets = 0;
  if (replay_ != nullptr) {
    packets = ReplayPackets(buffer, room);
  } else {
    packets = PacketsDue(room);
    for (std::uint64_t i = 0; i < packets; ++i) {
      generator_.Next(buffer + i * kPacketSize);
    }
  }
  delivered_since_ += packets;
  generated_packets_ += static_cast<std::int64_t>(packets);
  return static_cast<std::int32_t>(packets * kPacketSize);
}

CardStream& TheStream() {
  static CardStream* stream = new CardStream;  // lives as long as the process
  return *stream;
}

}  // namespace sim
