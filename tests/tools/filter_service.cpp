// Writes one service of a stand-in transponder's generated stream to a file,
// through the service filter as a capture of that service does, for ffprobe
// to read. Usage: filter_service OUTPUT.ts TRANSPONDER SERVICE
//   TRANSPONDER: index in the stand-in's lineup; SERVICE: a name or a number.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "host/service_filter.h"
#include "sim/frontend.h"
#include "sim/stream.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: filter_service OUTPUT.ts TRANSPONDER SERVICE\n");
    return 2;
  }
  const auto index = static_cast<std::size_t>(std::atoi(argv[2]));
  if (index >= sim::Lineup().size()) {
    std::fprintf(stderr, "no transponder %s in the lineup\n", argv[2]);
    return 2;
  }
  sim::TransportStreamGenerator generator(sim::Lineup()[index].multiplex,
                                          sim::kDefaultBitsPerSecond);
  ServiceFilter filter(ChooseService(argv[3]));
  std::FILE* file = std::fopen(argv[1], "wb");
  if (file == nullptr) {
    std::perror(argv[1]);
    return 1;
  }
  constexpr std::size_t kBlock = 1024;
  std::vector<std::uint8_t> in(kBlock * sim::kPacketSize);
  std::vector<std::uint8_t> out;
  std::size_t written = 0;
  for (int block = 0; block < 50; ++block) {  // about two seconds of the stream
    for (std::size_t i = 0; i < kBlock; ++i) {
      generator.Next(&in[i * sim::kPacketSize]);
    }
    out.clear();
    filter.Filter(in.data(), kBlock, &out);
    written += std::fwrite(out.data(), 1, out.size(), file);
  }
  if (std::fclose(file) != 0 || filter.state() != ServiceFilter::State::kKeeping) {
    std::fprintf(stderr, "service %s not kept\n", argv[3]);
    return 1;
  }
  std::printf("%zu packets of service %s\n", written / sim::kPacketSize, argv[3]);
  return 0;
}
