// The scan command: tunes every transponder of a dvbv5 file in turn, reads
// its tables from the card's capture (scan.h) and writes a channel file of
// the services found, with a line a transponder on stderr as it goes.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <thread>

#include "dvb/scan.h"
#include "host/options.h"
#include "host/packet_ring.h"
#include "host/sinks.h"
#include "host/system.h"

namespace {

// The card's capture as the scan's packets: what the callback put in the ring
// since the transponder locked. A stop request ends it.
class RingSource : public PacketSource {
 public:
  RingSource() { packet_ring.Discard(); }

  bool Read(std::chrono::milliseconds wait, std::vector<std::uint8_t>* packets) override {
    for (const Clock::time_point until = Clock::now() + wait; StopRequest() == nullptr;) {
      const CaptureRing::Run run = packet_ring.Readable();
      if (run.packets > 0) {
        packets->insert(packets->end(), run.data, run.data + run.packets * kTsPacketSize);
        packet_ring.Release(run.packets);
        return true;
      }
      if (Clock::now() >= until) {
        return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }

  std::chrono::milliseconds Now() const override {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start_);
  }

 private:
  Clock::time_point start_ = Clock::now();
};

Json ServiceJson(const ChannelEntry& service) {
  Json others = Json::array();
  for (const OtherPid& other : service.other_pids) {
    others.push_back(other.pid);
  }
  return {{"name", service.name},
          {"service_id", service.service_id},
          {"video_pids", service.video_pids},
          {"audio_pids", service.audio_pids},
          {"other_pids", others}};
}

// Tunes one transponder and reads its services into *found; its line on
// stderr, its entry in "transponders".
void ScanOne(const DeviceInterface& entries, const ScanTarget& target, const std::string& step,
             std::chrono::milliseconds limit, std::vector<ChannelEntry>* found,
             Json* transponders) {
  TuneReport report;
  SelectAndTune(entries, target.request, &report);
  Json& entry = transponders->emplace_back(Json::object());
  ReportTune(target.request, report, &entry, false);
  std::string line = step + " " + TransponderText(target.request.transponder);
  if (!Locked(report)) {
    std::fprintf(stderr, "%s: %s\n", line.c_str(), LockWords(report.signal));
    return;
  }
  RingSource source;
  const TransponderScan scan = ScanTransponder(target.entry, &source, limit);
  entry["complete"] = scan.complete;
  entry["packets"] = scan.packets;
  entry["services"] = Json::array();
  line += Format(": %zu service%s", scan.services.size(), scan.services.size() == 1 ? "" : "s");
  for (const ChannelEntry& service : scan.services) {
    entry["services"].push_back(ServiceJson(service));
    line += (&service == &scan.services[0] ? " (" : ", ") + service.name;
  }
  line += scan.services.empty() ? "" : ")";
  if (!scan.complete) {
    entry["missing"] = scan.missing;
    line += "; not read in time: " + scan.missing;
  }
  std::fprintf(stderr, "%s\n", line.c_str());
  found->insert(found->end(), scan.services.begin(), scan.services.end());
}

}  // namespace

int RunScan(const Options& options) {
  // The channel file goes to FILE.partial, renamed over FILE once it is whole
  // and holds what a scan found: a scan that locked nothing, or was stopped
  // part-way, leaves FILE as it was.
  const bool to_file = !options.out.empty() && options.out != "-";
  const std::string partial = to_file ? options.out + ".partial" : std::string();
  std::ofstream file;
  const auto drop_partial = [&] {
    file.close();  // closed first: under Windows an open file is not removed
    std::remove(partial.c_str());
  };
  if (to_file) {
    file.open(partial, std::ios::binary | std::ios::trunc);
    if (!file) {
      return Fail(kExitFile, "cannot write " + partial + ": " + LastError());
    }
  }
  Session session(options.session);
  if (session.status() != kExitOk) {
    if (to_file) {
      drop_partial();
    }
    return session.status();
  }
  const auto limit = std::chrono::milliseconds(static_cast<long long>(*options.seconds * 1000));
  std::vector<ChannelEntry> found;
  Json transponders = Json::array();
  std::size_t scanned = 0;
  for (const ScanTarget& target : options.scan) {
    if (StopRequest() != nullptr) {
      break;
    }
    ++scanned;
    ScanOne(session.entries(), target, Format("[%zu/%zu]", scanned, options.scan.size()), limit,
            &found, &transponders);
  }
  const int status = ReportClose(session.Close());
  std::size_t locked = 0;
  for (const Json& entry : transponders) {
    locked += entry.contains("services") ? 1 : 0;
  }
  const bool whole = locked > 0 && StopRequest() == nullptr;
  const std::string destination = to_file ? options.out : "standard output";
  std::string said = "to " + destination;
  bool written = true;
  if (!to_file) {
    WriteChannelFile(std::cout, found);
    std::cout.flush();
    written = static_cast<bool>(std::cout);
  } else if (whole) {
    WriteChannelFile(file, found);
    file.close();
    if (!file || !MoveOver(partial, options.out)) {
      const std::string reason = LastError();
      std::remove(partial.c_str());
      return Fail(kExitFile, "cannot write " + options.out + ": " + reason);
    }
  } else {
    drop_partial();
    Note(options.out + " left as it was: " +
         (locked == 0 ? "no transponder locked" : "the scan was stopped part-way"));
    said = "not written";
  }
  Report()["transponders"] = transponders;
  Report()["scan"] = {{"transponders", scanned},
                      {"locked", locked},
                      {"services", found.size()},
                      {"file", to_file && !whole ? Json() : Json(destination)}};
  Say("Scanned           %zu transponders, %zu locked, %zu services %s\n", scanned, locked,
      found.size(), said.c_str());
  if (!written) {
    return Fail(kExitFile, "the channel file could not be written to standard output");
  }
  if (locked == 0 && StopRequest() == nullptr) {
    return Fail(kExitNoLock, "no transponder of the file locked");
  }
  return status;
}
