// Fuzz target for the stand-in card's lineup file, read as the card reads it
// when the library starts, and for what an accepted lineup makes: the first
// packets of every transponder's stream, generated (all its tables and the
// first of its services' own packets) or replayed (a small recording beside
// the lineup file, "r.ts", that the seeds name, once round and on).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "sim/lineup.h"

namespace {

void RemoveFolder();

// A folder of this process's own, with the recording in it; removed at exit.
const std::string& Folder() {
  static const std::string* folder = [] {  // lives as long as the process
    char name[] = "/tmp/lineup-fuzz-XXXXXX";
    if (mkdtemp(name) == nullptr) {
      std::perror("mkdtemp");
      std::abort();
    }
    sim::TransportStreamGenerator generator(sim::DefaultMultiplex(), sim::kDefaultBitsPerSecond);
    std::FILE* file = std::fopen((std::string(name) + "/r.ts").c_str(), "wb");
    for (int i = 0; file != nullptr && i < 600; ++i) {
      std::uint8_t packet[sim::kPacketSize];
      generator.Next(packet);
      std::fwrite(packet, 1, sizeof packet, file);
    }
    if (file == nullptr || std::fclose(file) != 0) {
      std::abort();
    }
    std::atexit(RemoveFolder);
    return new std::string(name);
  }();
  return *folder;
}

void RemoveFolder() {
  std::remove((Folder() + "/r.ts").c_str());
  std::remove((Folder() + "/lineup.json").c_str());
  std::remove(Folder().c_str());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path = Folder() + "/lineup.json";
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr || std::fwrite(data, 1, size, file) != size || std::fclose(file) != 0) {
    std::abort();
  }
  sim::CardSettings settings;
  std::string error;
  if (!sim::LoadSettings(path, "", &settings, &error)) {
    return 0;
  }
  std::uint8_t packet[sim::kPacketSize];
  for (const sim::LineupTransponder& transponder : settings.transponders) {
    if (transponder.recording != nullptr) {
      sim::Replay replay(transponder.recording, settings.bits_per_second);
      const std::uint64_t packets = transponder.recording->packets + 4;
      for (std::uint64_t i = 0; i < packets && i < 2000; ++i) {
        replay.NextDue();
        replay.Next(packet);
      }
    } else {
      // Tables come first: a packet a PMT, fewer than one for each service's
      // share of PAT and SDT.
      sim::TransportStreamGenerator generator(transponder.multiplex, settings.bits_per_second);
      const std::size_t packets = 2 * transponder.multiplex.services.size() + 16;
      for (std::size_t i = 0; i < packets; ++i) {
        generator.Next(packet);
      }
    }
  }
  return 0;
}
