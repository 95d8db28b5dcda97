// The command line: every command's options, their help and their checks,
// read once with CLI11. Each value is checked strictly as it is read (MHz as
// digits with up to three decimals, never hex or exponents, names from their
// lists); settle.cpp then settles the options that belong together into
// Options. Mistakes are answered in the program's own words: an option a
// command does not have with the nearest one it has, a number in another
// unit with the unit it was likely given in.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>

#include <CLI/CLI.hpp>

#include "dvb/name_match.h"
#include "dvb/transponder.h"
#include "host/command_help.h"
#include "host/command_mistakes.h"
#include "host/linux_card.h"
#include "host/program.h"
#include "host/report.h"
#include "host/settle.h"
#include "host/system.h"

namespace host {

using dvb::FrequencyUnitHint;
using dvb::LnbType;
using dvb::LnbTypes;
using dvb::ParsePids;
using dvb::ParseThousandths;
using dvb::ParseWhole;
using dvb::SameIgnoringCase;
using dvb::SymbolRateUnitHint;

namespace {

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

// Digits with up to three decimals in `unit`; for digits in another unit
// (11778000 for --freq) the hint says which.
CLI::Validator Decimal(const char* unit, std::string (*hint)(double) = nullptr) {
  return CLI::Validator(
      [unit, hint](std::string& text) {
        std::uint32_t value = 0;
        const bool number = !text.empty() &&
                            text.find_first_not_of("0123456789.") == std::string::npos &&
                            text.find('.') == text.rfind('.') && text.size() < 20;
        return ParseThousandths(text, &value)
                   ? std::string()
                   : text + " is not " + unit + " as digits with up to three decimals" +
                         (number && hint != nullptr ? hint(std::strtod(text.c_str(), nullptr))
                                                    : std::string());
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

constexpr char kCardHelp[] =
    "the card library: satip[:HOST[:PORT]] (a SAT>IP tuner),\n"
    "or a path (default: ttlcdacc.dll beside this program,\n"
    "else virtual-card\\ttlcdacc.dll there)";
constexpr char kLinuxCardHelp[] =
    "the card library: linux[:adapterN], remote:HOST:PORT\n"
    "(Linux DVB), satip[:HOST[:PORT]] (a SAT>IP tuner), or a\n"
    "path (default: ttlcdacc.dll beside this program, else\n"
    "virtual-card/ttlcdacc.dll there)";

CLI::Validator Choice(std::vector<std::string> names) {
  return CLI::IsMember(std::move(names), CLI::ignore_case).description("");
}

void Add(CLI::App* command, const char* name, std::string* value, const char* type,
         const std::string& help, const CLI::Validator& check = CLI::Validator()) {
  command->add_option(name, *value, help)->type_name(type)->check(check);
}

// The LNB, which a channel file's entry may also give.
void AddLnb(CLI::App* command, Given* g) {
  std::vector<std::string> lnbs = {"list"};
  for (const LnbType& lnb : LnbTypes()) {
    lnbs.insert(lnbs.end(), {lnb.name, lnb.dvbv5_name});
  }
  Add(command, "--lnb", &g->lnb, "TYPE", "LNB type (default universal); --lnb list names them",
      Choice(lnbs));
  Add(command, "--lof", &g->lof, "MHZ", "oscillator of an LNB not in the list", Decimal("MHz"));
  Add(command, "--tone", &g->tone, "on|off", "22 kHz tone (default: as the LNB's band needs)",
      Choice({"on", "off"}));
}

// The LNB and the dish.
void AddDish(CLI::App* command, Given* g) {
  AddLnb(command, g);
  Add(command, "--port", &g->port, "N", "committed switch port 1..4 to select first", Whole(1, 4));
  Add(command, "--burst", &g->burst, "A|B", "tone burst to send first", Choice({"A", "B"}));
}

void AddTune(CLI::App* command, Given* g) {
  Add(command, "--freq", &g->freq, "MHZ", "frequency on the dish, e.g. 11778 or 11778.125",
      Decimal("MHz", FrequencyUnitHint));
  Add(command, "--pol", &g->pol, "H|V|L|R", "polarisation (L, R circular, on the H, V voltages)",
      Choice({"H", "V", "L", "R"}));
  Add(command, "--sr", &g->sr, "KSYMS", "symbol rate in kSym/s, 1000..45000, e.g. 27500",
      Decimal("kSym/s", SymbolRateUnitHint));
  Add(command, "--fec", &g->fec, "N/M", "code rate 1/2 2/3 3/4 4/5 5/6 6/7 7/8 8/9, or auto",
      Choice({"auto", "1/2", "2/3", "3/4", "4/5", "5/6", "6/7", "7/8", "8/9"}));
  Add(command, "--inversion", &g->inversion, "off|on|auto", "spectral inversion (default auto)",
      Choice({"off", "on", "auto"}));
  AddDish(command, g);
}

// The channel by name (NAME, or --channel NAME) and the file it is in.
void AddChannel(CLI::App* command, Given* g) {
  command->add_option("NAME", g->named, "the channel to tune, by its name in the channel file");
  Add(command, "-c,--channels", &g->channels, "FILE",
      std::string("the dvbv5 channel file (default: ") + kConfigFolderHelp + "morvalind" +
          (kWindowsSystem ? "\\" : "/") + "channels.conf)");
  Add(command, "--channel", &g->channel, "NAME", "the channel, as NAME gives it");
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

// The options every command takes, which may also come before the command.
void AddCommon(CLI::App* command, Options* options) {
  command->add_flag("--json", options->json, "print JSON instead of text");
  command->add_flag("-v,--verbose", options->session.verbose,
                    "the card library's own messages too (libdvbv5's)");
  command->add_flag("-q,--quiet", options->quiet, "print nothing but problems");
}

// Every command, with its help and the options all or most of them share.
Commands DeclareCommands(CLI::App* app, Given* g, Options* options) {
  Commands commands;
  for (const CommandText& text : CommandTexts()) {
    const std::string name = text.name;
    const bool tunes = name == "tune" || name == "signal" || name == "capture" || name == "demo";
    if (name == "adapters" && !kLinuxCards) {
      continue;
    }
    CLI::App* command = app->add_subcommand(text.name, text.summary)->group("Commands");
    const bool on_the_dish = tunes || name == "serve";  // frequencies through the LNB
    command->footer(
        Footer(text.details + std::string(on_the_dish ? "\n" : "") + (on_the_dish ? kTuneHelp : ""),
               text.examples));
    if (name != "adapters") {
      command
          ->add_option("--module", options->session.module,
                       "the module to load (default: Morvalind.dev beside this program)")
          ->type_name("PATH");
    }
    if (name != "info") {
      Add(command, "--card", &g->card, "CARD", kLinuxCards ? kLinuxCardHelp : kCardHelp, Card());
    }
    if (name != "info" && kLinuxCards) {
      Add(command, "-a,--adapter", &g->adapter, "N",
          "the Linux DVB adapter N: --card linux:adapterN", Whole(0, 255));
    }
    AddCommon(command, options);
    if (name != "info" && name != "adapters") {
      Add(command, "--replay", &options->session.replay, "FILE",
          "the stand-in card plays this recording on every transponder");
    }
    if (tunes) {
      AddTune(command, g);
    }
    if (tunes && name != "demo") {
      AddChannel(command, g);
    }
    commands[text.name] = command;
  }
  return commands;
}

// The options of capture and scan: outputs, what to keep, the scan's file.
void DeclareCaptureAndScan(const Commands& commands, Given* g, Options* options) {
  CLI::App* capture = commands.at("capture");
  Add(capture, "-o,--out", &options->out, "FILE",
      "the file to write, - for standard output (not a terminal)");
  Add(capture, "--udp", &options->udp, "HOST:PORT",
      "send the stream there (also udp://HOST:PORT, rtp://HOST:PORT)");
  capture->add_option("--output", g->outputs, "another output: WHAT=DEST (see below)")
      ->type_name("WHAT=DEST");
  Add(capture, "--ttl", &g->ttl, "N", "hops a datagram may take, 1..255", Whole(1, 255));
  Add(capture, "--multicast-if", &g->interface, "ADDRESS",
      "the interface multicast leaves by: its IPv4 address (IPv6: its index)");
  Add(capture, "-t,--seconds", &g->seconds, "N", "how long (default: until interrupted)",
      Whole(1, 1L << 30));
  Add(capture, "--service", &g->service, "NAME|ID", "keep this service only");
  Add(capture, "--pids", &g->pids, "LIST",
      "keep these PIDs only, e.g. 0,0x1201,4641; all: the whole transponder",
      CLI::Validator(
          [](std::string& text) {
            std::vector<std::uint16_t> pids;
            return ParsePids(text, &pids) || SameIgnoringCase(text, "all")
                       ? std::string()
                       : text + " is not a list of PIDs 0..8191 (0x1FFF)";
          },
          ""));
  CLI::App* scan = commands.at("scan");
  scan->add_option("FILE", g->channels, "the dvbv5 transponder file")->required();
  Add(scan, "-o,--out", &options->out, "FILE",
      "the channel file to write (default: standard output)");
  Add(scan, "-t,--seconds", &g->seconds, "N", "longest wait for a transponder's tables (default 5)",
      Whole(1, 1L << 30));
  scan->add_flag("-F,--file-freqs-only", options->file_frequencies_only,
                 "scan the file's transponders only, not those a NIT lists");
  AddDish(scan, g);
}

// The options of signal, demo and diseqc.
void DeclareOthers(const Commands& commands, Given* g, Options* options) {
  commands.at("signal")
      ->add_option("--watch", g->watch, "read on, until interrupted")
      ->expected(0, 1)
      ->type_name("[SECONDS]")
      ->check(Whole(1, 1L << 30));
  Add(commands.at("demo"), "--out", &options->out, "FOLDER",
      "for the capture (default: temp folder)");
  Add(commands.at("demo"), "-t,--seconds", &g->seconds, "N", "how long to capture (default 3)",
      Whole(1, 1L << 30));
  CLI::App* diseqc = commands.at("diseqc");
  diseqc->add_option("BYTES", g->bytes, "the message in hex bytes, e.g. E0 10 38 F3");
  Add(diseqc, "--port", &g->port, "N", "committed switch port 1..4 (E0 10 38 Fx)", Whole(1, 4));
  Add(diseqc, "--pol", &g->pol, "H|V", "polarisation bit of the switch message (default V)",
      Choice({"H", "V"}));
  Add(diseqc, "--tone", &g->tone, "on|off", "band bit of the switch message (default off)",
      Choice({"on", "off"}));
  Add(diseqc, "--burst", &g->burst, "A|B", "send a tone burst first (or alone)",
      Choice({"A", "B"}));
  Add(diseqc, "--goto", &g->goto_position, "N", "positioner: go to stored position N (E0 31 6B nn)",
      Whole(0, 255));
}

// The server's options.
void DeclareServe(const Commands& commands, Given* g, Options* options) {
  CLI::App* serve = commands.at("serve");
  AddLnb(serve, g);
  Add(serve, "--listen", &g->listen, "ADDR[:PORT]",
      "RTSP's address and port (default: every address, 554)",
      CLI::Validator(
          [](std::string& text) {
            satipserver::ListenAddress listen;
            std::string error;
            return satipserver::ParseListen(text, &listen, &error) ? std::string() : error;
          },
          ""));
  Add(serve, "--http-port", &g->http_port, "N", "HTTP's port, for streams and desc.xml (8080)",
      Whole(0, 65535));
  Add(serve, "--allow", &g->allow, "LIST",
      "networks whose clients are served, e.g. 192.168.1.0/24,::1\n(default: loopback, private, "
      "link-local)",
      CLI::Validator(
          [](std::string& text) {
            std::vector<satipserver::Network> networks;
            std::string error;
            return satipserver::ParseNetworks(text, &networks, &error) ? std::string() : error;
          },
          ""));
  Add(serve, "--max-sessions", &g->max_sessions, "N", "streams at once, 1..64 (8)", Whole(1, 64));
  Add(serve, "--session-timeout", &g->session_timeout, "SECONDS",
      "a session not kept alive ends after it (60)", Whole(1, 3600));
  serve->add_flag(
      "--no-discovery", [options](std::int64_t) { options->serve.discovery = false; },
      "do not announce the server by SSDP nor answer searches");
}

// "--lnb list" (or "--lnb=list") anywhere: the LNB types are printed and nothing else is done.
bool AsksForLnbList(const std::vector<std::string>& words) {
  for (std::size_t i = 0; i < words.size(); ++i) {
    if (SameIgnoringCase(words[i], "--lnb=list") ||
        (words[i] == "--lnb" && i + 1 < words.size() && SameIgnoringCase(words[i + 1], "list"))) {
      return true;
    }
  }
  return false;
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
                       "show the program's version (with --json as JSON)");
  app.require_subcommand(1);
  // Options are -x and --xx on every system: a path such as /work/x.conf is a path.
  app.allow_windows_style_options(false);
  // What it does not take is answered below, in the program's own words.
  app.allow_extras();
  AddCommon(&app, options);
  app.footer(Footer("",
                    "  morvalind-host demo\n"
                    "  morvalind-host tune --freq 11778 --pol V --sr 27500 --fec 3/4\n"
                    "  morvalind-host capture -o out.ts -t 5 --freq 11778 --pol V --sr 27500\n"
                    "  morvalind-host serve --listen :8554\n"
                    "  morvalind-host help capture\n"));
  Commands commands = DeclareCommands(&app, &g, options);
  DeclareCaptureAndScan(commands, &g, options);
  DeclareOthers(commands, &g, options);
  DeclareServe(commands, &g, options);
  std::string topic;
  CLI::App* help = app.add_subcommand("help", "explain a command")->group("Commands");
  help->footer(Footer("", "  morvalind-host help capture\n"));
  help->add_option("COMMAND", topic, "the command to explain");
  commands["help"] = help;
  for (auto& entry : commands) {
    entry.second->allow_extras();
  }

  if (AsksForLnbList(words)) {
    std::fputs(LnbList().c_str(), stdout);
    *status = kExitOk;
    return false;
  }
  if (words.empty() || (words[0].rfind('-', 0) != 0 && commands.count(words[0]) == 0)) {
    *status =
        UsageError(words.empty() ? "give a command (" + std::string(kProgram) + " help lists them)"
                                 : UnknownCommand(words[0], commands),
                   "");
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
  std::string printed;  // help or the version: the program ends here
  const auto chosen = [&app]() -> CLI::App* {
    const std::vector<CLI::App*> list = app.get_subcommands();
    return list.empty() ? nullptr : list[0];
  };
  try {
    app.parse(words);
    options->command = chosen()->get_name();
    problem = LeftOver(app, chosen(), commands);
    if (problem.empty() && options->command == "help" && !topic.empty() &&
        commands.count(topic) == 0) {
      problem = UnknownCommand(topic, commands);
    } else if (problem.empty() && options->command == "help") {
      // The program's own help, not the help command's (the command chosen).
      printed = topic.empty()
                    ? app.get_formatter()->make_help(&app, kProgram, CLI::AppFormatMode::Normal)
                    : commands.at(topic)->help(kProgram);
    } else if (problem.empty() && options->session.verbose && options->quiet) {
      problem = "give -v or -q, not both";
    } else if (problem.empty()) {
      SetUpReport(JsonReport(), false, options->quiet);  // -q: no notes from settling either
      Settle(g, options, &problem);
    }
  } catch (const CLI::CallForHelp&) {
    printed = app.help();
  } catch (const CLI::CallForVersion& version) {
    printed = std::string(version.what()) + "\n";
    if (JsonReport()) {
      Report()["program"] = kProgram;
      Report()["product_version"] = ProductVersion();
      Report()["source_version"] = SourceVersion();
      printed.clear();
    }
  } catch (const CLI::ParseError& error) {
    // A mistyped option or command is the likelier cause of what follows from it.
    const std::string what = error.what();
    const std::size_t required = what.rfind(" is required");
    problem = LeftOver(app, chosen(), commands);
    problem = !problem.empty() ? problem
              : chosen() == nullptr
                  ? "give a command (" + std::string(kProgram) + " help lists them)"
              : required != std::string::npos && required + 12 == what.size()
                  ? chosen()->get_name() + " needs its " + what.substr(0, required)
                  : what;
  }
  if (!problem.empty()) {
    const std::string command = chosen() != nullptr && chosen() != help ? chosen()->get_name() : "";
    *status = UsageError(problem, command);
    return false;
  }
  std::fputs(printed.c_str(), stdout);
  *status = kExitOk;
  return printed.empty() && !Report().contains("product_version");
}

}  // namespace host
