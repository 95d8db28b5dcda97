// The command line: every command's options, their help and their checks,
// read once with CLI11. Each value is checked strictly as it is read (MHz as
// digits with up to three decimals, never hex or exponents, names from their
// lists); then the options that belong together are settled into Options: the
// transponder and its LNB, the outputs, the DiSEqC message.
#include "host/options.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <map>

#include <CLI/CLI.hpp>

#include "dvb/dvb_text.h"
#include "dvb/name_match.h"
#include "dvb/transponder.h"
#include "host/program.h"
#include "host/report.h"

namespace {

// The words the options took, each checked; empty when not given.
struct Given {
  std::string freq, pol, sr, fec, lnb, lof, tone, inversion, port, burst, goto_position, seconds;
  std::string card;
  std::string channels, channel, service, pids;
  std::vector<std::string> bytes, watch;
};

struct CommandText {
  const char* name;
  const char* summary;
  const char* details;
  const char* examples;
};

constexpr CommandText kCommands[] = {
    {"info", "show the module's descriptor, version resource and exports",
     "The version resource and exports in the Windows build. The card is not touched.\n",
     "  morvalind-host info --module /path/to/Morvalind.dev --json\n"},
    {"open", "open the card through the module, then close it",
     "Counts the packets the callback got. A failed open's message goes to stderr.\n",
     "  morvalind-host open --module=./Morvalind.dev\n"},
    {"tune", "tune a transponder and report lock and signal",
     "Selects the dish first with --port (E0 10 38 Fx) and/or --burst when given.\n",
     "  morvalind-host tune --freq 11778 --pol V --sr 27500 --fec 3/4\n"
     "  morvalind-host tune --freq 11095 --pol H --sr 27500 --port 2 --json\n"
     "  morvalind-host tune --lnb c-band --freq 3880 --pol R --sr 27500   (a C-band dish)\n"
     "  morvalind-host tune --channels channels.conf --channel 'Pellam Sport'\n"},
    {"signal", "show strength, quality and lock, once or watched",
     "Tunes first when --freq is given. --watch reads on, until interrupted or for\n"
     "SECONDS: in place on a terminal (bars fit its width), a line a second\n"
     "otherwise, with --json a JSON line a sample with its Unix time.\n",
     "  morvalind-host signal --freq 12344 --pol H --sr 29700 --watch\n"
     "  morvalind-host signal --watch 10 --json\n"},
    {"capture", "tune and write the transport stream to a file, a pipe or UDP",
     "Writes whole packets to the file (-o -: standard output, all text then on\n"
     "stderr) and/or to --udp HOST:PORT, seven a datagram, for --seconds or until\n"
     "Ctrl-C, SIGTERM or the reader going away. A file is replaced only once data\n"
     "flows (FILE.partial until then); a write error stops the capture (status 6).\n"
     "--service keeps one service (its own PAT, its PMT, streams and PCR), --pids\n"
     "exactly the PIDs listed.\n",
     "  morvalind-host capture -o pellam.ts --seconds 5 --freq 11778 --pol V --sr 27500\n"
     "  morvalind-host capture -o talk.ts --channels channels.conf --channel 'Pellam Talk'\n"
     "  morvalind-host capture -o one.ts --service 3002 --freq 11778 --pol V --sr 27500\n"
     "  morvalind-host capture -o - --freq 11778 --pol V --sr 27500 | ffplay -\n"
     "  morvalind-host capture --udp 239.1.1.1:1234 --freq 11095 --pol H --sr 27500 --port 2\n"},
    {"diseqc", "send a DiSEqC message, switch port, tone burst or positioner command",
     "3 to 6 hex bytes, --port or --goto, after --burst if given. A positioner\n"
     "command stops the stream until the next tune.\n",
     "  morvalind-host diseqc E0 10 38 F3\n"
     "  morvalind-host diseqc --port 2 --pol H --burst B\n"},
    {"scan", "tune every transponder of a channel file and list their services",
     "Reads a dvbv5 transponder file (as dtv-scan-tables' dvb-s folder holds them),\n"
     "tunes each entry, reads its PAT, SDT and PMTs and writes a dvbv5 channel file\n"
     "of the services found to -o FILE or standard output; progress on stderr.\n"
     "SAT_NUMBER picks the switch port (0: port 1); --port gives one for all.\n",
     "  morvalind-host scan /usr/share/dvb/dvb-s/Astra-19.2E -o channels.conf\n"
     "  morvalind-host scan ttlcdacc-transponders.conf --json\n"},
#ifndef _WIN32
    {"adapters", "list the DVB adapters Linux drives, through the Linux DVB card library",
     "Each frontend with its name and delivery systems; --card remote:HOST:PORT\n"
     "lists those a dvbv5-daemon serves. No card is opened, no module loaded.\n",
     "  morvalind-host adapters\n"
     "  morvalind-host adapters --json\n"},
#endif
    {"demo", "show the module at work on the stand-in card",
     "Tunes the stand-in's lineup (a real card: the transponder given), captures the\n"
     "transponder with the most services and shows what it holds.\n",
     "  morvalind-host demo --out . --seconds 5\n"},
};

constexpr char kTuneHelp[] =
    "The frequency is on the dish: 10700..12750 MHz for the universal LNB (the\n"
    "default), whose band sets oscillator and tone; --lnb another type, --lof any\n"
    "other's oscillator. After the LNB it must fall in 950..2150 MHz.\n";

// What the command does, its examples and the exit statuses, after its
// options (CLI11 ends a footer with a newline).
std::string Footer(const std::string& details, const std::string& examples) {
  const std::string text = details + "\nExamples:\n" + examples + "\n" + kExitStatusHelp;
  return text.substr(0, text.size() - 1);
}

CLI::Validator Decimal(const char* unit) {
  return CLI::Validator(
      [unit](std::string& text) {
        std::uint32_t value = 0;
        return ParseThousandths(text, &value)
                   ? std::string()
                   : text + " is not " + unit + " as digits with up to three decimals";
      },
      "");
}

CLI::Validator Whole(long low, long high) {
  return CLI::Validator(
      [low, high](std::string& text) {
        long value = 0;
        return ParseWhole(text, low, high, &value)
                   ? std::string()
                   : Format("%s is not a whole number %ld..%ld", text.c_str(), low, high);
      },
      "");
}

CLI::Validator Card() {
  return CLI::Validator(
      [](std::string& text) {
        CardChoice choice;
        std::string error;
        return ParseCardChoice(text, &choice, &error) ? std::string() : error;
      },
      "");
}

#ifdef _WIN32
constexpr char kCardHelp[] =
    "the card library's path (default: ttlcdacc.dll beside\n"
    "this program, else virtual-card\\ttlcdacc.dll there)";
#else
constexpr char kCardHelp[] =
    "the card library: linux[:adapterN], remote:HOST:PORT\n"
    "(Linux DVB), or a path (default: ttlcdacc.dll beside\n"
    "this program, else virtual-card/ttlcdacc.dll there)";
#endif

CLI::Validator Choice(std::vector<std::string> names) {
  return CLI::IsMember(std::move(names), CLI::ignore_case).description("");
}

void Add(CLI::App* command, const char* name, std::string* value, const char* type,
         const char* help, const CLI::Validator& check = CLI::Validator()) {
  command->add_option(name, *value, help)->type_name(type)->check(check);
}

// The LNB and the dish, which a channel file's entry may also give.
void AddDish(CLI::App* command, Given* g) {
  std::vector<std::string> lnbs = {"list"};
  for (const LnbType& lnb : LnbTypes()) {
    lnbs.insert(lnbs.end(), {lnb.name, lnb.dvbv5_name});
  }
  Add(command, "--lnb", &g->lnb, "TYPE", "LNB type (default universal); --lnb list names them",
      Choice(lnbs));
  Add(command, "--lof", &g->lof, "MHZ", "oscillator of an LNB not in the list", Decimal("MHz"));
  Add(command, "--tone", &g->tone, "on|off", "22 kHz tone (default: as the LNB's band needs)",
      Choice({"on", "off"}));
  Add(command, "--port", &g->port, "N", "committed switch port 1..4 to select first", Whole(1, 4));
  Add(command, "--burst", &g->burst, "A|B", "tone burst to send first", Choice({"A", "B"}));
}

void AddTune(CLI::App* command, Given* g) {
  Add(command, "--freq", &g->freq, "MHZ", "frequency on the dish, e.g. 11778 or 11778.125",
      Decimal("MHz"));
  Add(command, "--pol", &g->pol, "H|V|L|R", "polarisation (L, R circular, on the H, V voltages)",
      Choice({"H", "V", "L", "R"}));
  Add(command, "--sr", &g->sr, "KSYMS", "symbol rate in kSym/s, 1000..45000, e.g. 27500",
      Decimal("kSym/s"));
  Add(command, "--fec", &g->fec, "N/M", "code rate 1/2 2/3 3/4 4/5 5/6 6/7 7/8 8/9, or auto",
      Choice({"auto", "1/2", "2/3", "3/4", "4/5", "5/6", "6/7", "7/8", "8/9"}));
  Add(command, "--inversion", &g->inversion, "off|on|auto", "spectral inversion (default auto)",
      Choice({"off", "on", "auto"}));
  AddDish(command, g);
  Add(command, "--channels", &g->channels, "FILE", "a dvbv5 channel file, for --channel");
  Add(command, "--channel", &g->channel, "NAME", "tune that entry of the --channels file");
}

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

// A channel file's entry as the same request the tune options make: its
// LNB by name (universal when it names none), SAT_NUMBER as the switch port.
bool ChannelRequest(const ChannelEntry& entry, TuneRequest* request, std::string* error) {
  const TransponderParameters& p = entry.transponder;
  Transponder& t = request->transponder;
  t.frequency_khz = p.frequency_khz;
  t.polarization = p.polarization;
  t.symbol_rate = p.symbol_rate;
  t.inversion = static_cast<std::uint32_t>(p.inversion);
  t.lnb = p.lnb.empty() ? &LnbTypes()[0] : FindLnb(p.lnb);
  if (p.delivery_system != DeliverySystem::kDvbS) {
    *error = "it is DVB-S2, which this DVB-S card does not receive";
  } else if (p.polarization == Polarization::kOff) {
    *error = "it has no polarisation (POLARIZATION = OFF)";
  } else if (!CardFecCode(p.fec, &t.fec_code)) {
    *error = std::string("its INNER_FEC ") + CodeRateName(p.fec) + " is not a DVB-S code rate";
  } else if (t.lnb == nullptr) {
    *error = "its LNB " + p.lnb + " is not a type this program knows (--lnb list)";
  } else if (p.satellite_number.has_value() &&
             (*p.satellite_number < 0 || *p.satellite_number > 3)) {
    *error = "its SAT_NUMBER " + std::to_string(*p.satellite_number) + " is not a switch port 0..3";
  } else {
    request->dish.port = p.satellite_number.has_value() ? *p.satellite_number + 1 : 0;
    return true;
  }
  return false;
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

// The LNB, the tone and the dish as the options give them, over what a
// channel file says; then the oscillator and tone settled.
bool SettleDish(const Given& g, TuneRequest* request, std::string* error,
                std::vector<std::string>* notes) {
  Transponder& t = request->transponder;
  if (!g.lnb.empty() && !g.lof.empty()) {
    *error = "give --lnb or --lof, not both";
    return false;
  }
  t.lnb = !g.lof.empty() ? nullptr : !g.lnb.empty() ? FindLnb(g.lnb) : t.lnb;
  t.lof_khz = g.lof.empty() ? 0 : Thousandths(g.lof);
  if (!g.tone.empty()) {
    t.tone_given = g.tone == "on";
  }
  const DishSelection dish = Dish(g);
  request->dish.port = dish.port != 0 ? dish.port : request->dish.port;
  request->dish.burst = dish.burst != 0 ? dish.burst : request->dish.burst;
  return ResolveTransponder(&t, error, notes);
}

// The tune options as a transponder, or the --channel entry of the
// --channels file; `needed` when the command cannot go without one.
void SettleTune(const Given& g, bool needed, const std::string& command, Options* options,
                std::string* error) {
  TuneRequest request;
  Transponder& t = request.transponder;
  t.lnb = &LnbTypes()[0];
  const std::string given_transponder = g.freq + g.pol + g.sr + g.fec + g.inversion;
  if (!g.channel.empty() || !g.channels.empty()) {
    std::vector<ChannelEntry> entries;
    if (g.channel.empty() || g.channels.empty()) {
      *error =
          g.channel.empty() ? "--channels needs --channel NAME" : "--channel needs --channels FILE";
      return;
    }
    if (!given_transponder.empty()) {
      *error = "--channel gives the transponder: leave out --freq, --pol, --sr, --fec, --inversion";
      return;
    }
    if (!LoadChannelFile(g.channels, &entries, error)) {
      return;
    }
    const std::string name = CommandLineTextToUtf8(g.channel);
    const ChannelEntry* entry = FindChannel(entries, name);
    if (entry == nullptr) {
      *error = "no channel '" + name + "' in " + g.channels + SimilarNames(entries, name);
      return;
    }
    if (!ChannelRequest(*entry, &request, error)) {
      *error = "channel '" + entry->name + "' cannot be tuned: " + *error;
      return;
    }
  } else if (g.freq.empty()) {
    const bool others = !(given_transponder + g.lnb + g.lof + g.tone + g.port + g.burst).empty();
    *error = needed   ? command + " needs a transponder: --freq, --pol and --sr, or --channel"
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

// The scan's transponder file: each entry this card can tune, the others noted.
void SettleScan(const Given& g, Options* options, std::string* error) {
  std::vector<ChannelEntry> entries;
  if (!LoadChannelFile(g.channels, &entries, error)) {
    return;
  }
  for (ChannelEntry& entry : entries) {
    ScanTarget target{entry, {}};
    std::string problem;
    std::vector<std::string> notes;
    if (ChannelRequest(entry, &target.request, &problem) &&
        SettleDish(g, &target.request, &problem, &notes)) {
      options->scan.push_back(std::move(target));
    } else {
      Note(Format("%s line %d: skipped, %s", g.channels.c_str(), entry.line, problem.c_str()));
    }
  }
  if (options->scan.empty()) {
    *error = g.channels + " has no transponder this card can tune";
  }
}

// --pids: PIDs separated by commas or spaces, decimal or 0x hex ("0,0x1201,4641").
bool ParsePids(const std::string& text, std::vector<std::uint16_t>* pids) {
  std::size_t at = 0;
  while ((at = text.find_first_not_of(", ", at)) != std::string::npos) {
    const std::size_t end = std::min(text.find_first_of(", ", at), text.size());
    const std::string word = text.substr(at, end - at);
    const bool hex = word.size() > 2 && (word[1] == 'x' || word[1] == 'X') && word[0] == '0';
    const std::string digits = hex ? word.substr(2) : word;
    if (digits.empty() || digits.size() > 4 ||
        digits.find_first_not_of(hex ? "0123456789abcdefABCDEF" : "0123456789") !=
            std::string::npos) {
      return false;
    }
    const unsigned long pid = std::stoul(digits, nullptr, hex ? 16 : 10);
    if (pid > 0x1FFF) {
      return false;
    }
    pids->push_back(static_cast<std::uint16_t>(pid));
    at = end;
  }
  return !pids->empty();
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

void Settle(const Given& g, Options* options, std::string* error) {
  const std::string& command = options->command;
  if (!g.card.empty()) {
    ParseCardChoice(g.card, &options->session.card, error);  // checked as it was read
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
  if (command == "capture" && error->empty() && options->out.empty() && options->udp.empty()) {
    *error = "capture needs -o FILE (- for standard output) or --udp HOST:PORT";
  }
  if (command == "scan") {
    SettleScan(g, options, error);
  }
  if (!g.service.empty() && !g.pids.empty()) {
    *error = "give --service or --pids, not both";
  } else if (!g.service.empty()) {
    options->keep = ChooseService(CommandLineTextToUtf8(g.service));
  } else if (!g.pids.empty()) {
    options->keep = FilterChoice{};
    ParsePids(g.pids, &options->keep->pids);
  }
  if (command == "signal" && !g.watch.empty()) {  // "--watch" alone leaves an empty word
    options->watch = true;
    if (ParseWhole(g.watch[0], 1, 1L << 30, &seconds)) {
      options->seconds = static_cast<double>(seconds);
    }
  }
}

int UsageError(const std::string& problem, const std::string& command) {
  Fail(kExitUsage, problem);
  std::fprintf(stderr, "Try '%s help%s%s'.\n", kProgram, command.empty() ? "" : " ",
               command.c_str());
  return kExitUsage;
}

std::string LnbList() {
  std::string text = "LNB types for --lnb (as a channel file names them):\n";
  for (const LnbType& lnb : LnbTypes()) {
    text += Format("  %-10s %-17s %s (%s)\n", lnb.name, LnbRange(lnb).c_str(), lnb.description,
                   lnb.dvbv5_name);
  }
  return text + "Any other LNB: --lof MHZ, its oscillator.\n";
}

}  // namespace

bool ReadCommandLine(std::vector<std::string> words, Options* options, int* status) {
  Given g;
  CLI::App app(
      "Drives a Morvalind.dev device module from the command line, the way the host\n"
      "application loads it (exports by ordinal and by name, entry table).",
      kProgram);
  app.get_formatter()->label("SUBCOMMAND", "COMMAND");
  app.get_formatter()->column_width(28);
  app.set_help_flag("-h,--help", "show this help");
  app.set_version_flag("--version", std::string(kProgram) + " " + VersionText(),
                       "show the program's version");
  app.require_subcommand(1);
  // Options are -x and --xx on every system: a path such as /work/x.conf is a path.
  app.allow_windows_style_options(false);
  app.footer(
      Footer("",
             "  morvalind-host demo\n"
             "  morvalind-host tune --freq 11778 --pol V --sr 27500 --fec 3/4\n"
             "  morvalind-host capture -o out.ts --seconds 5 --freq 11778 --pol V --sr 27500\n"
             "  morvalind-host help capture\n"));
  std::map<std::string, CLI::App*> commands;
  for (const CommandText& text : kCommands) {
    const std::string name = text.name;
    const bool tunes = name == "tune" || name == "signal" || name == "capture" || name == "demo";
    CLI::App* command = app.add_subcommand(text.name, text.summary)->group("Commands");
    command->footer(Footer(text.details + std::string(tunes ? "\n" : "") + (tunes ? kTuneHelp : ""),
                           text.examples));
    if (name != "adapters") {
      command
          ->add_option("--module", options->session.module,
                       "the module to load (default: Morvalind.dev beside this program)")
          ->type_name("PATH");
    }
    if (name != "info") {
      Add(command, "--card", &g.card, "CARD", kCardHelp, Card());
    }
    command->add_flag("--json", options->json, "print JSON instead of text");
    if (name != "info" && name != "adapters") {
      Add(command, "--replay", &options->session.replay, "FILE",
          "the stand-in card plays this recording on every transponder");
    }
    if (tunes) {
      AddTune(command, &g);
    }
    commands[text.name] = command;
  }
  std::string topic;
  CLI::App* help = app.add_subcommand("help", "explain a command")->group("Commands");
  help->footer(Footer("", "  morvalind-host help capture\n"));
  help->add_option("COMMAND", topic, "the command to explain");

  CLI::App* capture = commands["capture"];
  Add(capture, "-o,--out", &options->out, "FILE", "the file to write, - for standard output");
  Add(capture, "--udp", &options->udp, "HOST:PORT", "send the stream there");
  Add(capture, "--seconds", &g.seconds, "N", "how long (default: until interrupted)",
      Whole(1, 1L << 30));
  Add(capture, "--service", &g.service, "NAME|ID", "keep this service only");
  Add(capture, "--pids", &g.pids, "LIST", "keep these PIDs only, e.g. 0,0x1201,4641",
      CLI::Validator(
          [](std::string& text) {
            std::vector<std::uint16_t> pids;
            return ParsePids(text, &pids) ? std::string()
                                          : text + " is not a list of PIDs 0..8191 (0x1FFF)";
          },
          ""));
  CLI::App* scan = commands["scan"];
  scan->add_option("FILE", g.channels, "the dvbv5 transponder file")->required();
  Add(scan, "-o,--out", &options->out, "FILE",
      "the channel file to write (default: standard output)");
  Add(scan, "--seconds", &g.seconds, "N", "longest wait for a transponder's tables (default 5)",
      Whole(1, 1L << 30));
  AddDish(scan, &g);
  commands["signal"]
      ->add_option("--watch", g.watch, "read on, until interrupted")
      ->expected(0, 1)
      ->type_name("[SECONDS]")
      ->check(Whole(1, 1L << 30));
  Add(commands["demo"], "--out", &options->out, "FOLDER", "for the capture (default: temp folder)");
  Add(commands["demo"], "--seconds", &g.seconds, "N", "how long to capture (default 3)",
      Whole(1, 1L << 30));
  CLI::App* diseqc = commands["diseqc"];
  diseqc->add_option("BYTES", g.bytes, "the message in hex bytes, e.g. E0 10 38 F3");
  Add(diseqc, "--port", &g.port, "N", "committed switch port 1..4 (E0 10 38 Fx)", Whole(1, 4));
  Add(diseqc, "--pol", &g.pol, "H|V", "polarisation bit of the switch message (default V)",
      Choice({"H", "V"}));
  Add(diseqc, "--tone", &g.tone, "on|off", "band bit of the switch message (default off)",
      Choice({"on", "off"}));
  Add(diseqc, "--burst", &g.burst, "A|B", "send a tone burst first (or alone)", Choice({"A", "B"}));
  Add(diseqc, "--goto", &g.goto_position, "N", "positioner: go to stored position N (E0 31 6B nn)",
      Whole(0, 255));

  if (words.empty() ||
      (words[0].rfind('-', 0) != 0 && commands.count(words[0]) == 0 && words[0] != "help")) {
    *status =
        UsageError(words.empty() ? "missing command" : "unknown command '" + words[0] + "'", "");
    return false;
  }
  // "-o=x.ts" is read as "-o x.ts", as "--out=x.ts" is.
  for (std::size_t i = 0; i < words.size(); ++i) {
    if (words[i].size() > 3 && words[i][0] == '-' && words[i][1] != '-' && words[i][2] == '=') {
      words.insert(words.begin() + static_cast<std::ptrdiff_t>(i) + 1, words[i].substr(3));
      words[i].resize(2);
    }
  }
  std::reverse(words.begin(), words.end());  // CLI11 takes them last first
  std::string problem;
  std::string printed;  // help, the version or the LNB list: the program ends here
  try {
    app.parse(words);
    options->command = app.get_subcommands().at(0)->get_name();
    if (options->command == "help" && !topic.empty() && commands.count(topic) == 0) {
      problem = "no command '" + topic + "'";
    } else if (options->command == "help") {
      // The program's own help, not the help command's (the command chosen).
      printed = topic.empty()
                    ? app.get_formatter()->make_help(&app, kProgram, CLI::AppFormatMode::Normal)
                    : commands[topic]->help(kProgram);
    } else if (g.lnb == "list") {
      printed = LnbList();
    } else {
      Settle(g, options, &problem);
    }
  } catch (const CLI::CallForHelp&) {
    printed = app.help();
  } catch (const CLI::CallForVersion& version) {
    printed = std::string(version.what()) + "\n";
  } catch (const CLI::ParseError& error) {
    problem = error.what();
  }
  if (!problem.empty()) {
    const std::vector<CLI::App*> chosen = app.get_subcommands();
    *status = UsageError(problem, chosen.empty() ? "" : chosen[0]->get_name());
    return false;
  }
  std::fputs(printed.c_str(), stdout);
  *status = kExitOk;
  return printed.empty();
}
