// The card library's choice, loading and lookup: see card_library.h.
#include "host/card_library.h"

#include <cstdlib>
#include <filesystem>

#include "abi/card_problem.h"
#include "host/linux_card.h"
#include "host/program.h"
#include "host/system.h"
#include "loader/module.h"
#include "satipcard/settings.h"

namespace host {

namespace {

constexpr char kSeparator = std::filesystem::path::preferred_separator;

CardLibrary in_use;  // the one FindCardLibrary found last

bool IsFile(const std::string& path) {
  std::error_code unknown;
  return std::filesystem::is_regular_file(path, unknown);
}

}  // namespace

bool ParseCardChoice(const std::string& text, CardChoice* choice, std::string* error) {
  const bool linux_word = text == "linux" || text.rfind("linux:", 0) == 0;
  const bool remote = text.rfind("remote:", 0) == 0;
  *choice = CardChoice();
  if (text.empty()) {
    *error = "give a card library: linux, remote:HOST:PORT, satip[:HOST[:PORT]] or a path";
    return false;
  }
  if (text == "satip" || text.rfind("satip:", 0) == 0) {
    choice->kind = CardKind::kSatip;
    satipcard::Server server;
    std::string reason;
    if (text != "satip" && !satipcard::ParseServer(text.substr(6), &server, &reason)) {
      *error = text + ": give satip or satip:HOST[:PORT] (" + reason + ")";
      return false;
    }
    choice->selector = text == "satip" ? std::string() : satipcard::ServerText(server);
    return true;
  }
  if ((linux_word || remote) && !kLinuxCards) {
    *error = text +
             ": the Linux DVB card library is for the Linux build of this program; "
             "here give the path of a card library";
    return false;
  }
  if (linux_word || remote) {
    choice->kind = CardKind::kLinux;
    if (text == "linux") {
      return true;
    }
    if (!LinuxCardSelector(remote ? text : text.substr(6), &choice->selector)) {
      *error = text + ": give linux, linux:adapterN, remote:HOST:PORT or remote:HOST:PORT:adapterN";
      return false;
    }
    return true;
  }
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
    case CardKind::kSatip:
      return ProgramFolder() + "satipcard" + kSeparator + kCardLibraryName;
    case CardKind::kDefault:
      break;
  }
  const std::string stand_in = ProgramFolder() + "virtual-card" + kSeparator + kCardLibraryName;
  return !IsFile(ProgramFolder() + kCardLibraryName) && IsFile(stand_in) ? stand_in : std::string();
}

bool LoadCardLibrary(const CardChoice& choice, std::string* problem) {
  if (choice.kind == CardKind::kLinux && !choice.selector.empty()) {
    ChooseLinuxAdapter(choice.selector);
  }
  if (choice.kind == CardKind::kSatip && !choice.selector.empty()) {
    SetEnvironment(satipcard::kServerVariable, choice.selector);
  }
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
    *problem = "the card library " + path +
               (kWindowsSystem ? " is not named " : " does not have ") + kCardLibraryName +
               (kWindowsSystem ? "" : " as its SONAME") + ", the name the module loads";
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
    library.read_figures = AsFunction<ReadFiguresFunction>(find("CardReadFigures"));
    library.last_problem = AsFunction<LastProblemFunction>(find(CARD_LAST_PROBLEM_ENTRY));
    FindLinuxCardEntries(handle, &library);
  }
  in_use = library;
  return library;
}

const CardLibrary& CardLibraryInUse() { return in_use; }

std::string CardLibraryProblem(const CardLibrary& library) {
  char text[512] = {};
  return library.last_problem != nullptr && library.last_problem(text, sizeof text) > 0
             ? std::string(text)
             : std::string();
}

}  // namespace host
