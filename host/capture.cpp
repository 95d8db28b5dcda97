// Capturing and its summary: see capture.h.
#include "host/capture.h"

#include <algorithm>

#include "host/card_figures.h"
#include "host/packet_ring.h"
#include "host/program.h"
#include "host/system.h"
#include "host/tuning.h"

namespace {

// The writer wakes when this many packets are ready (80 ms of a 38 Mbit/s
// transponder), or at the latest after the wait, to see stop requests, the
// time and the progress.
constexpr std::size_t kWakePackets = 2048;
constexpr double kLongestWait = 0.1;
constexpr double kNoDataGapSeconds = 0.25;  // longer pauses count as time with no data

double MbitPerSecond(std::uint64_t packets, double seconds) {
  return static_cast<double>(packets * kTsPacketSize) * 8 / 1e6 / std::max(seconds, 1e-3);
}

std::string PidText(std::uint16_t pid) { return Format("0x%04X", static_cast<unsigned>(pid)); }

// Takes the packets the ring holds now: counts them and writes them to every
// sink, or what the filter keeps of them. With a filter, the sinks learn that
// the capture's data flows once the filter keeps its service. False when a
// sink failed.
bool Drain(const Sinks& sinks, CaptureResult* result, ServiceFilter* filter,
           std::vector<std::uint8_t>* kept) {
  const std::uint64_t end = packet_ring.pushed();
  while (packet_ring.taken() < end) {
    CaptureRing::Run run = packet_ring.Readable();
    run.packets =
        static_cast<std::size_t>(std::min<std::uint64_t>(run.packets, end - packet_ring.taken()));
    const std::uint8_t* packets = run.data;
    std::size_t count = run.packets;
    bool flowing = true;
    if (filter == nullptr) {
      result->stats.Add(run.data, run.packets, &result->tables);
    } else {
      // The filter follows the tables as they are read, packet by packet.
      result->stats.Add(run.data, run.packets, nullptr);
      kept->clear();
      FilterPackets(run.data, run.packets, &result->tables, filter, kept);
      packets = kept->data();
      count = kept->size() / kTsPacketSize;
      flowing = filter->state() == ServiceFilter::State::kKeeping;
    }
    for (const auto& sink : sinks) {
      if (flowing) {
        sink->Flowing();
      }
      if (count > 0 && !sink->Write(packets, count)) {
        return false;
      }
    }
    packet_ring.Release(run.packets);
  }
  return true;
}

void ShowProgress(const DeviceInterface& entries, const CaptureResult& result,
                  double packets_per_second, double seconds) {
  const SignalReading signal = ReadSignal(entries);
  ShowStatus(FitPieces(
      {LockWords(signal), Format("%.1f Mbit/s", packets_per_second * kTsPacketSize * 8 / 1e6),
       Format("CC errors %llu", static_cast<unsigned long long>(result.stats.continuity_errors())),
       Format("Signal %d%%", Percent(signal.record.strength)),
       Format("Quality %d%%", Percent(signal.record.quality)),
       Format("%.0f p/s", packets_per_second), Format("%.0f s", seconds)},
      TerminalWidth(ReportStream()) - 1));
}

}  // namespace

void Capture(const DeviceInterface& entries, const Sinks& sinks, std::optional<double> seconds,
             bool progress, CaptureResult* result, ServiceFilter* filter) {
  std::vector<std::uint8_t> kept;
  const double report_every = IsTerminal(ReportStream()) ? 0.25 : 1.0;
  packet_ring.Discard();
  const std::uint64_t dropped_before = packet_ring.dropped();
  const std::uint64_t stream_errors_before = CardStreamErrors();
  const Clock::time_point start = Clock::now();
  double last_data = 0;
  double last_report = 0;
  std::uint64_t packets_at_report = 0;
  for (bool more = true; more;) {
    const double wait =
        seconds.has_value() ? std::min(kLongestWait, *seconds - SecondsSince(start)) : kLongestWait;
    packet_ring.WaitFor(kWakePackets, static_cast<unsigned>(std::max(wait, 0.0) * 1000 + 1));
    const double now = SecondsSince(start);
    const char* request = StopRequest();
    if (seconds.has_value() && now >= *seconds) {
      result->stopped_by = "time";
    } else if (request != nullptr) {
      result->stopped_by = request;
    } else if (CardStreamErrors() > stream_errors_before) {
      result->stopped_by = kStoppedByStreamFailure;  // the adapter or its daemon gone
    }
    const std::uint64_t before = result->stats.packets();
    // Once stopped, everything the ring held when the capture stopped is written too.
    const bool written = Drain(sinks, result, filter, &kept);
    if (!written) {
      const bool gone = std::any_of(sinks.begin(), sinks.end(),
                                    [](const auto& sink) { return sink->reader_gone; });
      result->stopped_by = gone ? "the reader going away" : "a write error";
    } else if (filter != nullptr && filter->state() == ServiceFilter::State::kNotFound) {
      result->stopped_by = "the service missing";
    }
    more = result->stopped_by.empty();
    if (result->stats.packets() > before) {
      result->no_data_seconds += now - last_data > kNoDataGapSeconds ? now - last_data : 0;
      last_data = now;
    }
    result->dropped = packet_ring.dropped() - dropped_before;
    if (progress && (now - last_report >= report_every || !more)) {
      ShowProgress(entries, *result,
                   static_cast<double>(result->stats.packets() - packets_at_report) /
                       std::max(now - last_report, 1e-3),
                   now);
      last_report = now;
      packets_at_report = result->stats.packets();
    }
  }
  EndStatus();
  result->seconds = SecondsSince(start);
  if (result->seconds - last_data > kNoDataGapSeconds) {
    result->no_data_seconds += result->seconds - last_data;
  }
}

Json ReportCapture(const CaptureResult& result, const Sinks& sinks) {
  const StreamStats& stats = result.stats;
  const auto count = [](std::uint64_t value) { return static_cast<unsigned long long>(value); };
  Json capture = {{"seconds", result.seconds},
                  {"stopped_by", result.stopped_by},
                  {"packets", stats.packets()},
                  {"bytes", stats.bytes()},
                  {"mbit_per_second", MbitPerSecond(stats.packets(), result.seconds)},
                  {"continuity_errors", stats.continuity_errors()},
                  {"missing_sync", stats.missing_sync()},
                  {"transport_errors", stats.transport_errors()},
                  {"no_data_seconds", result.no_data_seconds},
                  {"dropped", result.dropped},
                  {"outputs", Json::array()},
                  {"services", Json::array()},
                  {"pids", Json::array()}};
  Say("Captured          %.1f s%s\n", result.seconds,
      result.stopped_by == "time" ? "" : (", stopped by " + result.stopped_by).c_str());
  Say("Packets           %llu received (%llu bytes), %.1f Mbit/s\n", count(stats.packets()),
      count(stats.bytes()), MbitPerSecond(stats.packets(), result.seconds));
  for (const auto& sink : sinks) {
    Json& output = capture["outputs"].emplace_back(Json{{"name", sink->name},
                                                        {"packets", sink->written},
                                                        {"bytes", sink->written * kTsPacketSize},
                                                        {"dropped", sink->dropped}});
    if (!sink->left_as_it_was.empty()) {
      output["left_as_it_was"] = true;
      Say("Written           nothing (%s)\n", sink->left_as_it_was.c_str());
    } else {
      Say("Written           %llu packets (%llu bytes) to %s\n", count(sink->written),
          count(sink->written * kTsPacketSize), sink->name.c_str());
    }
    if (!sink->error.empty()) {
      output["error"] = sink->error;
    }
    if (sink->dropped > 0) {
      Say("Dropped           %llu packets (%s did not take them in time)\n", count(sink->dropped),
          sink->name.c_str());
    }
  }
  Say("Continuity errors %llu\nMissing sync      %llu\nTransport errors  %llu\n"
      "Time with no data %.1f s\n",
      count(stats.continuity_errors()), count(stats.missing_sync()),
      count(stats.transport_errors()), result.no_data_seconds);
  if (result.dropped > 0) {
    Say("Dropped           %llu packets (the writer fell behind)\n", count(result.dropped));
  }
  const std::vector<Service> services = result.tables.services();
  Say("Services          %zu\n", services.size());
  for (const Service& service : services) {
    // Padded to 22 characters, not bytes: a name may hold UTF-8 sequences.
    const std::string name = service.name.empty() ? "(no name in the SDT)" : service.name;
    const auto characters =
        static_cast<std::size_t>(std::count_if(name.begin(), name.end(), [](char c) {
          return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
        }));
    std::string line =
        Format("  %5u  %s%s PMT %s", static_cast<unsigned>(service.program), name.c_str(),
               std::string(22 - std::min<std::size_t>(characters, 22), ' ').c_str(),
               PidText(service.pmt_pid).c_str());
    Json streams = Json::array();
    for (const ServiceStream& stream : service.streams) {
      line += "  " + PidText(stream.pid) + " " + StreamTypeName(stream.stream_type);
      streams.push_back({{"pid", stream.pid},
                         {"stream_type", stream.stream_type},
                         {"kind", StreamTypeName(stream.stream_type)}});
    }
    Say("%s\n", line.c_str());
    capture["services"].push_back({{"program", service.program},
                                   {"name", service.name},
                                   {"provider", service.provider},
                                   {"pmt_pid", service.pmt_pid},
                                   {"pcr_pid", service.pcr_pid},
                                   {"streams", streams}});
  }
  std::string pids;
  for (const auto& pid : stats.pids()) {
    pids += Format(" %s:%llu", PidText(pid.first).c_str(), count(pid.second));
    capture["pids"].push_back({{"pid", pid.first}, {"packets", pid.second}});
  }
  Say("PIDs             %s\n", pids.c_str());
  return capture;
}
