// Fuzz target for what the SAT>IP card library reads that the protocol room
// does not: its settings file (and the server's address in it), the RTP
// datagrams' sequence numbers as they come, put back in order, and the bytes
// of an HTTP stream cut into packets. The first byte chooses. Checked: an
// address written reads back the same; every datagram taken is handed on
// once or counted late, never both, never twice; every packet handed on is
// whole and starts with the sync byte, and every byte is handed on, held or
// counted.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <string_view>

#include "satipcard/packets.h"
#include "satipcard/sequence.h"
#include "satipcard/settings.h"

namespace {

void Check(bool condition) {
  if (!condition) {
    std::abort();
  }
}

void ReadSettings(std::string_view text) {
  satipcard::Settings settings;
  std::string error;
  if (satipcard::ParseSettings(text, &settings, &error) && settings.server) {
    satipcard::Server again;
    Check(satipcard::ParseServer(satipcard::ServerText(*settings.server), &again, &error) &&
          again == *settings.server);
  }
}

struct Delivered {
  std::set<std::uint32_t> ids;
  std::uint64_t count = 0;
};

// Datagrams of 2 bytes of sequence number, 1 byte of time step (ms), 1 byte
// of size; each payload is its index, so that a second delivery shows.
void ReadDatagrams(const std::uint8_t* data, std::size_t size) {
  Delivered delivered;
  satipcard::Sequencer sequencer(
      [](void* context, const std::uint8_t* payload, std::size_t length) {
        auto* out = static_cast<Delivered*>(context);
        Check(length == sizeof(std::uint32_t) * 2);
        std::uint32_t id = 0;
        std::memcpy(&id, payload, sizeof id);
        Check(out->ids.insert(id).second);
        ++out->count;
      },
      &delivered);
  satipcard::Sequencer::Time now;
  std::uint32_t taken = 0;
  for (std::size_t at = 0; at + 4 <= size; at += 4, ++taken) {
    const auto sequence = static_cast<std::uint16_t>(data[at] << 8 | data[at + 1]);
    now += std::chrono::milliseconds(data[at + 2]);
    const std::uint32_t payload[2] = {taken, 0};
    sequencer.Take(sequence, reinterpret_cast<const std::uint8_t*>(payload), sizeof payload, now);
    if (data[at + 3] == 0xFF) {
      sequencer.GiveUp(now - std::chrono::milliseconds(100));
    }
  }
  sequencer.Flush();
  Check(!sequencer.holding());
  Check(sequencer.counts().datagrams == taken);
  Check(delivered.count + sequencer.counts().late == taken);
}

struct Cut {
  std::uint64_t bytes = 0;
};

// A stream, fed in pieces whose lengths the input's bytes give.
void ReadStream(const std::uint8_t* data, std::size_t size) {
  Cut cut;
  satipcard::PacketCutter cutter;
  const satipcard::PacketRun run = [](void* context, const std::uint8_t* packets,
                                      std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
      Check(packets[i * 188] == 0x47);
    }
    static_cast<Cut*>(context)->bytes += count * 188;
  };
  std::size_t fed = 0;
  for (std::size_t at = 0; at < size;) {
    const std::size_t piece = std::min<std::size_t>(size - at, 1 + data[at] % 200);
    cutter.Feed(data + at, piece, run, &cut);
    at += piece;
    fed += piece;
  }
  Check(cut.bytes + cutter.skipped() <= fed && fed - cut.bytes - cutter.skipped() < 188);
  std::uint64_t skipped = 0;
  Cut payload;
  satipcard::PayloadPackets(data, size, run, &payload, &skipped);
  Check(payload.bytes + skipped == size);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) {
    return 0;
  }
  switch (data[0] % 3) {
    case 0:
      ReadSettings(std::string_view(reinterpret_cast<const char*>(data + 1), size - 1));
      break;
    case 1:
      ReadDatagrams(data + 1, size - 1);
      break;
    default:
      ReadStream(data + 1, size - 1);
      break;
  }
  return 0;
}
