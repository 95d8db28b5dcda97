// A recorded transport stream as a transponder's stream (sim/README.md, Replay).
#include "sim/replay.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include <bitstream/mpeg/pes.h>
#include <bitstream/mpeg/ts.h>

namespace sim {
namespace {

constexpr std::uint8_t kSync = 0x47;
constexpr std::size_t kDvbPacketSize = 204;  // 188 bytes and 16 of Reed-Solomon parity
constexpr std::size_t kPids = 8192;
constexpr std::uint16_t kNullPid = 0x1FFF;
constexpr std::uint64_t kPcrWrap = (std::uint64_t{1} << 33) * 300;
constexpr std::uint64_t kTimestampWrap = std::uint64_t{1} << 33;  // PTS and DTS, 90 kHz
constexpr std::uint64_t kTicksPerTimestamp = 300;
// PCRs further apart than this, or going back, are a break in the recording's
// clock; the time across a break is taken at the rate before it.
constexpr std::uint64_t kLongestPcrStep = kTicksPerSecond;
constexpr std::uint64_t kLongestTimestampStep = 90000;  // 1 s at 90 kHz: longer is a break
constexpr std::size_t kBlockPackets = 1024;
constexpr std::size_t kPcrFieldsSize = 7;  // adaptation flags and the 6-byte PCR

bool HasPcr(const std::uint8_t* packet) {
  return ts_has_adaptation(packet) && ts_get_adaptation(packet) >= kPcrFieldsSize &&
         tsaf_has_pcr(packet);
}

std::uint64_t PcrOf(const std::uint8_t* packet) {
  return tsaf_get_pcr(packet) * 300 + tsaf_get_pcrext(packet);
}

// Writes a PCR back, keeping the reserved bits as the packet had them.
void SetPcr(std::uint8_t* packet, std::uint64_t pcr) {
  const std::uint64_t base = pcr / 300;
  const auto extension = static_cast<std::uint16_t>(pcr % 300);
  packet[6] = static_cast<std::uint8_t>(base >> 25);
  packet[7] = static_cast<std::uint8_t>(base >> 17);
  packet[8] = static_cast<std::uint8_t>(base >> 9);
  packet[9] = static_cast<std::uint8_t>(base >> 1);
  packet[10] =
      static_cast<std::uint8_t>((packet[10] & 0x7E) | ((base & 1) << 7) | (extension >> 8));
  packet[11] = static_cast<std::uint8_t>(extension);
}

// The PES header that starts in this packet, with room for its timestamps;
// null when there is none.
std::uint8_t* PesHeader(std::uint8_t* packet) {
  if (!ts_get_unitstart(packet) || !ts_has_payload(packet) || ts_get_scrambling(packet) != 0 ||
      (ts_has_adaptation(packet) && ts_get_adaptation(packet) > TS_SIZE - TS_HEADER_SIZE - 1)) {
    return nullptr;
  }
  std::uint8_t* pes = ts_payload(packet);
  const std::uint8_t* end = packet + TS_SIZE;
  // Two '1' bits open the optional header of a stream that has timestamps.
  if (end - pes < PES_HEADER_SIZE_NOPTS || !pes_validate(pes) || (pes[6] & 0xC0) != 0x80) {
    return nullptr;
  }
  const std::ptrdiff_t needed = pes_has_dts(pes)   ? PES_HEADER_SIZE_PTSDTS
                                : pes_has_pts(pes) ? PES_HEADER_SIZE_PTS
                                                   : PES_HEADER_SIZE_NOPTS;
  return end - pes >= needed ? pes : nullptr;
}

// The timestamps of one elementary stream, followed through a recording: how
// far the last is from the first, unless the stream's clock breaks.
struct TimestampRun {
  bool started = false;
  bool broken = false;
  std::uint64_t last = 0;
  std::uint64_t span = 0;

  void Take(std::uint64_t stamp) {
    const std::uint64_t delta = (stamp + kTimestampWrap - last) % kTimestampWrap;
    if (started && delta > kLongestTimestampStep) {
      broken = true;
    } else if (started) {
      span += delta;
    }
    started = true;
    last = stamp;
  }
};

struct Pcr {
  std::uint64_t packet;
  std::uint64_t value;
  bool discontinuity;
};

// Packet 0 at tick 0, a mark per PCR, the end one packet past the last packet.
std::vector<Recording::TimeMark> TimelineOf(const std::vector<Pcr>& pcrs, std::uint64_t packets) {
  std::vector<Recording::TimeMark> timeline;
  if (pcrs.size() < 2) {
    return timeline;
  }
  // Ticks per packet of the last good stretch, as a fraction.
  std::uint64_t rate_ticks = TicksOf(kPacketSize * 8, kDefaultBitsPerSecond);
  std::uint64_t rate_packets = 1;
  std::vector<Recording::TimeMark> marks = {{pcrs[0].packet, 0}};
  for (std::size_t i = 1; i < pcrs.size(); ++i) {
    const std::uint64_t packets_between = pcrs[i].packet - pcrs[i - 1].packet;
    std::uint64_t delta = (pcrs[i].value + kPcrWrap - pcrs[i - 1].value) % kPcrWrap;
    if (pcrs[i].discontinuity || delta == 0 || delta > kLongestPcrStep) {
      delta = std::max<std::uint64_t>(1, packets_between * rate_ticks / rate_packets);
    } else {
      rate_ticks = delta;
      rate_packets = packets_between;
    }
    marks.push_back({pcrs[i].packet, marks.back().ticks + delta});
  }
  // Before the first PCR at the first stretch's rate, after the last at the last's.
  const std::uint64_t lead = pcrs[0].packet * marks[1].ticks / (marks[1].packet - marks[0].packet);
  if (pcrs[0].packet > 0) {
    timeline.push_back({0, 0});
  }
  for (const Recording::TimeMark& mark : marks) {
    timeline.push_back({mark.packet, mark.ticks + lead});
  }
  const std::uint64_t tail = (packets - marks.back().packet) * rate_ticks / rate_packets;
  timeline.push_back({packets, timeline.back().ticks + std::max<std::uint64_t>(1, tail)});
  return timeline;
}

std::string Quoted(const std::string& path) { return "\"" + path + "\""; }

}  // namespace

std::uint64_t TicksOf(std::uint64_t bits, std::uint32_t bits_per_second) {
  const std::uint64_t seconds = bits / bits_per_second;
  const std::uint64_t rest = bits % bits_per_second;
  return seconds * kTicksPerSecond + rest * kTicksPerSecond / bits_per_second;
}

std::uint64_t Recording::Duration(std::uint32_t bits_per_second) const {
  const std::uint64_t length =
      !timeline.empty() ? timeline.back().ticks
                        : TicksOf(packets * kPacketSize * 8,
                                  bits_per_second != 0 ? bits_per_second : kDefaultBitsPerSecond);
  const std::uint64_t longest = std::max(length, timestamp_span);
  return (longest + kTicksPerTimestamp - 1) / kTicksPerTimestamp * kTicksPerTimestamp;
}

std::uint64_t Recording::BitsPerSecond(std::uint32_t bits_per_second) const {
  return packets * kPacketSize * 8 * kTicksPerSecond / Duration(bits_per_second);
}

std::shared_ptr<const Recording> CheckRecording(const std::string& path, std::string* error) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    *error = Quoted(path) + " cannot be opened: " + std::strerror(errno);
    return nullptr;
  }
  auto recording = std::make_shared<Recording>();
  recording->path = path;
  recording->continuity.resize(kPids);

  // The packet size: sync bytes at the start of the first three packets.
  std::vector<std::uint8_t> block(kBlockPackets * kDvbPacketSize);
  std::size_t filled = std::fread(block.data(), 1, 3 * kDvbPacketSize, file);
  const auto synchronised = [&](std::size_t size) {
    bool all = filled >= size;
    for (std::size_t at = 0; at < 3 * size && at < filled; at += size) {
      all = all && block[at] == kSync;
    }
    return all;
  };
  if (synchronised(kPacketSize)) {
    recording->packet_size = kPacketSize;
  } else if (synchronised(kDvbPacketSize)) {
    recording->packet_size = kDvbPacketSize;
  } else {
    std::fclose(file);
    *error = Quoted(path) +
             (filled == 0 ? " is empty"
              : filled < kPacketSize && block[0] == kSync
                  ? " holds no whole transport stream packet"
                  : " is not a transport stream: it does not start with a sync byte (0x47) "
                    "every 188 or 204 bytes");
    return nullptr;
  }

  const std::size_t size = recording->packet_size;
  std::vector<Pcr> pcrs;
  int pcr_pid = -1;
  std::vector<TimestampRun> timestamps(kPids);
  std::size_t used = 0;
  for (;;) {
    if (filled - used < size) {
      std::memmove(block.data(), block.data() + used, filled - used);
      filled -= used;
      used = 0;
      const std::size_t more = std::fread(block.data() + filled, 1, block.size() - filled, file);
      filled += more;
      if (filled < size) {
        break;
      }
    }
    std::uint8_t* packet = block.data() + used;
    used += size;
    const std::uint64_t number = recording->packets++;
    if (packet[0] != kSync) {
      std::fclose(file);
      *error = Quoted(path) + ": packet " + std::to_string(number) + " (byte " +
               std::to_string(number * size) + ") has no sync byte: the stream lost sync there";
      return nullptr;
    }
    const std::uint16_t pid = ts_get_pid(packet);
    Recording::Continuity& continuity = recording->continuity[pid];
    const std::uint8_t counter = ts_get_cc(packet);
    if (!continuity.seen) {
      continuity.seen = true;
      // A packet without payload repeats the counter; one with payload counts on.
      continuity.before = ts_has_payload(packet) ? (counter + 15) & 0x0F : counter;
    }
    continuity.last = counter;
    if (HasPcr(packet) && (pcr_pid < 0 || pcr_pid == pid)) {
      pcr_pid = pid;
      pcrs.push_back({number, PcrOf(packet), tsaf_has_discontinuity(packet)});
    }
    if (const std::uint8_t* pes = PesHeader(packet)) {
      if (pes_has_pts(pes)) {
        timestamps[pid].Take(pes_has_dts(pes) ? pes_get_dts(pes) : pes_get_pts(pes));
      }
    }
  }
  std::fclose(file);
  recording->left_out_bytes = filled - used;
  if (recording->packets == 0) {
    *error = Quoted(path) + " holds no whole transport stream packet";
    return nullptr;
  }
  recording->timeline = TimelineOf(pcrs, recording->packets);
  for (const TimestampRun& run : timestamps) {
    if (run.started && !run.broken) {
      recording->timestamp_span =
          std::max(recording->timestamp_span, (run.span + 1) * kTicksPerTimestamp);
    }
  }
  return recording;
}

void NullPacket(std::uint8_t* packet) { ts_pad(packet); }

Replay::Replay(std::shared_ptr<const Recording> recording, std::uint32_t bits_per_second)
    : recording_(std::move(recording)),
      bits_per_second_(bits_per_second != 0 ? bits_per_second : kDefaultBitsPerSecond),
      duration_(recording_->Duration(bits_per_second)),
      file_(std::fopen(recording_->path.c_str(), "rb")),
      block_(kBlockPackets * recording_->packet_size),
      continuity_offset_(kPids, 0) {}

Replay::~Replay() {
  if (file_ != nullptr) {
    std::fclose(file_);
  }
}

std::uint64_t Replay::NextDue() const {
  const std::uint64_t start = pass_ * duration_;
  const std::vector<Recording::TimeMark>& timeline = recording_->timeline;
  if (timeline.empty()) {
    return start + TicksOf(index_ * kPacketSize * 8, bits_per_second_);
  }
  const Recording::TimeMark& from = timeline[mark_];
  const Recording::TimeMark& to = timeline[mark_ + 1];
  return start + from.ticks +
         (index_ - from.packet) * (to.ticks - from.ticks) / (to.packet - from.packet);
}

void Replay::Refill() {
  block_used_ = 0;
  block_filled_ = file_ != nullptr ? std::fread(block_.data(), 1, block_.size(), file_) : 0;
}

void Replay::StartPass() {
  ++pass_;
  index_ = 0;
  mark_ = 0;
  for (std::size_t pid = 0; pid < kPids; ++pid) {
    const Recording::Continuity& continuity = recording_->continuity[pid];
    if (continuity.seen) {
      continuity_offset_[pid] = static_cast<std::uint8_t>(
          (continuity_offset_[pid] + continuity.last + 16 - continuity.before) & 0x0F);
    }
  }
  if (file_ != nullptr) {
    std::rewind(file_);
  }
  block_used_ = 0;
  block_filled_ = 0;
}

void Replay::Next(std::uint8_t* packet) {
  const std::size_t size = recording_->packet_size;
  if (block_filled_ - block_used_ < size) {
    Refill();
  }
  if (block_filled_ - block_used_ >= size) {
    std::memcpy(packet, block_.data() + block_used_, kPacketSize);
    block_used_ += size;
    if (pass_ > 0) {
      CarryOn(packet);
    }
  } else {
    NullPacket(packet);
  }
  ++index_;
  if (index_ == recording_->packets) {
    StartPass();
  } else if (!recording_->timeline.empty()) {
    while (recording_->timeline[mark_ + 1].packet <= index_) {
      ++mark_;
    }
  }
}

void Replay::CarryOn(std::uint8_t* packet) const {
  const std::uint16_t pid = ts_get_pid(packet);
  if (pid == kNullPid) {
    return;
  }
  ts_set_cc(packet,
            static_cast<std::uint8_t>((ts_get_cc(packet) + continuity_offset_[pid]) & 0x0F));
  const std::uint64_t ticks = pass_ * duration_;
  if (HasPcr(packet)) {
    SetPcr(packet, (PcrOf(packet) + ticks % kPcrWrap) % kPcrWrap);
  }
  if (std::uint8_t* pes = PesHeader(packet)) {
    const std::uint64_t shift = ticks / kTicksPerTimestamp % kTimestampWrap;
    if (pes_has_pts(pes)) {
      pes_set_pts(pes, (pes_get_pts(pes) + shift) % kTimestampWrap);
    }
    if (pes_has_dts(pes)) {
      pes_set_dts(pes, (pes_get_dts(pes) + shift) % kTimestampWrap);
    }
  }
}

}  // namespace sim
