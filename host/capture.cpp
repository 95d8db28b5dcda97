// Capturing and its summary: see capture.h.
#include "host/capture.h"

#include <algorithm>
#include <ctime>

#include "host/card_figures.h"
#include "host/packet_ring.h"
#include "host/program.h"
#include "host/system.h"
#include "host/tuning.h"

namespace host {

using dvb::kTsPacketSize;
using dvb::Service;
using dvb::ServiceFilter;
using dvb::ServiceStream;
using dvb::StreamStats;
using dvb::StreamTypeName;

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

// Takes the packets the ring holds now: counts them and writes them to each
// route's sinks, all of them or what its filter keeps. A filtered route's
// sinks learn that the capture's data flows once the filter keeps its
// service. False when a sink failed.
bool Drain(const Routes& routes, CaptureResult* result,
           std::vector<std::vector<std::uint8_t>>* kept) {
  std::vector<ServiceFilter*> filters;
  std::vector<std::vector<std::uint8_t>*> outs;
  for (std::size_t i = 0; i < routes.size(); ++i) {
    if (routes[i].filter != nullptr) {
      filters.push_back(routes[i].filter.get());
      outs.push_back(&(*kept)[i]);
    }
  }
  const std::uint64_t end = packet_ring.pushed();
  while (packet_ring.taken() < end) {
    CaptureRing::Run run = packet_ring.Readable();
    run.packets =
        static_cast<std::size_t>(std::min<std::uint64_t>(run.packets, end - packet_ring.taken()));
    if (filters.empty()) {
      result->stats.Add(run.data, run.packets, &result->tables);
    } else {
      // The filters follow the tables as they are read, packet by packet.
      result->stats.Add(run.data, run.packets, nullptr);
      for (auto* out : outs) {
        out->clear();
      }
      FilterPackets(run.data, run.packets, &result->tables, filters, outs);
    }
    for (std::size_t i = 0; i < routes.size(); ++i) {
      const ServiceFilter* filter = routes[i].filter.get();
      const std::uint8_t* packets = filter == nullptr ? run.data : (*kept)[i].data();
      const std::size_t count = filter == nullptr ? run.packets : (*kept)[i].size() / kTsPacketSize;
      for (const auto& sink : routes[i].sinks) {
        if (filter == nullptr || filter->state() == ServiceFilter::State::kKeeping) {
          sink->Flowing();
        }
        if (count > 0 && !sink->Write(packets, count)) {
          return false;
        }
      }
      result->handed += count;
    }
    packet_ring.Release(run.packets);
  }
  return true;
}

// An output's lines of the summary, `service` the name of the service it
// kept when there are several outputs; its JSON in *output.
void ReportOutput(const Sink& sink, const std::string& service, Json* output) {
  const auto count = [](std::uint64_t value) { return static_cast<unsigned long long>(value); };
  const std::string of = service.empty() ? "" : " of " + service;
  if (!sink.left_as_it_was.empty()) {
    (*output)["left_as_it_was"] = true;
    Say("Written           nothing%s (%s)\n", of.c_str(), sink.left_as_it_was.c_str());
  } else {
    Say("Written           %llu packets (%llu bytes)%s to %s\n", count(sink.written),
        count(sink.written * kTsPacketSize), of.c_str(), sink.name.c_str());
  }
  if (!sink.error.empty()) {
    (*output)["error"] = sink.error;
  }
  if (sink.dropped > 0) {
    Say("Dropped           %llu packets (%s did not take them in time)\n", count(sink.dropped),
        sink.name.c_str());
  }
}

// "1:02:03": hours, minutes, seconds.
std::string ClockText(double seconds) {
  const auto whole = static_cast<unsigned long long>(std::max(seconds, 0.0));
  return Format("%llu:%02llu:%02llu", whole / 3600, whole / 60 % 60, whole % 60);
}

// "12.3 MB", "1.20 GB".
std::string ByteText(std::uint64_t bytes) {
  const double value = static_cast<double>(bytes);
  return value >= 1e9   ? Format("%.2f GB", value / 1e9)
         : value >= 1e6 ? Format("%.1f MB", value / 1e6)
                        : Format("%.0f kB", value / 1e3);
}

// The progress line: the time first, which always shows, then what was
// written and at what rate (what the outputs keep, not the transponder's),
// drops as they happen (`dropped`: by the ring and the outputs), then the signal, as many pieces as
// fit the terminal (and two columns over for the echo of ^C). A line to a file or pipe begins with
// the time of day.
void ShowProgress(const DeviceInterface& entries, const CaptureResult& result,
                  double handed_per_second, double seconds, std::optional<double> total,
                  std::uint64_t dropped) {
  const SignalReading signal = ReadSignal(entries);
  std::vector<std::string> pieces = {
      ClockText(seconds) + (total.has_value() ? " of " + ClockText(*total) : ""),
      ByteText(result.handed * kTsPacketSize),
      Format("%.1f Mbit/s", handed_per_second * kTsPacketSize * 8 / 1e6)};
  if (dropped > 0) {
    pieces.push_back(Format("dropped %llu", static_cast<unsigned long long>(dropped)));
  }
  pieces.insert(
      pieces.end(),
      {LockWords(signal),
       Format("CC errors %llu", static_cast<unsigned long long>(result.stats.continuity_errors())),
       Format("Signal %d%%", Percent(signal.record.strength)),
       Format("Quality %d%%", Percent(signal.record.quality))});
  std::string stamp;
  if (!IsTerminal(ReportStream())) {
    const std::time_t now = std::time(nullptr);
    char text[32] = {};
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S  ", std::localtime(&now));
    stamp = text;
  }
  ShowStatus(stamp + FitPieces(pieces, TerminalWidth(ReportStream()) - 3));
}

}  // namespace

void Capture(const DeviceInterface& entries, const Routes& routes, std::optional<double> seconds,
             bool progress, CaptureResult* result) {
  std::vector<std::vector<std::uint8_t>> kept(routes.size());
  const double report_every = IsTerminal(ReportStream()) ? 0.25 : 1.0;
  packet_ring.Discard();
  const std::uint64_t dropped_before = packet_ring.dropped();
  const std::uint64_t stream_errors_before = CardStreamErrors();
  const Clock::time_point start = Clock::now();
  double last_data = 0;
  double last_report = 0;
  std::uint64_t handed_at_report = 0;
  double rate = 0;  // packets handed a second, as the progress line last showed
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
    const bool written = Drain(routes, result, &kept);
    const auto gone = [](const Route& route) {
      return std::any_of(route.sinks.begin(), route.sinks.end(),
                         [](const auto& sink) { return sink->reader_gone; });
    };
    const auto missing = [](const Route& route) {
      return route.filter != nullptr && route.filter->state() == ServiceFilter::State::kNotFound;
    };
    if (!written) {
      const bool any_gone = std::any_of(routes.begin(), routes.end(), gone);
      result->stopped_by = any_gone ? "the reader going away" : "a write error";
    } else if (std::any_of(routes.begin(), routes.end(), missing)) {
      result->stopped_by = "the service missing";
    }
    more = result->stopped_by.empty();
    if (result->stats.packets() > before) {
      result->no_data_seconds += now - last_data > kNoDataGapSeconds ? now - last_data : 0;
      last_data = now;
    }
    result->dropped = packet_ring.dropped() - dropped_before;
    if (progress && (now - last_report >= report_every || !more)) {
      // The last line, soon after the one before, keeps that one's rate.
      rate = now - last_report < report_every / 2 && !more
                 ? rate
                 : static_cast<double>(result->handed - handed_at_report) /
                       std::max(now - last_report, 1e-3);
      std::uint64_t dropped = result->dropped;  // by the ring, and by the outputs
      for (const Route& route : routes) {
        for (const auto& sink : route.sinks) {
          dropped += sink->DroppedSoFar();
        }
      }
      ShowProgress(entries, *result, rate, now, seconds, dropped);
      last_report = now;
      handed_at_report = result->handed;
    }
  }
  EndStatus();
  result->seconds = SecondsSince(start);
  if (result->seconds - last_data > kNoDataGapSeconds) {
    result->no_data_seconds += result->seconds - last_data;
  }
}

Json ReportCapture(const CaptureResult& result, const Routes& routes) {
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
  for (const Route& route : routes) {
    Service service;
    const bool kept = route.filter != nullptr && route.filter->service(&service);
    for (const auto& sink : route.sinks) {
      Json& output = capture["outputs"].emplace_back(Json{{"name", sink->name},
                                                          {"packets", sink->written},
                                                          {"bytes", sink->written * kTsPacketSize},
                                                          {"dropped", sink->dropped}});
      if (kept) {
        output["kept"] = {{"program", service.program}, {"name", service.name}};
      }
      ReportOutput(*sink, routes.size() > 1 && kept ? service.name : std::string(), &output);
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

}  // namespace host
