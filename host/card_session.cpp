// The card through the module: see card_session.h.
#include "host/card_session.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "host/stream_stats.h"

#ifndef _WIN32
#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <climits>
#endif

namespace {

constexpr char kModuleFile[] = "Morvalind.dev";
constexpr char kCardLibrary[] = "ttlcdacc.dll";

constexpr std::size_t kQueueLimit = 16u << 20;  // about 3 s of a 38 Mbit/s stream

// Set once the module has shown a message box (it then said why it failed).
bool module_spoke = false;

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

std::string Bar(std::uint8_t figure) {
  const int filled = (Percent(figure) + 5) / 10;
  return "[" + std::string(static_cast<std::size_t>(filled), '#') +
         std::string(static_cast<std::size_t>(10 - filled), '.') + "]";
}

}  // namespace

// ---- Loading the module and finding the card library it loaded.

std::string ModulePath(const Arguments& arguments) {
  const std::string* given = Find(arguments, "--module");
  return given != nullptr ? *given : ProgramFolder() + kModuleFile;
}

// For now, until the program chooses the card library with an option of its
// own: MORVALIND_CARD_LIBRARY names a card library (such as the Linux DVB one,
// bin/linuxdvb/ttlcdacc.dll) to load before the module, whose LoadLibraryA
// then takes the library already loaded under the vendor's name.
namespace {

bool LoadChosenCardLibrary() {
#ifndef _WIN32
  const char* path = std::getenv("MORVALIND_CARD_LIBRARY");
  if (path != nullptr && *path != '\0' && dlopen(path, RTLD_NOW) == nullptr) {
    const char* reason = dlerror();
    Fail(kExitModule, std::string("the card library ") + path + " cannot be loaded" +
                          (reason != nullptr ? std::string(": ") + reason : std::string()));
    return false;
  }
#endif
  return true;
}

}  // namespace

bool LoadModule(const Arguments& arguments, Module* module) {
  if (!LoadChosenCardLibrary()) {
    return false;
  }
  if (module->Load(ModulePath(arguments)) != LoadStatus::kOk) {
    Fail(kExitModule, module->error());
    return false;
  }
  return true;
}

void ReportModuleMessage(const ShownMessageBox& box) {
  module_spoke = true;
  std::fflush(stdout);
  std::fprintf(stderr, "%s: the module says [%s] %s\n", kProgram, box.caption.c_str(),
               box.text.c_str());
}

CardLibrary FindCardLibrary() {
  CardLibrary library;
#ifdef _WIN32
  const HMODULE handle = GetModuleHandleA(kCardLibrary);
  if (handle == nullptr) {
    return library;
  }
  char path[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameA(handle, path, sizeof path);
  library.path.assign(path, length < sizeof path ? length : 0);
  library.lineup_entry = AsFunction<LineupEntryFunction>(GetProcAddress(handle, "SimLineupEntry"));
  library.satellite_name =
      AsFunction<SatelliteNameFunction>(GetProcAddress(handle, "SimSatelliteName"));
#else
  // The module's loader takes the library from beside this program.
  void* handle = dlopen((ProgramFolder() + kCardLibrary).c_str(), RTLD_LAZY | RTLD_NOLOAD);
  if (handle == nullptr) {
    handle = dlopen(kCardLibrary, RTLD_LAZY | RTLD_NOLOAD);
  }
  if (handle == nullptr) {
    return library;
  }
  link_map* map = nullptr;
  if (dlinfo(handle, RTLD_DI_LINKMAP, &map) == 0 && map != nullptr && map->l_name != nullptr) {
    library.path = map->l_name;
  }
  library.lineup_entry = AsFunction<LineupEntryFunction>(dlsym(handle, "SimLineupEntry"));
  library.satellite_name = AsFunction<SatelliteNameFunction>(dlsym(handle, "SimSatelliteName"));
  dlclose(handle);  // the module keeps it loaded
#endif
  return library;
}

// ---- Packets from the capture thread to the writer.

PacketQueue packet_queue;

std::int32_t MV_STDCALL ReceivePacket(const std::uint8_t* packet, std::int32_t length) {
  if (packet == nullptr || length != static_cast<std::int32_t>(kTsPacketSize)) {
    ++packet_queue.misshaped;
    return 0;
  }
  ++packet_queue.received;
  std::lock_guard<std::mutex> hold(packet_queue.mutex);
  if (packet_queue.accepting) {
    if (packet_queue.pending.size() + kTsPacketSize > kQueueLimit) {
      ++packet_queue.dropped;
    } else {
      packet_queue.pending.insert(packet_queue.pending.end(), packet, packet + kTsPacketSize);
    }
  }
  return 0;
}

// ---- The card through the module's entries.

CardSession::CardSession(const Arguments& arguments) {
  if (!LoadModule(arguments, &module_)) {
    status_ = kExitModule;
    return;
  }
  module_.entries().set_callback(ReceivePacket);
  const std::int32_t opened = module_.entries().open();
  if (opened != kResultOk) {
    if (!module_spoke) {
      Fail(kExitCard, "the card did not open (DeviceOpen returned " + std::to_string(opened) + ")");
    }
    status_ = kExitCard;
    return;
  }
  open_ = true;
  library_ = FindCardLibrary();
}

std::int32_t CardSession::Close() {
  if (!open_) {
    return kResultOk;
  }
  open_ = false;
  return module_.entries().close();
}

std::int32_t SendDiseqc(const DeviceInterface& entries, const std::vector<std::uint8_t>& message,
                        int mode) {
  // The record holds at least 8 bytes and at least 5 + length.
  std::vector<std::uint8_t> record(std::max<std::size_t>(8, 5 + message.size()), 0);
  record[4] = static_cast<std::uint8_t>(message.size());
  std::copy(message.begin(), message.end(), record.begin() + 5);
  return entries.send_diseqc(reinterpret_cast<DiseqcRecord*>(record.data()),
                             static_cast<std::uint32_t>(mode));
}

// ---- The signal.

SignalReading ReadSignal(const DeviceInterface& entries) {
  SignalReading reading;
  reading.result = entries.get_signal(&reading.record, &reading.tuning);
  return reading;
}

int Percent(std::uint8_t figure) { return figure > 100 ? 100 : figure; }

std::string LockWords(const SignalReading& reading) {
  if (reading.result != kResultOk) {
    return "no answer";
  }
  return reading.record.locked != 0 ? "Lock" : "No lock";
}

std::string SignalLine(const SignalReading& reading, bool bars) {
  char text[128];
  std::snprintf(text, sizeof text, "%-7s  Signal %3d%%%s%s  Quality %3d%%%s%s",
                LockWords(reading).c_str(), Percent(reading.record.strength), bars ? " " : "",
                bars ? Bar(reading.record.strength).c_str() : "", Percent(reading.record.quality),
                bars ? " " : "", bars ? Bar(reading.record.quality).c_str() : "");
  return text;
}

JsonFields SignalJson(const SignalReading& reading) {
  return {{"result", JsonNumber(reading.result)},
          {"locked", JsonBool(reading.result == kResultOk && reading.record.locked != 0)},
          {"strength", JsonNumber(int{reading.record.strength})},
          {"quality", JsonNumber(int{reading.record.quality})}};
}
