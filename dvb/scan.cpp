// A transponder's tables read by the table reader; its services turned into
// channel entries.
#include "dvb/scan.h"

#include <algorithm>

#include "dvb/psi_reader.h"

namespace dvb {

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

bool NetworkMissing(const PsiReader& reader, bool want_network) {
  return want_network && reader.network_announced() && !reader.nit_read();
}

std::string Missing(const PsiReader& reader, bool want_network) {
  if (!reader.pat_read()) {
    return "the PAT";
  }
  std::string missing = reader.sdt_read() ? "" : "the SDT";
  const std::size_t pmts = reader.pmts_missing();
  if (pmts > 0) {
    missing += std::string(missing.empty() ? "" : " and ") + "the PMT" + (pmts > 1 ? "s" : "") +
               " of " + std::to_string(pmts) + " program" + (pmts > 1 ? "s" : "");
  }
  if (NetworkMissing(reader, want_network)) {
    missing += std::string(missing.empty() ? "" : " and ") + "the NIT";
  }
  return missing;
}

}  // namespace

TransponderScan ScanTransponder(const ChannelEntry& transponder, PacketSource* source,
                                std::chrono::milliseconds limit, bool want_network) {
  TransponderScan scan;
  PsiReader reader;
  std::vector<std::uint8_t> packets;
  const std::chrono::milliseconds start = source->Now();
  while (!reader.complete() || NetworkMissing(reader, want_network)) {
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
  scan.complete = reader.complete() && !NetworkMissing(reader, want_network);
  if (!scan.complete) {
    scan.missing = Missing(reader, want_network);
  }
  for (const Service& service : reader.services()) {
    if (service.pmt_pid != 0) {  // on the air here, not only named by the SDT
      scan.services.push_back(EntryOf(transponder, service));
      scan.programs.push_back(service);
    }
  }
  scan.network_read = reader.nit_read();
  scan.network_id = reader.network_id();
  scan.network_name = reader.network_name();
  scan.network = reader.network_transponders();
  return scan;
}

bool SameTransponder(const TransponderParameters& a, const TransponderParameters& b) {
  const std::uint32_t apart = a.frequency_khz > b.frequency_khz ? a.frequency_khz - b.frequency_khz
                                                                : b.frequency_khz - a.frequency_khz;
  return a.polarization == b.polarization &&
         apart < std::max(a.symbol_rate, b.symbol_rate) / 2000;  // kHz
}

std::vector<ChannelEntry> NewTransponders(const TransponderScan& scan, const ChannelEntry& from,
                                          const std::vector<ChannelEntry>& known) {
  std::vector<ChannelEntry> found;
  const auto listed = [](const std::vector<ChannelEntry>& list, const TransponderParameters& t) {
    return std::any_of(list.begin(), list.end(), [&t](const ChannelEntry& entry) {
      return SameTransponder(entry.transponder, t);
    });
  };
  for (const NetworkTransponder& network : scan.network) {
    if (listed(known, network.parameters) || listed(found, network.parameters)) {
      continue;
    }
    ChannelEntry& entry = found.emplace_back();
    entry.transponder = network.parameters;
    entry.transponder.satellite_number = from.transponder.satellite_number;
    entry.transponder.lnb = from.transponder.lnb;
  }
  return found;
}

}  // namespace dvb
