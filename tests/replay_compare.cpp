// Compares a capture of a replayed recording with the recording itself
// (tests/support/replay_check.h) and says what it found. Exit status 0 when
// the capture is the recording's packets, from wherever it began, across at
// least one loop point, with nothing added and nothing lost; 1 otherwise.
// With PIDS (0,17,4608), the capture is compared with the recording's packets
// of those PIDs alone; with --joined it may have begun in any loop (a client
// that joined the replay later).
// Usage: replay_compare [--joined] RECORDING CAPTURE [PIDS]
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "tests/support/replay_check.h"

int main(int argc, char** argv) {
  const bool joined = argc > 1 && std::strcmp(argv[1], "--joined") == 0;
  argc -= joined ? 1 : 0;
  argv += joined ? 1 : 0;
  if (argc != 3 && argc != 4) {
    std::fprintf(stderr, "usage: replay_compare [--joined] RECORDING CAPTURE [PIDS]\n");
    return 2;
  }
  std::vector<TsPacket> recording = ReadPackets(argv[1]);
  if (argc == 4) {
    std::vector<unsigned> pids;
    const std::string list = std::string(argv[3]) + ",";
    for (std::size_t at = 0, comma = 0; (comma = list.find(',', at)) != std::string::npos;
         at = comma + 1) {
      pids.push_back(static_cast<unsigned>(std::stoul(list.substr(at, comma - at), nullptr, 0)));
    }
    recording.erase(std::remove_if(recording.begin(), recording.end(),
                                   [&](const TsPacket& packet) {
                                     const unsigned pid = (packet[1] & 0x1Fu) << 8 | packet[2];
                                     return std::find(pids.begin(), pids.end(), pid) == pids.end();
                                   }),
                    recording.end());
  }
  const std::vector<TsPacket> capture = ReadPackets(argv[2]);
  const ReplayComparison result = CompareReplay(recording, capture, -1, joined);
  std::printf("recording: %zu packets; capture: %zu packets\n%s\n", recording.size(),
              capture.size(), result.Summary().c_str());
  return result.Clean() && result.loops >= 1 ? 0 : 1;
}
