// Compares a capture of a replayed recording with the recording itself
// (tests/support/replay_check.h) and says what it found. Exit status 0 when
// the capture is the recording's packets, from wherever it began, across at
// least one loop point, with nothing added and nothing lost; 1 otherwise.
// Usage: replay_compare RECORDING CAPTURE
#include <cstdio>

#include "tests/support/replay_check.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: replay_compare RECORDING CAPTURE\n");
    return 2;
  }
  const std::vector<TsPacket> recording = ReadPackets(argv[1]);
  const std::vector<TsPacket> capture = ReadPackets(argv[2]);
  const ReplayComparison result = CompareReplay(recording, capture, -1);
  std::printf("recording: %zu packets; capture: %zu packets\n%s\n", recording.size(),
              capture.size(), result.Summary().c_str());
  return result.Clean() && result.loops >= 1 ? 0 : 1;
}
