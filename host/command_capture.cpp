// The capture command: tune, write the transport stream to a file, and
// summarise what it held.
#include "host/command_capture.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "host/card_session.h"
#include "host/commands.h"
#include "host/program.h"
#include "host/tuning.h"

// ---- Capture: the host's thread takes packets from the queue, writes them
// and counts them; the progress line reads the signal on the same thread.

namespace {

constexpr auto kWriterPause = std::chrono::milliseconds(20);
constexpr double kNoDataGapSeconds = 0.1;  // longer pauses count as time with no data

std::string ProgressLine(const SignalReading& signal, double packets_per_second,
                         std::uint64_t continuity_errors) {
  char text[160];
  std::snprintf(text, sizeof text,
                "%-7s  Signal %3d%%  Quality %3d%%  %6.0f p/s  %5.1f Mbit/s  CC errors %llu",
                LockWords(signal).c_str(), Percent(signal.record.strength),
                Percent(signal.record.quality), packets_per_second,
                packets_per_second * kTsPacketSize * 8 / 1e6,
                static_cast<unsigned long long>(continuity_errors));
  return text;
}

std::string PidText(std::uint16_t pid) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%04X", static_cast<unsigned>(pid));
  return text;
}

}  // namespace

void Capture(const DeviceInterface& entries, std::FILE* file, double seconds, bool progress,
             CaptureResult* result) {
  const bool terminal = progress && IsTerminal();
  const double report_every = terminal ? 0.25 : 1.0;
  std::vector<std::uint8_t> batch;
  {
    std::lock_guard<std::mutex> hold(packet_queue.mutex);
    packet_queue.pending.clear();
    packet_queue.dropped = 0;
    packet_queue.accepting = true;
  }
  const Clock::time_point start = Clock::now();
  double last_data = 0;
  double last_report = 0;
  std::uint64_t packets_at_report = 0;
  bool more = true;
  while (more) {
    std::this_thread::sleep_for(kWriterPause);
    const double now = SecondsSince(start);
    more = now < seconds;
    {
      std::lock_guard<std::mutex> hold(packet_queue.mutex);
      batch.swap(packet_queue.pending);
      packet_queue.accepting = more;
      result->dropped = packet_queue.dropped;
    }
    if (!batch.empty()) {
      if (now - last_data > kNoDataGapSeconds) {
        result->no_data_seconds += now - last_data;
      }
      last_data = now;
      const std::size_t packets = batch.size() / kTsPacketSize;
      if (!result->write_failed &&
          std::fwrite(batch.data(), kTsPacketSize, packets, file) != packets) {
        result->write_failed = true;
      }
      result->stats.Add(batch.data(), packets);
      batch.clear();
    }
    if (progress && (now - last_report >= report_every || !more)) {
      const double rate = static_cast<double>(result->stats.packets() - packets_at_report) /
                          std::max(now - last_report, 1e-3);
      const std::string line =
          ProgressLine(ReadSignal(entries), rate, result->stats.continuity_errors());
      std::printf(terminal ? "\r%s " : "%s\n", line.c_str());
      std::fflush(stdout);
      last_report = now;
      packets_at_report = result->stats.packets();
    }
  }
  result->seconds = SecondsSince(start);
  if (result->seconds - last_data > kNoDataGapSeconds) {
    result->no_data_seconds += result->seconds - last_data;
  }
  if (terminal) {
    std::printf("\n");
  }
}

void PrintStreamSummary(const CaptureResult& result) {
  const StreamStats& stats = result.stats;
  std::printf("Packets           %llu (%llu bytes), %.1f Mbit/s\n",
              static_cast<unsigned long long>(stats.packets()),
              static_cast<unsigned long long>(stats.bytes()),
              static_cast<double>(stats.bytes()) * 8 / 1e6 / std::max(result.seconds, 1e-3));
  std::printf("Continuity errors %llu\n",
              static_cast<unsigned long long>(stats.continuity_errors()));
  std::printf("Missing sync      %llu\n", static_cast<unsigned long long>(stats.missing_sync()));
  std::printf("Transport errors  %llu\n",
              static_cast<unsigned long long>(stats.transport_errors()));
  std::printf("Time with no data %.1f s\n", result.no_data_seconds);
  if (result.dropped > 0) {
    std::printf("Dropped           %llu packets (the writer fell behind)\n",
                static_cast<unsigned long long>(result.dropped));
  }
  const std::vector<ServiceInfo> services = stats.services();
  std::printf("Services          %zu\n", services.size());
  for (const ServiceInfo& service : services) {
    std::printf("  %5u  %-22s PMT %s", static_cast<unsigned>(service.program),
                service.name.empty() ? "(no name in the SDT)" : service.name.c_str(),
                PidText(service.pmt_pid).c_str());
    for (const ElementaryStream& stream : service.streams) {
      std::printf("  %s %s", PidText(stream.pid).c_str(), StreamTypeName(stream.stream_type));
    }
    std::printf("\n");
  }
  std::printf("PIDs             ");
  for (const auto& pid : stats.pids()) {
    std::printf(" %s:%llu", PidText(pid.first).c_str(),
                static_cast<unsigned long long>(pid.second));
  }
  std::printf("\n");
}

JsonFields StreamSummaryJson(const CaptureResult& result) {
  const StreamStats& stats = result.stats;
  std::vector<std::string> services;
  for (const ServiceInfo& service : stats.services()) {
    std::vector<std::string> streams;
    for (const ElementaryStream& stream : service.streams) {
      streams.push_back(JsonObject({{"pid", JsonNumber(int{stream.pid})},
                                    {"stream_type", JsonNumber(int{stream.stream_type})},
                                    {"kind", JsonText(StreamTypeName(stream.stream_type))}}));
    }
    services.push_back(JsonObject({{"program", JsonNumber(int{service.program})},
                                   {"name", JsonText(service.name)},
                                   {"provider", JsonText(service.provider)},
                                   {"pmt_pid", JsonNumber(int{service.pmt_pid})},
                                   {"pcr_pid", JsonNumber(int{service.pcr_pid})},
                                   {"streams", JsonArray(streams)}}));
  }
  std::vector<std::string> pids;
  for (const auto& pid : stats.pids()) {
    pids.push_back(
        JsonObject({{"pid", JsonNumber(int{pid.first})}, {"packets", JsonNumber(pid.second)}}));
  }
  return {{"seconds", JsonNumber(result.seconds)},
          {"packets", JsonNumber(stats.packets())},
          {"bytes", JsonNumber(stats.bytes())},
          {"mbit_per_second", JsonNumber(static_cast<double>(stats.bytes()) * 8 / 1e6 /
                                         std::max(result.seconds, 1e-3))},
          {"continuity_errors", JsonNumber(stats.continuity_errors())},
          {"missing_sync", JsonNumber(stats.missing_sync())},
          {"transport_errors", JsonNumber(stats.transport_errors())},
          {"no_data_seconds", JsonNumber(result.no_data_seconds)},
          {"dropped", JsonNumber(result.dropped)},
          {"services", JsonArray(services)},
          {"pids", JsonArray(pids)}};
}

bool ReadSeconds(const Arguments& arguments, long fallback, long* seconds, int* status) {
  *seconds = fallback;
  if (const std::string* given = Find(arguments, "--seconds")) {
    if (!ParseInteger(*given, 1, 86400, seconds)) {
      *status = Fail(kExitUsage, "--seconds " + *given + ": give whole seconds, 1..86400");
      return false;
    }
  }
  return true;
}

int RunCapture(const Arguments& arguments) {
  const std::string* out = Find(arguments, "--out");
  if (out == nullptr) {
    return Fail(kExitUsage,
                "capture needs --out FILE.ts (see '" + std::string(kProgram) + " help capture')");
  }
  long seconds = 0;
  Transponder transponder;
  DishSelection dish;
  int status = kExitOk;
  if (!ReadSeconds(arguments, 10, &seconds, &status) ||
      !ReadTuneOptions(arguments, "capture", &transponder, &dish, &status)) {
    return status;
  }
  std::FILE* file = std::fopen(out->c_str(), "wb");
  if (file == nullptr) {
    return Fail(kExitFile, "cannot write " + *out + ": " + std::strerror(errno));
  }
  CardSession card(arguments);
  if (card.status() != kExitOk) {
    std::fclose(file);
    return card.status();
  }
  const bool json = WantsJson(arguments);
  TuneReport report;
  SelectAndTune(card.entries(), transponder, dish, &report);
  if (!json) {
    PrintTune(card, transponder, dish, report);
  }
  if (report.switch_result != kResultOk || report.tune_result != kResultOk) {
    std::fclose(file);
    if (json) {
      PrintJson(TuneJson(card, transponder, dish, report));
    }
    return TuneFailure(transponder, dish, report);
  }
  CaptureResult result;
  Capture(card.entries(), file, static_cast<double>(seconds), !json, &result);
  card.Close();
  const bool closed = std::fclose(file) == 0;
  if (json) {
    JsonFields fields = TuneJson(card, transponder, dish, report);
    fields.push_back({"file", JsonText(*out)});
    for (const auto& field : StreamSummaryJson(result)) {
      fields.push_back(field);
    }
    PrintJson(fields);
  } else {
    std::printf("Captured          %.1f s to %s\n", result.seconds, out->c_str());
    PrintStreamSummary(result);
  }
  if (result.write_failed || !closed) {
    return Fail(kExitFile, "writing " + *out + " failed: the file is incomplete");
  }
  return kExitOk;
}
