// Fuzz target for the channel-file reader: any bytes read as a file. A file
// it refuses has a reason; what it takes, written by the writer and read
// again, is the same entries (where each section begins aside), and writing
// those gives the same file again.
//
// The writer puts each stream type's PID_xx on one line, in the order the
// types first appear, as the dvbv5 tools do: entries are compared with their
// other PIDs in that order.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "dvb/channel_file.h"

namespace {

[[noreturn]] void Fail(const char* what, const std::string& detail) {
  std::fprintf(stderr, "channel_file_fuzz: %s\n%s\n", what, detail.c_str());
  std::abort();
}

// The other PIDs grouped by stream type, the types in the order they first appear.
std::vector<std::pair<int, int>> ByType(const std::vector<dvb::OtherPid>& pids) {
  std::vector<std::pair<int, int>> ordered;
  for (const dvb::OtherPid& first : pids) {
    bool seen = false;
    for (const auto& taken : ordered) {
      seen = seen || taken.first == first.stream_type;
    }
    for (const dvb::OtherPid& pid : pids) {
      if (!seen && pid.stream_type == first.stream_type) {
        ordered.emplace_back(pid.stream_type, pid.pid);
      }
    }
  }
  return ordered;
}

bool Same(const dvb::ChannelEntry& a, const dvb::ChannelEntry& b) {
  const dvb::TransponderParameters& s = a.transponder;
  const dvb::TransponderParameters& t = b.transponder;
  return a.name == b.name && s.delivery_system == t.delivery_system &&
         s.frequency_khz == t.frequency_khz && s.polarization == t.polarization &&
         s.symbol_rate == t.symbol_rate && s.fec == t.fec && s.inversion == t.inversion &&
         s.modulation == t.modulation && s.rolloff == t.rolloff &&
         s.satellite_number == t.satellite_number && s.lnb == t.lnb &&
         a.service_id == b.service_id && a.video_pids == b.video_pids &&
         a.audio_pids == b.audio_pids && ByType(a.other_pids) == ByType(b.other_pids);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
  std::vector<dvb::ChannelEntry> entries;
  std::string error;
  if (!dvb::ReadChannelFile(in, &entries, &error)) {
    if (error.empty()) {
      Fail("a file refused without a reason", "");
    }
    return 0;
  }
  std::ostringstream written;
  dvb::WriteChannelFile(written, entries);
  std::istringstream again(written.str());
  std::vector<dvb::ChannelEntry> reread;
  if (!dvb::ReadChannelFile(again, &reread, &error)) {
    Fail("the written file does not read back", error + "\n" + written.str());
  }
  if (reread.size() != entries.size()) {
    Fail("the written file reads back to another number of entries", written.str());
  }
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (!Same(entries[i], reread[i])) {
      Fail("an entry reads back changed", "[" + entries[i].name + "]\n" + written.str());
    }
  }
  std::ostringstream rewritten;
  dvb::WriteChannelFile(rewritten, reread);
  if (rewritten.str() != written.str()) {
    Fail("writing the entries read back gives another file", written.str());
  }
  return 0;
}
