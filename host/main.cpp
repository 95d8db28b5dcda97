// morvalind-host: loads a device module the way the host application does and
// lets a person drive the card from the command line. Each subcommand is one
// function and one row of the command table; `help` is built from that table.
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "host/message_boxes.h"
#include "host/module.h"
#include "host/pe_file.h"

#ifndef _WIN32
#include <unistd.h>

#include <climits>

#include "platform/testing.h"
#endif

namespace {

constexpr char kProgram[] = "morvalind-host";
constexpr char kModuleFile[] = "Morvalind.dev";

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;  // the card misbehaved after opening
constexpr int kExitUsage = 2;
constexpr int kExitModule = 3;
constexpr int kExitCard = 4;

struct Option {
  const char* name;
  const char* argument;  // nullptr for an option that takes no value
  const char* help;
};

using Arguments = std::map<std::string, std::string>;

struct Command {
  const char* name;
  const char* summary;
  std::vector<Option> options;
  const char* details;  // printed by `help COMMAND`, examples included
  int (*run)(const Arguments& arguments);
};

const Option kModuleOption{"--module", "PATH",
                           "the module to load (default: Morvalind.dev beside this program)"};

std::string ProgramFolder() {
#ifdef _WIN32
  char path[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
  const std::string program(path, length < sizeof path ? length : 0);
  const std::size_t slash = program.find_last_of("\\/");
#else
  char path[PATH_MAX] = {};
  const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  const std::string program(path, length > 0 ? static_cast<std::size_t>(length) : 0);
  const std::size_t slash = program.rfind('/');
#endif
  return slash == std::string::npos ? std::string() : program.substr(0, slash + 1);
}

std::string ModulePath(const Arguments& arguments) {
  const auto given = arguments.find("--module");
  return given != arguments.end() ? given->second : ProgramFolder() + kModuleFile;
}

// Loads the module named by the arguments; on failure says why on stderr.
bool LoadModule(const Arguments& arguments, Module* module) {
  if (module->Load(ModulePath(arguments)) != LoadStatus::kOk) {
    std::fflush(stdout);
    std::fprintf(stderr, "%s: %s\n", kProgram, module->error().c_str());
    return false;
  }
  return true;
}

// A console program prints the module's message boxes on stderr and answers
// OK at once, so that a script never waits on a window (under Wine there is
// often no one to see it).
void ReportModuleMessage(const ShownMessageBox& box) {
  std::fflush(stdout);
  std::fprintf(stderr, "%s: the module says [%s] %s\n", kProgram, box.caption.c_str(),
               box.text.c_str());
}

std::atomic<std::uint64_t> packets_received{0};
std::atomic<std::uint64_t> packets_misshaped{0};

std::int32_t MV_STDCALL CountPacket(const std::uint8_t* packet, std::int32_t length) {
  if (packet == nullptr || length != 188) {
    ++packets_misshaped;
  }
  ++packets_received;
  return 0;
}

const char* OperatingSystemName(std::uint32_t file_os) {
  switch (file_os) {
    case 0x4:
      return "32-bit Windows";
    case 0x40004:
      return "Windows NT, 32-bit";
    default:
      return "other";
  }
}

const char* FileTypeName(std::uint32_t file_type) {
  switch (file_type) {
    case 1:
      return "application";
    case 2:
      return "DLL";
    case 3:
      return "driver";
    default:
      return "other";
  }
}

void PrintPeDetails(const std::string& path, const Module& module) {
  PeFile pe;
  std::string error;
  if (!ReadPeFile(path, &pe, &error)) {
    std::printf("Version resource  unreadable: %s\n", error.c_str());
    return;
  }
  const PeVersionResource& version = pe.version;
  if (!version.present) {
    std::printf("Version resource  none\n");
  } else {
    std::printf("Version resource\n");
    for (const PeStringTable& table : version.string_tables) {
      std::printf("  String table %s\n", table.block.c_str());
      for (const auto& entry : table.strings) {
        std::printf("    %-18s %s\n", entry.first.c_str(), entry.second.c_str());
      }
    }
    for (const std::uint32_t translation : version.translations) {
      std::printf("  Translation        language 0x%04X, code page %u\n",
                  static_cast<unsigned>(translation & 0xFFFF),
                  static_cast<unsigned>(translation >> 16));
    }
    std::printf("  File version       %s\n", DottedVersion(version.file_version).c_str());
    std::printf("  Product version    %s\n", DottedVersion(version.product_version).c_str());
    std::printf("  Operating system   0x%X (%s)\n", static_cast<unsigned>(version.file_os),
                OperatingSystemName(version.file_os));
    std::printf("  File type          %u (%s)\n", static_cast<unsigned>(version.file_type),
                FileTypeName(version.file_type));
    // The descriptor's version words repeat the resource's versions.
    const std::string descriptor_file = PackedVersion(module.info().file_version);
    const std::string descriptor_product = PackedVersion(module.info().product_version);
    if (descriptor_file != DottedVersion(version.file_version) ||
        descriptor_product != DottedVersion(version.product_version)) {
      std::printf("  Note: the descriptor says %s / %s, the resource %s / %s\n",
                  descriptor_file.c_str(), descriptor_product.c_str(),
                  DottedVersion(version.file_version).c_str(),
                  DottedVersion(version.product_version).c_str());
    }
  }
  std::printf("Exports           directory name %s\n", pe.export_name.c_str());
  for (const PeExport& entry : pe.exports) {
    std::printf("  @%-4u %s\n", static_cast<unsigned>(entry.ordinal),
                entry.name.empty() ? "(by ordinal only)" : entry.name.c_str());
  }
  std::printf("Imports          ");
  for (const std::string& name : pe.imports) {
    std::printf(" %s", name.c_str());
  }
  std::printf("\n");
}

int RunInfo(const Arguments& arguments) {
  Module module;
  if (!LoadModule(arguments, &module)) {
    return kExitModule;
  }
  const std::string path = ModulePath(arguments);
  const DeviceInterfaceInfo& info = module.info();
  std::printf("Module            %s\n", path.c_str());
  std::printf("Device            %s\n", FieldText(info.device_name).c_str());
  std::printf("File version      %s\n", PackedVersion(info.file_version).c_str());
  std::printf("Product version   %s\n", PackedVersion(info.product_version).c_str());
  std::printf("Author            %s\n", FieldText(info.author).c_str());
  std::printf("Word at 520       %u\n", static_cast<unsigned>(info.word_520));
  std::printf("Word at 524       %u\n", static_cast<unsigned>(info.word_524));
  switch (ProbeModuleFormat(path)) {
    case ModuleFormat::kPe:
      PrintPeDetails(path, module);
      break;
    case ModuleFormat::kElf:
      std::printf(
          "Version resource  only in the Windows build (this module is a Linux shared object)\n");
      break;
    default:
      break;
  }
  return kExitOk;
}

int RunOpen(const Arguments& arguments) {
  Module module;
  if (!LoadModule(arguments, &module)) {
    return kExitModule;
  }
  const DeviceInterface& entries = module.entries();
  std::printf("Module            %s\n", ModulePath(arguments).c_str());
  entries.set_callback(CountPacket);

  const std::int32_t opened = entries.open();
  std::printf("DeviceOpen        %d (%s)\n", static_cast<int>(opened),
              opened == kResultOk ? "opened" : "failed");
  if (opened != kResultOk) {
    return kExitCard;
  }
  const std::int32_t closed = entries.close();
  std::printf("DeviceClose       %d (%s)\n", static_cast<int>(closed),
              closed == kResultOk ? "closed" : "failed");
  std::printf("Packets           %llu", static_cast<unsigned long long>(packets_received.load()));
  if (packets_misshaped > 0) {
    std::printf(" (%llu not 188 bytes)", static_cast<unsigned long long>(packets_misshaped.load()));
  }
  std::printf("\n");
  return closed == kResultOk ? kExitOk : kExitFailure;
}

const std::vector<Command>& Commands() {
  static const std::vector<Command> commands = {
      {"info",
       "show the module's descriptor, version resource and exports",
       {kModuleOption},
       "Loads the module, asks it for its descriptor and entry table, and prints the\n"
       "descriptor: device name, file and product version, author, and the words at\n"
       "offsets 520 and 524. For a Windows module it also prints the version resource's\n"
       "strings and fixed versions, the export table with ordinals, and the imported\n"
       "libraries. The card is not touched.\n"
       "\n"
       "Examples:\n"
       "  morvalind-host info\n"
       "  morvalind-host info --module /path/to/Morvalind.dev\n",
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
               "Exit status: 0 done; 1 the card failed after opening; 2 bad command line;\n"
               "3 the module cannot be loaded or lacks its exports; 4 the card did not open.\n"
               "\n"
               "Examples:\n"
               "  %s info\n"
               "  %s open --module ./Morvalind.dev\n"
               "  %s help open\n",
               "help", "explain a command", kProgram, kProgram, kProgram);
}

std::string OptionSyntax(const Option& option) {
  return option.argument != nullptr ? std::string(option.name) + " " + option.argument
                                    : std::string(option.name);
}

void PrintCommandHelp(const Command& command) {
  std::printf("Usage: %s %s", kProgram, command.name);
  for (const Option& option : command.options) {
    std::printf(" [%s]", OptionSyntax(option).c_str());
  }
  std::printf("\n\n%s", command.details);
  std::printf("\nOptions:\n");
  for (const Option& option : command.options) {
    std::printf("  %-16s %s\n", OptionSyntax(option).c_str(), option.help);
  }
  std::printf("  %-16s %s\n", "-h, --help", "show this help");
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

// Reads the command's options ("--name VALUE" or "--name=VALUE"); returns
// false after reporting a usage error.
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
    const std::string name = word.substr(0, equals);
    const Option* option = nullptr;
    for (const Option& candidate : command.options) {
      if (name == candidate.name) {
        option = &candidate;
      }
    }
    std::string problem;
    if (option == nullptr) {
      problem = word.rfind('-', 0) == 0 ? "unknown option '" + name + "' for " + command.name
                                        : "unexpected argument '" + word + "'";
    } else if (option->argument == nullptr) {
      if (equals != std::string::npos) {
        problem = name + " takes no value";
      }
      (*arguments)[name] = "";
    } else {
      const bool attached = equals != std::string::npos;
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
