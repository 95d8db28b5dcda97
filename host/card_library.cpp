// The card library's choice, loading and figures: see card_library.h.
#include "host/card_library.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "host/module.h"
#include "host/program.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#include <link.h>

#include "linuxdvb/figures.h"
#include "linuxdvb/selector.h"
#endif

namespace {

#ifdef _WIN32
constexpr char kSeparator = '\\';
#else
constexpr char kSeparator = '/';
#endif

// The figures of the library FindCardLibrary found last: the one in use.
ReadFiguresFunction figures_in_use = nullptr;

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
#ifdef _WIN32
  const bool named = GetModuleHandleA(kCardLibraryName) == static_cast<HMODULE>(handle);
#else
  void* by_name = dlopen(kCardLibraryName, RTLD_LAZY | RTLD_NOLOAD);
  const bool named = by_name == handle;
  if (by_name != nullptr) {
    dlclose(by_name);
  }
#endif
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
#ifdef _WIN32
  const HMODULE handle = GetModuleHandleA(kCardLibraryName);
  char path[MAX_PATH] = {};
  const DWORD length = handle != nullptr ? GetModuleFileNameA(handle, path, sizeof path) : 0;
  library.path.assign(path, length < sizeof path ? length : 0);
  const auto find = [handle](const char* name) { return GetProcAddress(handle, name); };
#else
  // As the module's loader takes it: one known by that name first (a chosen
  // library, or one whose SONAME it is), then beside this program, then in
  // the working folder.
  void* handle = nullptr;
  for (const std::string& name : {std::string(kCardLibraryName), ProgramFolder() + kCardLibraryName,
                                  std::string("./") + kCardLibraryName}) {
    handle = handle != nullptr ? handle : dlopen(name.c_str(), RTLD_LAZY | RTLD_NOLOAD);
  }
  link_map* map = nullptr;
  if (handle != nullptr && dlinfo(handle, RTLD_DI_LINKMAP, &map) == 0 && map->l_name != nullptr) {
    library.path = map->l_name;
  }
  const auto find = [handle](const char* name) { return dlsym(handle, name); };
#endif
  if (handle != nullptr) {
    library.lineup_entry = AsFunction<LineupEntryFunction>(find("SimLineupEntry"));
    library.satellite_name = AsFunction<SatelliteNameFunction>(find("SimSatelliteName"));
#ifndef _WIN32
    library.read_figures = AsFunction<ReadFiguresFunction>(find("LinuxDvbReadFigures"));
    library.list_adapters = AsFunction<ListAdaptersFunction>(find("LinuxDvbListAdapters"));
    dlclose(handle);  // the module keeps it loaded
#endif
  }
  figures_in_use = library.read_figures;
  return library;
}

bool ReadCardFigures(const CardLibrary& library, CardFigures* figures) {
#ifdef _WIN32
  (void)library;
  (void)figures;
  return false;
#else
  LinuxDvbFigures read{};
  read.size = sizeof read;
  if (library.read_figures == nullptr || library.read_figures(&read) != 0) {
    return false;
  }
  const auto measure = [](std::int32_t scale, double value, std::optional<double>* decibel,
                          std::optional<double>* relative) {
    if (scale == LINUXDVB_SCALE_DECIBEL) {
      *decibel = value;
    } else if (scale == LINUXDVB_SCALE_RELATIVE) {
      *relative = value;
    }
  };
  CardFigures& out = *figures;
  out = CardFigures();
  out.device = read.device;
  out.frontend = read.frontend;
  out.locked = read.locked != 0;
  measure(read.strength_scale, read.strength, &out.level_dbm, &out.level_relative);
  measure(read.cnr_scale, read.cnr, &out.cnr_db, &out.cnr_relative);
  if (read.ber_source != LINUXDVB_BER_NONE) {
    out.bit_error_rate = read.bit_error_rate;
    out.ber_source = read.ber_source == LINUXDVB_BER_COUNTERS ? "counters" : "v3";
  }
  out.packets = read.packets;
  out.overflows = read.overflows;
  out.skipped_bytes = read.skipped_bytes;
  out.lock_losses = read.lock_losses;
  out.stream_errors = read.stream_errors;
  return true;
#endif
}

Json CardFiguresJson(const CardFigures& figures) {
  const auto figure = [](const std::optional<double>& value) {
    return value.has_value() ? Json(*value) : Json();
  };
  return {{"device", figures.device},
          {"frontend", figures.frontend},
          {"locked", figures.locked},
          {"level_dbm", figure(figures.level_dbm)},
          {"level_relative", figure(figures.level_relative)},
          {"cnr_db", figure(figures.cnr_db)},
          {"cnr_relative", figure(figures.cnr_relative)},
          {"bit_error_rate", figure(figures.bit_error_rate)},
          {"ber_source", *figures.ber_source != '\0' ? Json(figures.ber_source) : Json()},
          {"packets", figures.packets},
          {"overflows", figures.overflows},
          {"skipped_bytes", figures.skipped_bytes},
          {"lock_losses", figures.lock_losses},
          {"stream_errors", figures.stream_errors}};
}

std::string CardSignalText(const CardFigures& figures) {
  const auto relative = [](double value) { return Format("%.0f%%", value * 100 / 65535); };
  const std::string level = figures.level_dbm.has_value() ? Format("%.1f dBm", *figures.level_dbm)
                            : figures.level_relative.has_value() ? relative(*figures.level_relative)
                                                                 : "no level";
  const std::string cnr = figures.cnr_db.has_value() ? Format("C/N %.1f dB", *figures.cnr_db)
                          : figures.cnr_relative.has_value()
                              ? "C/N " + relative(*figures.cnr_relative)
                              : "no C/N";
  const std::string ber = figures.bit_error_rate.has_value()
                              ? Format("BER %.1e", *figures.bit_error_rate)
                              : "no BER yet";
  return level + "  " + cnr + "  " + ber;
}

void SayCardFigures(const CardFigures& figures) {
  const auto count = [](std::uint64_t value) { return static_cast<unsigned long long>(value); };
  Say("Card figures      %s; %llu packets, %llu overflows, %llu lock losses, %llu stream errors"
      " (%s)\n",
      CardSignalText(figures).c_str(), count(figures.packets), count(figures.overflows),
      count(figures.lock_losses), count(figures.stream_errors), figures.device.c_str());
}

std::uint64_t CardStreamErrors() {
  CardLibrary library;
  library.read_figures = figures_in_use;
  CardFigures figures;
  return ReadCardFigures(library, &figures) ? figures.stream_errors : 0;
}

bool ListAdapters(const CardLibrary& library, std::vector<AdapterEntry>* adapters) {
  if (library.list_adapters == nullptr) {
    return false;
  }
  std::string text(4096, '\0');
  int length = library.list_adapters(&text[0], static_cast<int>(text.size()));
  if (length >= static_cast<int>(text.size())) {  // a longer list: once more, all of it
    text.resize(static_cast<std::size_t>(length) + 1);
    length = library.list_adapters(&text[0], static_cast<int>(text.size()));
  }
  if (length < 0) {
    return false;
  }
  text.resize(std::min(static_cast<std::size_t>(length), text.size() - 1));
  // "adapter0 frontend0: NAME (DVBS DVBS2)", or without ": ..." when it could not be described.
  for (std::size_t start = 0; start < text.size();) {
    std::size_t end = text.find('\n', start);
    end = end == std::string::npos ? text.size() : end;
    const std::string line = text.substr(start, end - start);
    start = end + 1;
    AdapterEntry entry;
    if (std::sscanf(line.c_str(), "adapter%d frontend%d", &entry.adapter, &entry.frontend) != 2) {
      continue;
    }
    const std::size_t colon = line.find(": ");
    const std::size_t open = line.rfind(" (");
    if (colon != std::string::npos && open != std::string::npos && open > colon &&
        line.back() == ')') {
      entry.name = line.substr(colon + 2, open - colon - 2);
      const std::string systems = line.substr(open + 2, line.size() - open - 3);
      for (std::size_t at = 0; at < systems.size();) {
        std::size_t space = systems.find(' ', at);
        space = space == std::string::npos ? systems.size() : space;
        if (space > at) {
          entry.systems.push_back(systems.substr(at, space - at));
        }
        at = space + 1;
      }
    }
    adapters->push_back(entry);
  }
  return true;
}
