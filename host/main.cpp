// morvalind-host: loads a device module the way the host application does and
// lets a person drive the card from the command line. Each subcommand is one
// function and one row of the command table; `help` is built from that table.
// This file holds the table, the usage and help texts, the option parsing and
// main(); commands.h says which file holds each command.
#include <cstdio>
#include <initializer_list>
#include <string>
#include <vector>

#include "host/card_session.h"
#include "host/commands.h"
#include "host/message_boxes.h"
#include "host/options.h"
#include "host/program.h"

namespace {

constexpr char kExitStatusHelp[] =
    "Exit status: 0 done; 1 the card refused a request after opening; 2 bad command\n"
    "line; 3 the module cannot be loaded or lacks its exports; 4 the card did not\n"
    "open; 5 no lock on the transponder; 6 the output file cannot be written.\n";

struct Option {
  const char* name;
  const char* argument;  // nullptr for an option that takes no value
  const char* help;
};

struct Command {
  const char* name;
  const char* summary;
  std::vector<Option> options;
  const char* details;  // printed by `help COMMAND`, examples included
  int (*run)(const Arguments& arguments);
  const char* words = nullptr;  // what words that are not options stand for, if taken
};

const Option kModuleOption{"--module", "PATH",
                           "the module to load (default: Morvalind.dev beside this program)"};
const Option kJsonOption{"--json", nullptr, "print one JSON object instead of text"};
const std::vector<Option> kTuneOptions = {
    {"--freq", "MHZ", "transponder frequency on the dish, e.g. 11778"},
    {"--pol", "H|V", "polarisation: H or V (L = H, R = V)"},
    {"--sr", "KSYMS", "symbol rate in kSym/s, 1000..45000, e.g. 27500"},
    {"--fec", "N/M", "code rate 1/2 2/3 3/4 4/5 5/6 6/7 7/8 8/9, or auto (default)"},
    {"--lof", "MHZ", "LNB oscillator (default: universal LNB, 9750 or 10600)"},
    {"--tone", "on|off", "22 kHz tone (default: on in the universal LNB's high band)"},
    {"--inversion", "off|on|auto", "spectral inversion (default auto)"},
    {"--port", "N", "committed switch port 1..4 to select first"},
    {"--burst", "A|B", "tone burst to send first"},
};

std::vector<Option> OptionList(std::initializer_list<std::vector<Option>> groups) {
  std::vector<Option> all;
  for (const std::vector<Option>& group : groups) {
    all.insert(all.end(), group.begin(), group.end());
  }
  return all;
}

const std::vector<Command>& Commands() {
  static const std::vector<Command> commands = {
      {"info",
       "show the module's descriptor, version resource and exports",
       {kModuleOption, kJsonOption},
       "Loads the module, asks it for its descriptor and entry table, and prints the\n"
       "descriptor: device name, file and product version, author, and the words at\n"
       "offsets 520 and 524. For a Windows module it also prints the version resource's\n"
       "strings and fixed versions, the export table with ordinals, and the imported\n"
       "libraries. The card is not touched.\n"
       "\n"
       "Examples:\n"
       "  morvalind-host info\n"
       "  morvalind-host info --module /path/to/Morvalind.dev --json\n",
       RunInfo},
      {"open",
       "open the card through the module, then close it",
       {kModuleOption},
       "Loads the module, hands it a packet callback that counts packets, calls\n"
       "DeviceOpen and DeviceClose, and prints each result and the packet count.\n"
       "A failed open exits with status 4; the module's own message about it is\n"
       "printed on stderr instead of a message box.\n"
       "\n"
       "Examples:\n"
       "  morvalind-host open\n"
       "  morvalind-host open --module=./Morvalind.dev\n",
       RunOpen},
      {"tune", "tune a transponder and report lock and signal",
       OptionList({kTuneOptions, {kModuleOption, kJsonOption}}),
       "Opens the card, selects the dish with --port (a committed switch message,\n"
       "E0 10 38 Fx) and/or --burst when given, tunes the transponder, and prints\n"
       "whether it locked, how long that took, and the signal. The frequency is the\n"
       "one on the dish: for the universal LNB (the default) 10700..12750 MHz, which\n"
       "chooses the oscillator (9750 or 10600 MHz) and the 22 kHz tone. With --lof\n"
       "the frequency after the LNB must fall in 950..2150 MHz. No lock exits with 5.\n"
       "\n"
       "Examples:\n"
       "  morvalind-host tune --freq 11778 --pol V --sr 27500 --fec 3/4\n"
       "  morvalind-host tune --freq 11095 --pol H --sr 27500 --port 2\n"
       "  morvalind-host tune --freq 3880 --lof 5150 --pol R --sr 27500 --json\n",
       RunTune},
      {"signal", "show strength, quality and lock, once or refreshed",
       OptionList({{{"--watch", "SECONDS", "keep reading for this long, refreshed in place"}},
                   kTuneOptions,
                   {kModuleOption, kJsonOption}}),
       "Opens the card, tunes first when --freq is given (same options as tune),\n"
       "and prints strength and quality in percent with a bar, and the lock. With\n"
       "--watch the line is refreshed in place on a terminal (four times a second),\n"
       "or printed once a second when the output is not a terminal.\n"
       "\n"
       "Examples:\n"
       "  morvalind-host signal --freq 11778 --pol V --sr 27500\n"
       "  morvalind-host signal --freq 12344 --pol H --sr 29700 --watch 10\n",
       RunSignal},
      {"capture", "tune and write the transport stream to a file",
       OptionList({{{"--out", "FILE", "the .ts file to write (also -o)"},
                    {"--seconds", "N", "how long to capture (default 10)"}},
                   kTuneOptions,
                   {kModuleOption, kJsonOption}}),
       "Tunes as tune does, then writes whole 188-byte packets to the file for the\n"
       "given time, with a progress line (lock, signal, quality, packets and bit rate,\n"
       "continuity errors) refreshed in place on a terminal, a line a second\n"
       "otherwise. Ends with a summary: packets, bytes, bit rate, continuity errors,\n"
       "packets without a sync byte, time with no data, and the services and streams\n"
       "the PAT, PMTs and SDT announce. A file that cannot be written exits with 6.\n"
       "\n"
       "Examples:\n"
       "  morvalind-host capture -o pellam.ts --seconds 5 --freq 11778 --pol V --sr 27500\n"
       "  morvalind-host capture --out saffa.ts --freq 11095 --pol H --sr 27500 --port 2 --json\n",
       RunCapture},
      {"diseqc",
       "send a DiSEqC message, switch port, tone burst or positioner command",
       {{"--port", "N", "committed switch port 1..4 (E0 10 38 Fx)"},
        {"--pol", "H|V", "polarisation bit of the switch message (default V)"},
        {"--tone", "on|off", "band bit of the switch message (default off)"},
        {"--burst", "A|B", "send a tone burst first (or alone)"},
        {"--goto", "N", "positioner: go to stored position N (E0 31 6B nn)"},
        kModuleOption,
        kJsonOption},
       "Opens the card and sends one DiSEqC message: raw hex bytes, a committed\n"
       "switch port, or a positioner's stored position, optionally after a tone\n"
       "burst, and says whether the card sent it. A positioner command stops the\n"
       "stream until the next tune.\n"
       "\n"
       "Examples:\n"
       "  morvalind-host diseqc E0 10 38 F3\n"
       "  morvalind-host diseqc --port 2 --pol H\n"
       "  morvalind-host diseqc --burst B\n"
       "  morvalind-host diseqc --goto 3\n",
       RunDiseqc,
       "BYTES"},
      {"demo", "show the module at work on the stand-in card",
       OptionList({{{"--out", "FOLDER", "where to write the capture (default: a temp folder)"},
                    {"--seconds", "N", "how long to capture (default 3)"}},
                   kTuneOptions,
                   {kModuleOption, kJsonOption}}),
       "Loads the module and shows its descriptor, opens the card, reaches both\n"
       "satellites of the stand-in card's lineup through the switch and tunes each\n"
       "transponder (a table of lock, strength and quality), captures a few seconds\n"
       "of the transponder with the most services to morvalind-demo.ts with a\n"
       "progress line, prints what the stream holds, and closes the card. On a real\n"
       "card, which has no lineup to tell, give one transponder with the tune options.\n"
       "\n"
       "Examples:\n"
       "  morvalind-host demo\n"
       "  morvalind-host demo --out . --seconds 5\n"
       "  morvalind-host demo --freq 11778 --pol V --sr 27500 --port 1\n",
       RunDemo},
  };
  return commands;
}

const Command* FindCommand(const std::string& name) {
  for (const Command& command : Commands()) {
    if (name == command.name) {
      return &command;
    }
  }
  return nullptr;
}

void PrintUsage(std::FILE* out) {
  std::fprintf(out,
               "%s: drive a Morvalind.dev device module from the command line, the way the\n"
               "host application loads it (exports by ordinal and by name, entry table).\n"
               "\n"
               "Usage: %s COMMAND [OPTIONS]\n"
               "       %s help [COMMAND]\n"
               "\n"
               "Commands:\n",
               kProgram, kProgram, kProgram);
  for (const Command& command : Commands()) {
    std::fprintf(out, "  %-8s %s\n", command.name, command.summary);
  }
  std::fprintf(out,
               "  %-8s %s\n"
               "\n"
               "%s"
               "\n"
               "Examples:\n"
               "  %s demo\n"
               "  %s tune --freq 11778 --pol V --sr 27500 --fec 3/4\n"
               "  %s capture -o out.ts --seconds 5 --freq 11778 --pol V --sr 27500\n"
               "  %s help capture\n",
               "help", "explain a command", kExitStatusHelp, kProgram, kProgram, kProgram,
               kProgram);
}

std::string OptionSyntax(const Option& option) {
  return option.argument != nullptr ? std::string(option.name) + " " + option.argument
                                    : std::string(option.name);
}

void PrintCommandHelp(const Command& command) {
  std::printf("Usage: %s %s [OPTIONS]%s%s\n\n%s", kProgram, command.name,
              command.words != nullptr ? " " : "", command.words != nullptr ? command.words : "",
              command.details);
  std::printf("\nOptions:\n");
  for (const Option& option : command.options) {
    std::printf("  %-20s %s\n", OptionSyntax(option).c_str(), option.help);
  }
  std::printf("  %-20s %s\n\n%s", "-h, --help", "show this help", kExitStatusHelp);
}

int UsageError(const std::string& problem, const char* command) {
  std::fprintf(stderr, "%s: %s\n", kProgram, problem.c_str());
  if (command != nullptr) {
    std::fprintf(stderr, "Try '%s help %s'.\n", kProgram, command);
  } else {
    std::fprintf(stderr, "Try '%s --help'.\n", kProgram);
  }
  return kExitUsage;
}

// Reads the command's options ("--name VALUE" or "--name=VALUE"; -o for
// --out) and, for a command that takes them, its other words; returns false
// after reporting a usage error or printing help.
bool ParseOptions(const Command& command, const std::vector<std::string>& words,
                  Arguments* arguments, int* status) {
  for (std::size_t i = 0; i < words.size(); ++i) {
    const std::string& word = words[i];
    if (word == "-h" || word == "--help") {
      PrintCommandHelp(command);
      *status = kExitOk;
      return false;
    }
    const std::size_t equals = word.find('=');
    const std::string name = word == "-o" ? "--out" : word.substr(0, equals);
    const Option* option = nullptr;
    for (const Option& candidate : command.options) {
      if (name == candidate.name) {
        option = &candidate;
      }
    }
    std::string problem;
    if (option == nullptr && command.words != nullptr && word.rfind("--", 0) != 0) {
      std::string& taken = (*arguments)[kWordsKey];
      taken += (taken.empty() ? "" : " ") + word;
      continue;
    }
    if (option == nullptr) {
      problem = word.rfind('-', 0) == 0 ? "unknown option '" + name + "' for " + command.name
                                        : "unexpected argument '" + word + "'";
    } else if (arguments->count(name) != 0) {
      problem = name + " given twice";
    } else if (option->argument == nullptr) {
      if (equals != std::string::npos) {
        problem = name + " takes no value";
      }
      (*arguments)[name] = "";
    } else {
      const bool attached = equals != std::string::npos && word != "-o";
      const std::string value = attached               ? word.substr(equals + 1)
                                : i + 1 < words.size() ? words[++i]
                                                       : std::string();
      if (value.empty()) {
        problem = name + " needs a " + option->argument;
      }
      (*arguments)[name] = value;
    }
    if (!problem.empty()) {
      *status = UsageError(problem, command.name);
      return false;
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> words(argv + (argc > 0 ? 1 : 0), argv + argc);
  if (words.empty()) {
    return UsageError("missing command", nullptr);
  }
  const std::string& first = words[0];
  if (first == "-h" || first == "--help") {
    PrintUsage(stdout);
    return kExitOk;
  }
  if (first == "help") {
    if (words.size() == 1) {
      PrintUsage(stdout);
      return kExitOk;
    }
    const Command* command = FindCommand(words[1]);
    if (command == nullptr) {
      return UsageError("no command '" + words[1] + "'", nullptr);
    }
    if (words.size() > 2) {
      return UsageError("help takes one command", nullptr);
    }
    PrintCommandHelp(*command);
    return kExitOk;
  }
  const Command* command = FindCommand(first);
  if (command == nullptr) {
    return UsageError(first.rfind('-', 0) == 0 ? "unknown option '" + first + "'"
                                               : "unknown command '" + first + "'",
                      nullptr);
  }
  Arguments arguments;
  int status = kExitOk;
  if (!ParseOptions(*command, {words.begin() + 1, words.end()}, &arguments, &status)) {
    return status;
  }
  AnswerMessageBoxes(ReportModuleMessage);
  return command->run(arguments);
}
