// A transponder's tables read by the table reader; its services turned into
// channel entries.
#include "dvb/scan.h"

#include <algorithm>

#include "dvb/psi_reader.h"

namespace {

constexpr std::size_t kPacketSize = 188;
constexpr std::chrono::milliseconds kLongestWait{100};

ChannelEntry EntryOf(const ChannelEntry& transponder, const Service& service) {
  ChannelEntry entry;
  entry.name = service.name.empty() ? "Service " + std::to_string(service.program) : service.name;
  entry.transponder = transponder.transponder;
  entry.service_id = service.program;
  for (const ServiceStream& stream : service.streams) {
    if (stream.kind == StreamKind::kVideo) {
      entry.video_pids.push_back(stream.pid);
    } else if (stream.kind == StreamKind::kAudio) {
      entry.audio_pids.push_back(stream.pid);
    } else {
      entry.other_pids.push_back({stream.stream_type, stream.pid});
    }
  }
  return entry;
}

std::string Missing(const PsiReader& reader) {
  if (!reader.pat_read()) {
    return "the PAT";
  }
  std::string missing = reader.sdt_read() ? "" : "the SDT";
  const std::size_t pmts = reader.pmts_missing();
  if (pmts > 0) {
    missing += std::string(missing.empty() ? "" : " and ") + "the PMT" + (pmts > 1 ? "s" : "") +
               " of " + std::to_string(pmts) + " program" + (pmts > 1 ? "s" : "");
  }
  return missing;
}

}  // namespace

TransponderScan ScanTransponder(const ChannelEntry& transponder, PacketSource* source,
                                std::chrono::milliseconds limit) {
  TransponderScan scan;
  PsiReader reader;
  std::vector<std::uint8_t> packets;
  const std::chrono::milliseconds start = source->Now();
  while (!reader.complete()) {
    const std::chrono::milliseconds left = start + limit - source->Now();
    if (left <= std::chrono::milliseconds::zero() ||
        !source->Read(std::min(left, kLongestWait), &packets)) {
      break;
    }
    const std::size_t count = packets.size() / kPacketSize;
    reader.Add(packets.data(), count);
    scan.packets += count;
    packets.clear();
  }
  scan.complete = reader.complete();
  if (!scan.complete) {
    scan.missing = Missing(reader);
  }
  for (const Service& service : reader.services()) {
    if (service.pmt_pid != 0) {  // on the air here, not only named by the SDT
      scan.services.push_back(EntryOf(transponder, service));
    }
  }
  return scan;
}
