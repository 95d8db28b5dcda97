// The card through the module: see session.h.
#include "host/session.h"

#include "host/packet_ring.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <climits>
#endif

namespace {

constexpr char kModuleFile[] = "Morvalind.dev";

// Set once the module has shown a message box (it then said why it failed).
bool module_spoke = false;

// The folder this program was started from, with its separator at the end.
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

// Found by name among the loaded libraries.
CardLibrary FindCardLibrary() {
  constexpr char kCardLibrary[] = "ttlcdacc.dll";
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

}  // namespace

std::string ModulePath(const SessionOptions& options) {
  return !options.module.empty() ? options.module : ProgramFolder() + kModuleFile;
}

bool LoadModule(const std::string& path, Module* module) {
  if (module->Load(path) != LoadStatus::kOk) {
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

Session::Session(const SessionOptions& options) : module_path_(ModulePath(options)) {
  if (!LoadModule(module_path_, &module_)) {
    return;
  }
  module_.entries().set_callback(PacketCallback());
  open_result_ = module_.entries().open();
  if (open_result_ != kResultOk) {
    status_ = kExitCard;
    const std::string problem =
        "the card did not open (DeviceOpen returned " + std::to_string(open_result_) + ")";
    if (!module_spoke) {
      Fail(kExitCard, problem);
    } else if (JsonReport()) {
      Report()["error"] = problem;
    }
    return;
  }
  open_ = true;
  status_ = kExitOk;
  library_ = FindCardLibrary();
}

std::int32_t Session::Close() {
  if (open_) {
    open_ = false;
    close_result_ = module_.entries().close();
  }
  return close_result_;
}

Json CloseJson(std::int32_t result) {
  return {{"result", result}, {"closed", result == kResultOk}};
}

void SayClose(std::int32_t result) {
  Say("DeviceClose       %d (%s)\n", static_cast<int>(result),
      result == kResultOk ? "closed" : "failed");
}

void ReportSession(const Session& session) {
  Report()["module"] = session.module_path();
  Report()["card_library"] = session.library().path;
  Say("Card library      %s\n", session.library().path.c_str());
}

Json DescriptorJson(const DeviceInterfaceInfo& info) {
  return {{"device_name", FieldText(info.device_name)},
          {"file_version", PackedVersion(info.file_version)},
          {"product_version", PackedVersion(info.product_version)},
          {"author", FieldText(info.author)},
          {"word_520", info.word_520},
          {"word_524", info.word_524}};
}
