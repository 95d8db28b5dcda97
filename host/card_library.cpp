// The card library's choice, loading and lookup: see card_library.h.
#include "host/card_library.h"

#include <cstdlib>
#include <filesystem>

#include "host/program.h"
#include "loader/module.h"

#ifndef _WIN32
#include "linuxdvb/selector.h"
#endif

namespace {

#ifdef _WIN32
constexpr char kSeparator = '\\';
#else
constexpr char kSeparator = '/';
#endif

CardLibrary in_use;  // the one FindCardLibrary found last

bool IsFile(const std::string& path) {
  std::error_code unknown;
  return std::filesystem::is_regular_file(path, unknown);
}

#ifndef _WIN32
// "adapter1" for "1" or "adapter1", "remote:HOST:PORT[:adapterN]" as it is,
// each checked the way the Linux library reads it.
bool Selector(const std::string& text, std::string* selector) {
  linuxdvb::DeviceSelector read;
  std::string error;
  if (!linuxdvb::ParseSelector(text.c_str(), &read, &error)) {
    return false;
  }
  *selector = read.server.empty() ? "adapter" + std::to_string(read.adapter) : text;
  return true;
}
#endif

}  // namespace

bool ParseCardChoice(const std::string& text, CardChoice* choice, std::string* error) {
  const bool linux_word = text == "linux" || text.rfind("linux:", 0) == 0;
  const bool remote = text.rfind("remote:", 0) == 0;
  *choice = CardChoice();
  if (text.empty()) {
    *error = "give a card library: linux, remote:HOST:PORT or a path";
    return false;
  }
#ifdef _WIN32
  if (linux_word || remote) {
    *error = text +
             ": the Linux DVB card library is for the Linux build of this program; "
             "here give the path of a card library";
    return false;
  }
#else
  if (linux_word || remote) {
    choice->kind = CardKind::kLinux;
    if (text == "linux") {
      return true;
    }
    if (!Selector(remote ? text : text.substr(6), &choice->selector)) {
      *error = text + ": give linux, linux:adapterN, remote:HOST:PORT or remote:HOST:PORT:adapterN";
      return false;
    }
    return true;
  }
#endif
  choice->kind = CardKind::kPath;
  choice->path = text;
  return true;
}

std::string CardLibraryPath(const CardChoice& choice) {
  switch (choice.kind) {
    case CardKind::kPath:
      return choice.path;
    case CardKind::kLinux:
      return ProgramFolder() + "linuxdvb" + kSeparator + kCardLibraryName;
    case CardKind::kDefault:
      break;
  }
  const std::string stand_in = ProgramFolder() + "virtual-card" + kSeparator + kCardLibraryName;
  return !IsFile(ProgramFolder() + kCardLibraryName) && IsFile(stand_in) ? stand_in : std::string();
}

bool LoadCardLibrary(const CardChoice& choice, std::string* problem) {
#ifndef _WIN32
  if (!choice.selector.empty()) {
    setenv(linuxdvb::kSelectorVariable, choice.selector.c_str(), 1);
  }
#endif
  const std::string path = CardLibraryPath(choice);
  if (path.empty()) {
    return true;
  }
  std::error_code unknown;
  const std::filesystem::file_type type = std::filesystem::status(path, unknown).type();
  if (type == std::filesystem::file_type::not_found) {
    *problem = "no card library at " + path;
    return false;
  }
  if (type == std::filesystem::file_type::directory) {
    *problem = path + " is a folder, not a card library";
    return false;
  }
  std::string error;
  void* handle = OpenLibrary(path, &error);
  if (handle == nullptr) {
    const std::string loading = "cannot load ";
    *problem = error.rfind(loading, 0) == 0
                   ? "cannot load the card library " + error.substr(loading.size())
                   : error;
    return false;
  }
  // Kept loaded: the module's load of the vendor library's name takes it.
  const bool named = LoadedLibrary(kCardLibraryName) == handle;
  if (!named) {
    CloseLibrary(handle);
#ifdef _WIN32
    *problem = "the card library " + path + " is not named " + kCardLibraryName +
               ", the name the module loads";
#else
    *problem = "the card library " + path + " does not have " + kCardLibraryName +
               " as its SONAME, the name the module loads";
#endif
    return false;
  }
  return true;
}

CardLibrary FindCardLibrary() {
  CardLibrary library;
  // As the module's loader takes it: one known by that name first (a chosen
  // library, or one whose SONAME it is), then beside this program, then in
  // the working folder.
  void* handle = nullptr;
  for (const std::string& name : {std::string(kCardLibraryName), ProgramFolder() + kCardLibraryName,
                                  std::string("./") + kCardLibraryName}) {
    handle = handle != nullptr ? handle : LoadedLibrary(name);
  }
  if (handle != nullptr) {
    const auto find = [handle](const char* name) { return LibraryEntry(handle, name); };
    library.path = LibraryFile(handle);
    library.lineup_entry = AsFunction<LineupEntryFunction>(find("SimLineupEntry"));
    library.satellite_name = AsFunction<SatelliteNameFunction>(find("SimSatelliteName"));
#ifndef _WIN32
    library.read_figures = AsFunction<ReadFiguresFunction>(find("LinuxDvbReadFigures"));
    library.list_adapters = AsFunction<ListAdaptersFunction>(find("LinuxDvbListAdapters"));
#endif
  }
  in_use = library;
  return library;
}

const CardLibrary& CardLibraryInUse() { return in_use; }
