// A recorded transport stream as a transponder's stream (sim/README.md, Replay).
#include "sim/replay.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include <bitstream/mpeg/pes.h>
#include <bitstream/mpeg/ts.h>

#include "sim/quoted.h"

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
constexpr std::size_t kPcrFieldsSize = 7;               // adaptation flags and the 6-byte PCR

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

// The recording's clock as the PCRs of one PID give it, PCR by PCR: each
// one's tick, counted from the first; a PCR that goes back, jumps more than a
// second or carries the discontinuity flag is a break, bridged at the rate of
// the stretch before it.
class PcrClock {
 public:
  std::uint64_t Take(std::uint64_t packet, std::uint64_t pcr, bool discontinuity) {
    if (started_) {
      const std::uint64_t packets_between = packet - last_packet_;
      std::uint64_t delta = (pcr + kPcrWrap - last_pcr_) % kPcrWrap;
      if (discontinuity || delta == 0 || delta > kLongestPcrStep) {
        delta = std::max<std::uint64_t>(1, TicksFor(packets_between));
      } else {
        rate_ticks_ = delta;
        rate_packets_ = packets_between;
      }
      ticks_ += delta;
    }
    started_ = true;
    last_packet_ = packet;
    last_pcr_ = pcr;
    return ticks_;
  }
  // What `packets` more take at the rate of the last good stretch.
  std::uint64_t TicksFor(std::uint64_t packets) const {
    return packets * rate_ticks_ / rate_packets_;
  }

 private:
  bool started_ = false;
  std::uint64_t last_packet_ = 0;
  std::uint64_t last_pcr_ = 0;
  std::uint64_t ticks_ = 0;
  // Ticks per packet of the last good stretch, as a fraction.
  std::uint64_t rate_ticks_ = TicksOf(kPacketSize * 8, kDefaultBitsPerSecond);
  std::uint64_t rate_packets_ = 1;
};

}  // namespace

std::uint64_t TicksOf(std::uint64_t bits, std::uint32_t bits_per_second) {
  const std::uint64_t seconds = bits / bits_per_second;
  const std::uint64_t rest = bits % bits_per_second;
  return seconds * kTicksPerSecond + rest * kTicksPerSecond / bits_per_second;
}

std::uint64_t Recording::Duration(std::uint32_t bits_per_second) const {
  const std::uint64_t length =
      pcr_pid >= 0 ? end_ticks
                   : TicksOf(packets * kPacketSize * 8,
                             bits_per_second != 0 ? bits_per_second : kDefaultBitsPerSecond);
  const std::uint64_t longest = std::max(length, timestamp_span);
  return (longest + kTicksPerTimestamp - 1) / kTicksPerTimestamp * kTicksPerTimestamp;
}

std::uint64_t Recording::BitsPerSecond(std::uint32_t bits_per_second) const {
  return packets * kPacketSize * 8 * kTicksPerSecond / Duration(bits_per_second);
}

std::shared_ptr<const Recording> CheckRecording(const std::string& path, std::string* error) {
  std::string why;
  std::FILE* file = OpenRegularFile(path, &why);
  if (file == nullptr) {
    *error = Quoted(path) + " " + why;
    return nullptr;
  }
  auto recording = std::make_shared<Recording>();
  recording->path = path;
  recording->continuity.resize(kPids);

  // The packet size: sync bytes at the start of the first three packets.
  std::uint8_t start[3 * kDvbPacketSize];
  const std::size_t filled = std::fread(start, 1, sizeof start, file);
  std::rewind(file);
  const auto synchronised = [&](std::size_t size) {
    bool all = filled >= size;
    for (std::size_t at = 0; at < 3 * size && at < filled; at += size) {
      all = all && start[at] == kSync;
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
              : filled < kPacketSize && start[0] == kSync
                  ? " holds no whole transport stream packet"
                  : " is not a transport stream: it does not start with a sync byte (0x47) "
                    "every 188 or 204 bytes");
    return nullptr;
  }

  // The PCRs make the marks of the timeline: only what its ends need is kept.
  PcrClock clock;
  std::uint64_t pcrs = 0;
  TimeMark first{0, 0};
  TimeMark second{0, 0};
  TimeMark last{0, 0};
  int pcr_pid = -1;
  std::vector<TimestampRun> timestamps(kPids);
  PacketFile packets(file, recording->packet_size);
  while (std::uint8_t* packet = packets.Next()) {
    const std::uint64_t number = recording->packets++;
    if (packet[0] != kSync) {
      *error = Quoted(path) + ": packet " + std::to_string(number) + " (byte " +
               std::to_string(number * recording->packet_size) +
               ") has no sync byte: the stream lost sync there";
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
      last = {number, clock.Take(number, PcrOf(packet), tsaf_has_discontinuity(packet))};
      if (pcrs == 0) {
        first = last;
      } else if (pcrs == 1) {
        second = last;
      }
      ++pcrs;
    }
    if (const std::uint8_t* pes = PesHeader(packet)) {
      if (pes_has_pts(pes)) {
        timestamps[pid].Take(pes_has_dts(pes) ? pes_get_dts(pes) : pes_get_pts(pes));
      }
    }
  }
  recording->left_out_bytes = packets.LeftOver();
  if (recording->packets == 0) {
    *error = Quoted(path) + " holds no whole transport stream packet";
    return nullptr;
  }
  if (pcrs >= 2) {
    // Before the first PCR at the first stretch's rate, after the last at the last's.
    recording->pcr_pid = pcr_pid;
    recording->lead = first.packet * second.ticks / (second.packet - first.packet);
    recording->end_ticks =
        recording->lead + last.ticks +
        std::max<std::uint64_t>(1, clock.TicksFor(recording->packets - last.packet));
  }
  for (const TimestampRun& run : timestamps) {
    if (run.started && !run.broken) {
      recording->timestamp_span =
          std::max(recording->timestamp_span, (run.span + 1) * kTicksPerTimestamp);
    }
  }
  return recording;
}

void NullPacket(std::uint8_t* packet) { ts_pad(packet); }

namespace {

std::FILE* OpenToPlay(const std::string& path) {
  std::string ignored;  // the card says when a recording cannot be opened to play it
  return OpenRegularFile(path, &ignored);
}

}  // namespace

// The recording's marks in order, from a reading of the file of its own a
// little ahead of the packets played: packet 0 at tick 0, then one per PCR,
// then the end. Marks keep within the first and the end, and in order, should
// the file have changed since it was checked.
class Replay::Timeline {
 public:
  explicit Timeline(const Recording& recording)
      : recording_(recording), file_(OpenToPlay(recording.path), recording.packet_size) {}

  void Restart() {
    file_.Rewind();
    clock_ = PcrClock();
    read_ = 0;
    last_ = {0, 0};
  }

  TimeMark Next() {
    while (read_ < recording_.packets) {
      const std::uint8_t* packet = file_.Next();
      if (packet == nullptr) {
        break;
      }
      const std::uint64_t number = read_++;
      if (ts_get_pid(packet) == recording_.pcr_pid && HasPcr(packet)) {
        const std::uint64_t ticks =
            recording_.lead + clock_.Take(number, PcrOf(packet), tsaf_has_discontinuity(packet));
        if (number > last_.packet) {  // a PCR in packet 0 is the first mark itself
          last_ = {number, std::min(std::max(ticks, last_.ticks), recording_.end_ticks)};
          return last_;
        }
      }
    }
    read_ = recording_.packets;
    last_ = {recording_.packets, recording_.end_ticks};
    return last_;
  }

 private:
  const Recording& recording_;
  PacketFile file_;
  PcrClock clock_;
  std::uint64_t read_ = 0;  // packets read
  TimeMark last_{0, 0};     // the mark given last
};

Replay::Replay(std::shared_ptr<const Recording> recording, std::uint32_t bits_per_second)
    : recording_(std::move(recording)),
      bits_per_second_(bits_per_second != 0 ? bits_per_second : kDefaultBitsPerSecond),
      duration_(recording_->Duration(bits_per_second)),
      file_(OpenToPlay(recording_->path), recording_->packet_size),
      continuity_offset_(kPids, 0) {
  if (recording_->pcr_pid >= 0) {
    timeline_ = std::make_unique<Timeline>(*recording_);
    to_ = timeline_->Next();
  }
}

Replay::~Replay() = default;

std::uint64_t Replay::NextDue() const {
  const std::uint64_t start = pass_ * duration_;
  if (timeline_ == nullptr) {
    return start + TicksOf(index_ * kPacketSize * 8, bits_per_second_);
  }
  return start + from_.ticks +
         (index_ - from_.packet) * (to_.ticks - from_.ticks) / (to_.packet - from_.packet);
}

void Replay::StartPass() {
  ++pass_;
  index_ = 0;
  for (std::size_t pid = 0; pid < kPids; ++pid) {
    const Recording::Continuity& continuity = recording_->continuity[pid];
    if (continuity.seen) {
      continuity_offset_[pid] = static_cast<std::uint8_t>(
          (continuity_offset_[pid] + continuity.last + 16 - continuity.before) & 0x0F);
    }
  }
  file_.Rewind();
  if (timeline_ != nullptr) {
    timeline_->Restart();
    from_ = {0, 0};
    to_ = timeline_->Next();
  }
}

void Replay::Next(std::uint8_t* packet) {
  if (const std::uint8_t* read = file_.Next()) {
    std::memcpy(packet, read, kPacketSize);
    if (pass_ > 0) {
      CarryOn(packet);
    }
  } else {
    NullPacket(packet);
  }
  ++index_;
  if (index_ == recording_->packets) {
    StartPass();
  } else if (timeline_ != nullptr) {
    while (to_.packet <= index_) {
      from_ = to_;
      to_ = timeline_->Next();
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
