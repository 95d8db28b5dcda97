// Settling the command line's words into requests: see settle.h.
#include "host/settle.h"

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "dvb/dvb_text.h"
#include "dvb/name_match.h"
#include "dvb/transponder.h"
#include "host/card_library.h"
#include "host/program.h"
#include "host/report.h"
#include "host/system.h"

namespace host {

using dvb::ChannelEntry;
using dvb::ChooseService;
using dvb::CommandLineTextToUtf8;
using dvb::DeliverySystem;
using dvb::FilterChoice;
using dvb::FindLnb;
using dvb::GotoMessage;
using dvb::LnbTypes;
using dvb::LoadChannelFile;
using dvb::ParseFec;
using dvb::ParseInversion;
using dvb::ParseMessage;
using dvb::ParsePids;
using dvb::ParsePolarization;
using dvb::ParseThousandths;
using dvb::ParseWhole;
using dvb::ResolveTransponder;
using dvb::SameIgnoringCase;
using dvb::SwitchMessage;
using dvb::Transponder;

namespace {

std::uint32_t Thousandths(const std::string& text) {
  std::uint32_t value = 0;
  ParseThousandths(text, &value);  // checked as it was read
  return value;
}

DishSelection Dish(const Given& g) {
  long port = 0;
  ParseWhole(g.port, 1, 4, &port);
  return {static_cast<int>(port), g.burst.empty() ? 0 : g.burst == "A" || g.burst == "a" ? 1 : 2};
}

// Up to eight names of the file's entries that hold `name` ignoring ASCII
// case, or else its first eight: for the error that none is called so.
std::string SimilarNames(const std::vector<ChannelEntry>& entries, const std::string& name) {
  const auto holds = [&name](const ChannelEntry& entry) {
    for (std::size_t at = 0; at + name.size() <= entry.name.size(); ++at) {
      if (SameIgnoringCase(entry.name.substr(at, name.size()), name)) {
        return true;
      }
    }
    return false;
  };
  const bool any = std::any_of(entries.begin(), entries.end(), holds);
  std::string names;
  int listed = 0;
  for (const ChannelEntry& entry : entries) {
    if ((!any || holds(entry)) && listed++ < 8) {
      names += (names.empty() ? "" : ", ") + entry.name;
    }
  }
  return entries.empty() ? "; it has no entries"
         : any           ? "; did you mean: " + names
                         : "; it has " + std::to_string(entries.size()) + ": " + names +
                     (entries.size() > 8 ? ", ..." : "");
}

// The LNB and the tone as the options give them, over what a channel file says.
bool SettleLnb(const Given& g, Transponder* t, std::string* error) {
  if (!g.lnb.empty() && !g.lof.empty()) {
    *error = "give --lnb or --lof, not both";
    return false;
  }
  t->lnb = !g.lof.empty() ? nullptr : !g.lnb.empty() ? FindLnb(g.lnb) : t->lnb;
  t->lof_khz = g.lof.empty() ? 0 : Thousandths(g.lof);
  if (!g.tone.empty()) {
    t->tone_given = g.tone == "on";
  }
  return true;
}

// The LNB, the tone and the dish as the options give them, over what a
// channel file says; then the oscillator and tone settled.
bool SettleDish(const Given& g, TuneRequest* request, std::string* error,
                std::vector<std::string>* notes) {
  Transponder& t = request->transponder;
  if (!SettleLnb(g, &t, error)) {
    return false;
  }
  const DishSelection dish = Dish(g);
  request->dish.port = dish.port != 0 ? dish.port : request->dish.port;
  request->dish.burst = dish.burst != 0 ? dish.burst : request->dish.burst;
  return ResolveTransponder(&t, error, notes);
}

// The channel file a channel is looked up in: -c FILE, else the default one.
bool ChannelFile(const Given& g, std::string* path, std::string* error) {
  *path = !g.channels.empty() ? g.channels : DefaultChannelFile();
  std::error_code unknown;
  if (g.channels.empty() && !std::filesystem::exists(*path, unknown)) {
    *error = "no channel file: give -c FILE, or scan into the default one, " +
             (path->empty() ? std::string(kConfigFolderHelp) + "morvalind/channels.conf" : *path) +
             " (" + kProgram + " scan FILE -o " + (path->empty() ? "..." : *path) + ")";
    return false;
  }
  return true;
}

// The tune options as a transponder, or the channel's entry of the channel
// file; `needed` when the command cannot go without one.
void SettleTune(const Given& g, bool needed, const std::string& command, Options* options,
                std::string* error) {
  TuneRequest request;
  Transponder& t = request.transponder;
  t.lnb = &LnbTypes()[0];
  const std::string given_transponder = g.freq + g.pol + g.sr + g.fec + g.inversion;
  const std::string& channel = !g.channel.empty() ? g.channel : g.named;
  if (!g.channel.empty() && !g.named.empty()) {
    *error = "give the channel once: '" + g.named + "' or --channel '" + g.channel + "'";
    return;
  }
  if (!channel.empty() || !g.channels.empty()) {
    std::vector<ChannelEntry> entries;
    std::string path;
    if (channel.empty()) {
      *error = "-c FILE needs the channel's name: " + command + " NAME -c FILE";
      return;
    }
    if (!given_transponder.empty()) {
      *error =
          "the channel gives the transponder: leave out --freq, --pol, --sr, --fec, --inversion";
      return;
    }
    if (!ChannelFile(g, &path, error) || !LoadChannelFile(path, &entries, error)) {
      return;
    }
    const std::string name = CommandLineTextToUtf8(channel);
    const ChannelEntry* entry = FindChannel(entries, name);
    if (entry == nullptr) {
      *error = "no channel '" + name + "' in " + path + SimilarNames(entries, name);
      return;
    }
    options->channel_program = entry->service_id;
    if (!ChannelRequest(*entry, &request, error)) {
      *error = "channel '" + entry->name + "' cannot be tuned: " + *error;
      return;
    }
  } else if (g.freq.empty()) {
    const bool others = !(given_transponder + g.lnb + g.lof + g.tone + g.port + g.burst).empty();
    *error = needed ? command + " needs a transponder: --freq, --pol and --sr, or a channel's name"
             : others ? "the tune options need --freq, --pol and --sr"
                      : "";
    return;
  } else if (g.pol.empty() || g.sr.empty()) {
    *error =
        g.pol.empty() ? "--pol is needed (H, V, L or R)" : "--sr is needed (kSym/s, e.g. 27500)";
    return;
  } else {
    t.frequency_khz = Thousandths(g.freq);
    ParsePolarization(g.pol, &t.polarization);
    t.symbol_rate = Thousandths(g.sr);
    ParseFec(g.fec.empty() ? "auto" : g.fec, &t.fec_code);
    ParseInversion(g.inversion.empty() ? "auto" : g.inversion, &t.inversion);
  }
  std::vector<std::string> notes;
  if (SettleDish(g, &request, error, &notes)) {
    options->tune = request;
  }
  for (const std::string& note : notes) {
    Note(note);
  }
}

// The scan's transponder file as given, or, for a name alone that is not in
// the working folder, the one of that name beside this program or beside the
// virtual card there (the stand-in's ttlcdacc-transponders.conf).
std::string TransponderFile(const std::string& given) {
  std::error_code unknown;
  if (std::filesystem::exists(given, unknown) || given.find_first_of("/\\") != std::string::npos) {
    return given;
  }
  const std::string separator(1, std::filesystem::path::preferred_separator);
  for (const std::string& folder :
       {ProgramFolder(), ProgramFolder() + "virtual-card" + separator}) {
    std::string path = folder + given;
    if (std::filesystem::is_regular_file(path, unknown)) {
      Note("reading " + path);
      return path;
    }
  }
  return given;
}

// The scan's transponder file: each entry this card can tune, the others
// noted (the DVB-S2 ones, of which a file may hold many, counted).
void SettleScan(const Given& g, Options* options, std::string* error) {
  std::vector<ChannelEntry> entries;
  const std::string path = TransponderFile(g.channels);
  if (!LoadChannelFile(path, &entries, error)) {
    return;
  }
  std::size_t dvb_s2 = 0;
  for (ChannelEntry& entry : entries) {
    ScanTarget target{entry, {}};
    std::string problem;
    std::vector<std::string> notes;
    if (ChannelRequest(entry, &target.request, &problem) &&
        SettleDish(g, &target.request, &problem, &notes)) {
      options->scan.push_back(std::move(target));
      continue;
    }
    const bool s2 = entry.transponder.delivery_system == DeliverySystem::kDvbS2;
    options->scan_skipped.push_back({entry, problem, s2});
    dvb_s2 += s2 ? 1 : 0;
    if (!s2) {
      Note(Format("%s line %d: skipped, %s", path.c_str(), entry.line, problem.c_str()));
    }
  }
  const std::string s2_entries = Format("%zu DVB-S2 entr%s, which this DVB-S card does not receive",
                                        dvb_s2, dvb_s2 == 1 ? "y" : "ies");
  if (options->scan.empty()) {
    *error = path + " has no transponder this card can tune" +
             (dvb_s2 == entries.size() && dvb_s2 > 0 ? ": it holds " + s2_entries : "");
  } else if (dvb_s2 > 0) {
    Note(path + ": skipped " + s2_entries);
  }
}

// The recording --replay names, checked before the card library reads it.
void CheckReplay(const std::string& path, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  std::error_code unknown;
  if (std::filesystem::is_directory(path, unknown)) {
    *error = "--replay " + path + ": a folder, not a recording";
  } else if (!in) {
    *error = "--replay " + path + ": " + LastError();
  } else if (in.get() != 0x47) {
    *error =
        "--replay " + path + ": not a transport stream (it does not begin with the sync byte 0x47)";
  }
}

// The DiSEqC command's message: hex bytes, a switch port or a stored position.
void SettleDiseqc(const Given& g, Options* options, std::string* error) {
  DiseqcRequest& request = options->diseqc;
  const DishSelection dish = Dish(g);
  request.burst = dish.burst;
  long position = 0;
  if (!g.bytes.empty() + !g.port.empty() + !g.goto_position.empty() > 1) {
    *error = "give one of: message bytes, --port, --goto";
  } else if (!g.bytes.empty()) {
    ParseMessage(g.bytes, &request.message, error);
  } else if (dish.port != 0) {
    request.message = SwitchMessage(dish.port, g.pol == "H" || g.pol == "h", g.tone == "on");
  } else if (ParseWhole(g.goto_position, 0, 255, &position)) {
    request.message = GotoMessage(static_cast<int>(position));
  } else if (request.burst == 0) {
    *error = "nothing to send: give message bytes, --port, --burst or --goto";
  }
}

// The server's options; each word was checked as it was read.
void SettleServe(const Given& g, Options* options, std::string* error) {
  ServeOptions& serve = options->serve;
  serve.lnb.lnb = &LnbTypes()[0];
  if (!SettleLnb(g, &serve.lnb, error)) {
    return;
  }
  satipserver::ParseListen(g.listen, &serve.listen, error);
  long value = 0;
  if (ParseWhole(g.http_port, 0, 65535, &value)) {
    serve.http_port = static_cast<std::uint16_t>(value);
  }
  if (ParseWhole(g.max_sessions, 1, 64, &value)) {
    serve.max_sessions = static_cast<int>(value);
  }
  if (ParseWhole(g.session_timeout, 1, 3600, &value)) {
    serve.session_timeout = static_cast<int>(value);
  }
  serve.allow = satipserver::LocalNetworks();
  if (!g.allow.empty()) {
    serve.allow.clear();
    satipserver::ParseNetworks(g.allow, &serve.allow, error);
  }
}

// What an output keeps: a service by name or number, "pids:LIST", or "all"
// (nothing when all). False for a PID list that is none.
bool ParseKeep(const std::string& what, std::optional<FilterChoice>* keep) {
  if (SameIgnoringCase(what, "all")) {
    keep->reset();
    return true;
  }
  if (what.size() > 5 && SameIgnoringCase(what.substr(0, 5), "pids:")) {
    *keep = FilterChoice{};
    return ParsePids(what.substr(5), &(*keep)->pids);
  }
  *keep = ChooseService(CommandLineTextToUtf8(what));
  return true;
}

// The capture's outputs: -o and --udp keep what --service or --pids say, else
// the channel's service, else the whole transponder; each --output WHAT=DEST
// keeps its own.
void SettleOutputs(const Given& g, Options* options, std::string* error) {
  std::optional<FilterChoice> keep;
  if (!g.service.empty() || !g.pids.empty()) {
    ParseKeep(!g.service.empty() ? g.service : "pids:" + g.pids, &keep);
    keep = g.service.empty() && SameIgnoringCase(g.pids, "all") ? std::nullopt : keep;
  } else if (options->channel_program != 0) {
    keep = FilterChoice{options->channel_program, {}, {}};
  }
  CaptureOutput output{{}, keep};
  if (!options->out.empty()) {
    ParseDestination(options->out, false, &output.to, error);
    options->outputs.push_back(output);
  }
  if (!options->udp.empty() && ParseDestination(options->udp, true, &output.to, error)) {
    options->outputs.push_back(output);
  } else if (!options->udp.empty()) {
    *error = "--udp " + *error;
  }
  for (const std::string& given : g.outputs) {
    const std::size_t is = given.find('=');
    if (is == std::string::npos || is == 0 || is + 1 == given.size()) {
      *error = "--output " + given + ": give WHAT=DEST, e.g. --output 'Pellam Talk=talk.ts'";
    } else if (!ParseKeep(given.substr(0, is), &output.keep)) {
      *error = "--output " + given + ": " + given.substr(5, is - 5) +
               " is not a list of PIDs 0..8191 (0x1FFF)";
    } else if (ParseDestination(given.substr(is + 1), false, &output.to, error)) {
      options->outputs.push_back(output);
    }
  }
  long ttl = 0;
  if (ParseWhole(g.ttl, 1, 255, &ttl)) {
    options->sending.ttl = static_cast<int>(ttl);
  }
  options->sending.interface = g.interface;
  if (g.interface.find_first_not_of("0123456789.") != std::string::npos) {
    *error = "--multicast-if " + g.interface +
             ": give the interface's IPv4 address (for IPv6 multicast its index)";
  }
  if (error->empty() && options->outputs.empty()) {
    *error = "capture needs -o FILE (- for standard output), --udp HOST:PORT or --output WHAT=DEST";
  }
}

}  // namespace

std::string DefaultChannelFile() {
  const std::string folder = ConfigFolder();
  const std::string separator(1, std::filesystem::path::preferred_separator);
  return folder.empty() ? std::string() : folder + "morvalind" + separator + "channels.conf";
}

void Settle(const Given& g, Options* options, std::string* error) {
  const std::string& command = options->command;
  if (!g.card.empty() && !g.adapter.empty()) {
    *error = "give --card or -a, not both";
    return;
  }
  if (!g.card.empty() || !g.adapter.empty()) {  // checked as it was read
    ParseCardChoice(!g.adapter.empty() ? "linux:adapter" + g.adapter : g.card,
                    &options->session.card, error);
  }

  long seconds = 0;
  if (ParseWhole(g.seconds, 1, 1L << 30, &seconds)) {
    options->seconds = static_cast<double>(seconds);
  } else if (command == "demo") {
    options->seconds = 3;
  } else if (command == "scan") {
    options->seconds = 5;
  }
  if (command == "tune" || command == "capture" || command == "signal" || command == "demo") {
    SettleTune(g, command == "tune" || command == "capture", command, options, error);
  } else if (command == "diseqc") {
    SettleDiseqc(g, options, error);
  }
  if (command == "capture" && error->empty()) {
    SettleOutputs(g, options, error);
  }
  const auto to_standard_output = [](const CaptureOutput& output) {
    return output.to.kind == Destination::Kind::kFile && output.to.path == "-";
  };
  if (command == "capture" && error->empty() &&
      std::any_of(options->outputs.begin(), options->outputs.end(), to_standard_output) &&
      IsTerminal(stdout)) {
    *error =
        "-o - writes the stream to standard output, which is a terminal here: "
        "pipe it to a player (| ffplay -) or give -o FILE";
  }
  if (command == "scan") {
    SettleScan(g, options, error);
  }
  if (command == "serve") {
    SettleServe(g, options, error);
  }
  if (!g.service.empty() && !g.pids.empty()) {
    *error = "give --service or --pids, not both";
  } else if (!g.service.empty()) {
    options->keep = ChooseService(CommandLineTextToUtf8(g.service));
  } else if (!g.pids.empty() && !SameIgnoringCase(g.pids, "all")) {
    options->keep = FilterChoice{};
    ParsePids(g.pids, &options->keep->pids);
  }
  if (error->empty() && !options->session.replay.empty()) {
    CheckReplay(options->session.replay, error);
  }
  if (command == "signal" && !g.watch.empty()) {  // "--watch" alone leaves an empty word
    options->watch = true;
    if (ParseWhole(g.watch[0], 1, 1L << 30, &seconds)) {
      options->seconds = static_cast<double>(seconds);
    }
  }
}

}  // namespace host
