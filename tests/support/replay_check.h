// Compares what was captured from a replayed recording with the recording's
// own packets. Up to the first loop point every captured packet must be the
// recording's next packet, byte for byte. After it, each must equal the
// recording's packet except in what the loop carries on: its continuity
// counter, its PCR, and the PTS and DTS of a PES header that starts in it.
// Those must be the recording's own values moved on by one amount per loop
// (D, a whole number of 90 kHz periods: PCR + k D, PTS and DTS + k D / 300 in
// the k-th loop), so that across the whole capture every PID's counter counts
// on without a break and no PCR, and no DTS (PTS where there is no DTS), goes
// back.
#pragma once

#include <bitstream/mpeg/pes.h>
#include <bitstream/mpeg/ts.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

using TsPacket = std::array<std::uint8_t, 188>;

// The whole 188-byte packets of a file (the first 188 bytes of each when its
// packets are `packet_size` long); none when it cannot be read.
inline std::vector<TsPacket> ReadPackets(const std::string& path, std::size_t packet_size = 188) {
  std::vector<TsPacket> packets;
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    return packets;
  }
  std::vector<std::uint8_t> packet(packet_size);
  while (std::fread(packet.data(), 1, packet_size, file) == packet_size) {
    packets.emplace_back();
    std::copy(packet.begin(), packet.begin() + 188, packets.back().begin());
  }
  std::fclose(file);
  return packets;
}

struct ReplayComparison {
  std::int64_t start = -1;      // the recording's packet the capture begins with; -1 none
  std::int64_t compared = 0;    // captured packets, each matched to the recording's next
  std::int64_t identical = 0;   // byte for byte, up to the first loop point
  std::int64_t carried_on = 0;  // after it, equal but for what the loop carries on
  std::int64_t mismatched = 0;  // anything else
  std::int64_t loops = 0;       // loop points crossed
  std::int64_t continuity_errors = 0;
  std::int64_t timestamps_back = 0;
  std::uint64_t loop_ticks = 0;  // D, in 27 MHz ticks
  std::string first_problem;

  bool Clean() const {
    return start >= 0 && mismatched == 0 && continuity_errors == 0 && timestamps_back == 0;
  }
  std::string Summary() const {
    char text[320];
    std::snprintf(text, sizeof text,
                  "%lld packets compared from the recording's packet %lld: %lld byte for byte, "
                  "%lld after %lld loop points with counters, PCR, PTS and DTS carried on "
                  "(%.1f ms a loop); %lld mismatched, %lld continuity errors, %lld timestamps "
                  "back%s%s",
                  static_cast<long long>(compared), static_cast<long long>(start),
                  static_cast<long long>(identical), static_cast<long long>(carried_on),
                  static_cast<long long>(loops), static_cast<double>(loop_ticks) / 27000.0,
                  static_cast<long long>(mismatched), static_cast<long long>(continuity_errors),
                  static_cast<long long>(timestamps_back),
                  first_problem.empty() ? "" : "; first: ", first_problem.c_str());
    return text;
  }
};

namespace replay_check {

constexpr std::uint64_t kPcrWrap = (std::uint64_t{1} << 33) * 300;
constexpr std::uint64_t kStampWrap = std::uint64_t{1} << 33;

// Where the timestamps of a packet sit: the PCR's 6 bytes, a PES header's PTS
// and DTS (5 bytes each); 0 for none.
struct Fields {
  std::size_t pcr = 0;
  std::size_t pts = 0;
  std::size_t dts = 0;
};

inline Fields FieldsOf(const TsPacket& packet) {
  Fields fields;
  std::size_t payload = 4;
  if (ts_has_adaptation(packet.data())) {
    if (packet[4] >= 7 && tsaf_has_pcr(packet.data())) {
      fields.pcr = 6;
    }
    payload = 5 + packet[4];
  }
  const std::uint8_t* pes = packet.data() + payload;
  if (ts_get_unitstart(packet.data()) && ts_has_payload(packet.data()) && payload + 9 <= 188 &&
      pes_validate(pes) && (pes[6] & 0xC0) == 0x80) {
    const std::size_t end = payload + (pes_has_dts(pes) ? 19 : pes_has_pts(pes) ? 14 : 9);
    fields.pts = pes_has_pts(pes) && end <= 188 ? payload + 9 : 0;
    fields.dts = pes_has_dts(pes) && end <= 188 ? payload + 14 : 0;
  }
  return fields;
}

inline std::uint64_t PcrAt(const TsPacket& packet) {
  return tsaf_get_pcr(packet.data()) * 300 + tsaf_get_pcrext(packet.data());
}

inline std::uint64_t StampAt(const TsPacket& packet, std::size_t at) {
  return pes_get_pts(packet.data() + at - 9);  // the same layout for PTS and DTS
}

// The packet with everything the loop may change blanked out.
inline TsPacket Masked(TsPacket packet) {
  const Fields fields = FieldsOf(packet);
  packet[3] &= 0xF0;
  for (const auto& [at, size] :
       {std::pair<std::size_t, std::size_t>{fields.pcr, 6}, {fields.pts, 5}, {fields.dts, 5}}) {
    for (std::size_t i = 0; at != 0 && i < size; ++i) {
      packet[at + i] = 0;
    }
  }
  return packet;
}

// Whether `later` lies ahead of `earlier` on a clock that wraps at `wrap`.
inline bool Ahead(std::uint64_t later, std::uint64_t earlier, std::uint64_t wrap) {
  return (later + wrap - earlier) % wrap < wrap / 2;
}

}  // namespace replay_check

// `start`: the recording's packet the capture must begin with, or -1 to find
// the first place whose next 64 packets the capture's first ones match.
// `joined`: the capture joined the replay in a loop of its own, which carries
// the loop's fields on by an amount of its own (a client that came later);
// each loop after it moves them on by D again.
inline ReplayComparison CompareReplay(const std::vector<TsPacket>& recording,
                                      const std::vector<TsPacket>& capture, std::int64_t start,
                                      bool joined = false) {
  using namespace replay_check;
  ReplayComparison result;
  const auto count = static_cast<std::int64_t>(recording.size());
  if (count == 0 || capture.empty()) {
    result.first_problem = "nothing to compare";
    return result;
  }
  const auto probe = std::min<std::size_t>(64, capture.size());
  for (std::int64_t at = start < 0 ? 0 : start; at < count && result.start < 0; ++at) {
    bool matches = true;
    for (std::size_t j = 0; j < probe && matches; ++j) {
      matches =
          Masked(
              recording[static_cast<std::size_t>((at + static_cast<std::int64_t>(j)) % count)]) ==
          Masked(capture[j]);
    }
    if (matches) {
      result.start = at;
    }
    if (start >= 0) {
      break;
    }
  }
  if (result.start < 0) {
    result.first_problem = "the capture does not begin with the recording's packets";
    return result;
  }
  const auto fail = [&](std::size_t j, const char* what) {
    ++result.mismatched;
    if (result.first_problem.empty()) {
      result.first_problem = "captured packet " + std::to_string(j) + ": " + what;
    }
  };
  std::map<std::uint16_t, std::uint8_t> counters;
  std::map<std::uint32_t, std::uint64_t> clocks;  // by PID: the last PCR, and DTS (or PTS)
  bool have_loop_ticks = false;
  // What the first loop carries on (27 MHz ticks): none unless it was joined,
  // then as the first field that loop carries says.
  bool have_base = !joined;
  std::uint64_t base = 0;
  std::uint64_t base_loop = 0;
  for (std::size_t j = 0; j < capture.size(); ++j) {
    const std::int64_t position = result.start + static_cast<std::int64_t>(j);
    const auto loop = static_cast<std::uint64_t>(position / count);
    const TsPacket& original = recording[static_cast<std::size_t>(position % count)];
    const TsPacket& got = capture[j];
    ++result.compared;
    result.loops = static_cast<std::int64_t>(loop);
    if (loop == 0 && !joined) {
      got == original ? static_cast<void>(++result.identical) : fail(j, "not the recording's");
    } else if (Masked(got) != Masked(original)) {
      fail(j, "not the recording's, even with what the loop carries on");
    } else {
      const Fields fields = FieldsOf(got);
      bool consistent = true;
      const auto moved = [&](std::uint64_t ticks, std::uint64_t wrap, std::uint64_t unit) {
        if (!have_base) {
          have_base = true;
          base = ticks * unit % kPcrWrap;
          base_loop = loop;
        }
        const std::uint64_t loops = loop - base_loop;
        if (!have_loop_ticks && loops > 0) {
          const std::uint64_t moved_on = (ticks * unit + kPcrWrap - base) % kPcrWrap;
          have_loop_ticks = moved_on % loops == 0;
          result.loop_ticks = moved_on / loops;
        }
        consistent = consistent && base % 300 == 0 &&
                     ticks == (base + loops * result.loop_ticks) % kPcrWrap / unit % wrap;
      };
      if (fields.pcr != 0) {
        moved((PcrAt(got) + kPcrWrap - PcrAt(original)) % kPcrWrap, kPcrWrap, 1);
      }
      for (const std::size_t at : {fields.pts, fields.dts}) {
        if (at != 0) {
          moved((StampAt(got, at) + kStampWrap - StampAt(original, at)) % kStampWrap, kStampWrap,
                300);
        }
      }
      consistent = consistent && result.loop_ticks % 300 == 0;
      consistent ? static_cast<void>(++result.carried_on)
                 : fail(j, "PCR, PTS or DTS not moved on by one amount a loop");
    }
    // Across the whole capture: counters count on, clocks go forward.
    const std::uint16_t pid = ts_get_pid(got.data());
    if (pid == 0x1FFF) {
      continue;
    }
    const std::uint8_t counter = ts_get_cc(got.data());
    const auto last = counters.find(pid);
    if (last != counters.end() &&
        counter != ((last->second + (ts_has_payload(got.data()) ? 1 : 0)) & 0x0F)) {
      ++result.continuity_errors;
    }
    counters[pid] = counter;
    const Fields fields = FieldsOf(got);
    const std::size_t stamp = fields.dts != 0 ? fields.dts : fields.pts;
    const auto forward = [&](std::uint32_t key, std::uint64_t clock, std::uint64_t wrap) {
      const auto before = clocks.find(key);
      if (before != clocks.end() && !Ahead(clock, before->second, wrap)) {
        ++result.timestamps_back;
      }
      clocks[key] = clock;
    };
    if (fields.pcr != 0) {
      forward(pid, PcrAt(got), kPcrWrap);
    }
    if (stamp != 0) {
      forward(pid | 0x10000U, StampAt(got, stamp), kStampWrap);
    }
  }
  return result;
}
