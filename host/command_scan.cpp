// The scan command: tunes every transponder of a dvbv5 file in turn, reads
// its tables from the card's capture (scan.h) and writes a channel file of
// the services found, with a line a transponder on stderr as it goes.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <thread>

#include "dvb/scan.h"
#include "host/options.h"
#include "host/packet_ring.h"
#include "host/service_json.h"
#include "host/settle.h"
#include "host/sinks.h"
#include "host/system.h"

namespace host {

using dvb::ChannelEntry;
using dvb::DeliverySystem;
using dvb::kTsPacketSize;
using dvb::PacketSource;
using dvb::ResolveTransponder;
using dvb::Service;
using dvb::Transponder;
using dvb::TransponderScan;
using dvb::WriteChannelFile;

namespace {

// A line of the scan's progress, on stderr (standard output may carry the channel file).
void Progress(const std::string& line) {
  if (!QuietReport()) {
    std::fprintf(stderr, "%s\n", line.c_str());
  }
}

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

// The entry the channel file gets for a transponder: the LNB and the switch
// port the scan used, so that the Linux tools tune it as this scan did.
ChannelEntry WrittenEntry(const ScanTarget& target) {
  ChannelEntry entry = target.entry;
  entry.transponder.lnb = ChannelFileLnb(target.request.transponder);
  const int port = target.request.dish.port;
  entry.transponder.satellite_number =
      port != 0 ? std::optional<int>(port - 1) : std::optional<int>();
  return entry;
}

// A transponder of a NIT as the one whose NIT listed it is reached: its dish,
// its LNB (or oscillator) and tone.
bool NetworkTarget(const ChannelEntry& entry, const TuneRequest& from, ScanTarget* target,
                   std::string* problem) {
  target->entry = entry;
  TuneRequest& request = target->request;
  if (!ChannelRequest(entry, &request, problem)) {
    return false;
  }
  request.dish = from.dish;
  Transponder& t = request.transponder;
  t.lnb = from.transponder.lnb;
  t.lof_khz = from.transponder.lof_khz;
  t.tone_given = from.transponder.tone_given;
  std::vector<std::string> notes;
  return ResolveTransponder(&t, problem, &notes);
}

// The transponders of the scan's NIT that are not listed yet, added to the
// targets (or, when this card cannot tune them, to the skipped); a line says
// how many.
void FollowNetwork(const TransponderScan& scan, const ScanTarget& from,
                   std::vector<ScanTarget>* targets, std::vector<ScanSkip>* skipped) {
  std::vector<ChannelEntry> known;
  for (const ScanTarget& target : *targets) {
    known.push_back(target.entry);
  }
  for (const ScanSkip& skip : *skipped) {
    known.push_back(skip.entry);
  }
  const std::vector<ChannelEntry> found = NewTransponders(scan, from.entry, known);
  const std::size_t were_skipped = skipped->size();
  for (const ChannelEntry& entry : found) {
    ScanTarget target;
    std::string problem;
    if (NetworkTarget(entry, from.request, &target, &problem)) {
      targets->push_back(target);
      continue;
    }
    const bool dvb_s2 = entry.transponder.delivery_system == DeliverySystem::kDvbS2;
    skipped->push_back({entry, problem, dvb_s2});
    if (!dvb_s2) {  // a NIT lists many of those: they are counted
      Note("the NIT's " + TransponderText(target.request.transponder) + ": skipped, " + problem);
    }
  }
  if (!found.empty()) {
    const std::size_t skips = skipped->size() - were_skipped;
    Progress(Format("      the NIT of %s lists %zu more: %zu to scan, %zu skipped",
                    scan.network_name.c_str(), found.size(), found.size() - skips, skips));
  }
}

// Tunes one transponder and reads its services into *found; its line on
// stderr, its entry in "transponders". The scan read, or none when it did not lock.
std::optional<TransponderScan> ScanOne(const DeviceInterface& entries, const ScanTarget& target,
                                       const std::string& step, std::chrono::milliseconds limit,
                                       bool want_network, std::vector<ChannelEntry>* found,
                                       Json* transponders) {
  TuneReport report;
  SelectAndTune(entries, target.request, &report);
  Json& entry = transponders->emplace_back(Json::object());
  ReportTune(target.request, report, &entry, false);
  entry["from_network"] = target.entry.line == 0;
  std::string line = step + " " + TransponderText(target.request.transponder);
  if (!Locked(report)) {
    Progress(line + ": " + LockWords(report.signal));
    return std::nullopt;
  }
  RingSource source;
  TransponderScan scan = ScanTransponder(WrittenEntry(target), &source, limit, want_network);
  entry["complete"] = scan.complete;
  entry["packets"] = scan.packets;
  entry["services"] = Json::array();
  line += Format(": %zu service%s", scan.services.size(), scan.services.size() == 1 ? "" : "s");
  for (const Service& service : scan.programs) {
    entry["services"].push_back(ServiceJson(service));
  }
  for (const ChannelEntry& service : scan.services) {
    line += (&service == &scan.services[0] ? " (" : ", ") + service.name;
  }
  line += scan.services.empty() ? "" : ")";
  if (scan.network_read) {
    entry["network"] = {{"network_id", scan.network_id},
                        {"name", scan.network_name},
                        {"transponders", scan.network.size()}};
  }
  if (!scan.complete) {
    entry["missing"] = scan.missing;
    line += "; not read in time: " + scan.missing;
  }
  Progress(line);
  found->insert(found->end(), scan.services.begin(), scan.services.end());
  return scan;
}

// "1 DVB-S2 entry, which this DVB-S card does not receive, and 2 others": what was skipped.
std::string SkippedText(const std::vector<ScanSkip>& skipped) {
  const auto dvb_s2 = static_cast<std::size_t>(std::count_if(
      skipped.begin(), skipped.end(), [](const ScanSkip& skip) { return skip.dvb_s2; }));
  const std::size_t others = skipped.size() - dvb_s2;
  std::string text =
      dvb_s2 == 0 ? ""
                  : Format("%zu DVB-S2 transponder%s, which this DVB-S card does not receive",
                           dvb_s2, dvb_s2 == 1 ? "" : "s");
  return others == 0 ? text
                     : text + (text.empty() ? "" : ", and ") +
                           Format("%zu other%s (see the notes)", others, others == 1 ? "" : "s");
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
  std::error_code ignored;  // the open below says why it cannot write
  if (to_file && std::filesystem::path(options.out).lexically_normal() ==
                     std::filesystem::path(DefaultChannelFile()).lexically_normal()) {
    // The default channel file's folder is this program's to make.
    std::filesystem::create_directories(std::filesystem::path(options.out).parent_path(), ignored);
  }
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
  // As dvbv5-scan does, the transponders a NIT lists join the list (-F: not).
  std::vector<ScanTarget> targets = options.scan;
  std::vector<ScanSkip> skipped = options.scan_skipped;
  std::size_t scanned = 0;
  for (; scanned < targets.size() && StopRequest() == nullptr; ++scanned) {
    const ScanTarget target = targets[scanned];  // a copy: the list grows
    const std::optional<TransponderScan> scan =
        ScanOne(session.entries(), target, Format("[%zu/%zu]", scanned + 1, targets.size()), limit,
                !options.file_frequencies_only, &found, &transponders);
    if (scan.has_value() && !options.file_frequencies_only) {
      FollowNetwork(*scan, target, &targets, &skipped);
    }
  }
  const std::size_t from_network = static_cast<std::size_t>(
      std::count_if(targets.begin(), targets.begin() + static_cast<std::ptrdiff_t>(scanned),
                    [](const ScanTarget& target) { return target.entry.line == 0; }));
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
  const auto skipped_dvb_s2 = static_cast<std::size_t>(std::count_if(
      skipped.begin(), skipped.end(), [](const ScanSkip& skip) { return skip.dvb_s2; }));
  Report()["transponders"] = transponders;
  Report()["scan"] = {{"transponders", scanned},
                      {"from_network", from_network},
                      {"locked", locked},
                      {"services", found.size()},
                      {"skipped_dvb_s2", skipped_dvb_s2},
                      {"skipped_other", skipped.size() - skipped_dvb_s2},
                      {"file", to_file && !whole ? Json() : Json(destination)}};
  Say("Scanned           %zu transponders%s, %zu locked, %zu services %s\n", scanned,
      from_network == 0 ? "" : Format(" (%zu from the NIT)", from_network).c_str(), locked,
      found.size(), said.c_str());
  if (!skipped.empty()) {
    Say("Skipped           %s\n", SkippedText(skipped).c_str());
  }
  if (!written) {
    return Fail(kExitFile, "the channel file could not be written to standard output");
  }
  if (locked == 0 && StopRequest() == nullptr) {
    return Fail(kExitNoLock, "no transponder of the file locked");
  }
  return status;
}

}  // namespace host
