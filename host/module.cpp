// Module loading over the system loader of each target.
#include "host/module.h"

#include <cstdio>
#include <cstring>

#include "host/system_error.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#include <sys/stat.h>
#endif

namespace {

struct ExportName {
  std::uint16_t ordinal;
  const char* name;
};
constexpr ExportName kGetInterface{1, "DeviceGetInterface"};
constexpr ExportName kGetInterfaceInfo{2, "DeviceGetInterfaceInfo"};

// What a module file is, judged by its first bytes.
enum class ModuleFormat { kPe, kElf, kOther };

ModuleFormat ProbeModuleFormat(const std::string& path) {
  unsigned char head[4] = {};
  std::FILE* file = std::fopen(path.c_str(), "rb");
  const std::size_t got = file != nullptr ? std::fread(head, 1, sizeof head, file) : 0;
  if (file != nullptr) {
    std::fclose(file);
  }
  if (got >= 2 && head[0] == 'M' && head[1] == 'Z') {
    return ModuleFormat::kPe;
  }
  return got == 4 && std::memcmp(head,
                                 "\x7F"
                                 "ELF",
                                 4) == 0
             ? ModuleFormat::kElf
             : ModuleFormat::kOther;
}

// Says what the file is when the loader refuses a module of the other target.
std::string WrongTargetHint(const std::string& path) {
  const ModuleFormat format = ProbeModuleFormat(path);
#ifdef _WIN32
  if (format == ModuleFormat::kElf) {
    return " (it is a Linux shared object; this program is the Windows build)";
  }
#else
  if (format == ModuleFormat::kPe) {
    return " (it is a Windows DLL; run the Windows build of this program under Wine)";
  }
#endif
  return format == ModuleFormat::kOther ? " (it is not a module file)" : "";
}

#ifdef _WIN32

// The system's text for a loader error, its "%1" filled in with the file.
std::string SystemMessage(DWORD code, const std::string& path) {
  std::string message = WindowsErrorText(code);
  for (std::size_t at = message.find("%1"); at != std::string::npos;
       at = message.find("%1", at + path.size())) {
    message.replace(at, 2, path);
  }
  return message;
}

#endif

}  // namespace

Module::~Module() { Unload(); }

void Module::Unload() {
  if (handle_ != nullptr) {
#ifdef _WIN32
    FreeLibrary(static_cast<HMODULE>(handle_));
#else
    dlclose(handle_);
#endif
  }
  handle_ = nullptr;
  get_interface_ = nullptr;
  get_interface_info_ = nullptr;
  info_ = DeviceInterfaceInfo{};
  entries_ = DeviceInterface{};
}

LoadStatus Module::Fail(LoadStatus status, const std::string& error) {
  Unload();
  error_ = error;
  return status;
}

LoadStatus Module::Load(const std::string& path) {
  Unload();
  error_.clear();

#ifdef _WIN32
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    return Fail(LoadStatus::kFileMissing, "no module file at " + path);
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return Fail(LoadStatus::kNotLoadable, path + " is a folder, not a module file");
  }
  // A relative path is taken from the working folder, never searched for.
  char full_path[MAX_PATH] = {};
  const DWORD length = GetFullPathNameA(path.c_str(), sizeof full_path, full_path, nullptr);
  if (length == 0 || length >= sizeof full_path) {
    return Fail(LoadStatus::kNotLoadable, "cannot resolve the path " + path);
  }
  // A refused module is reported here, not in a system dialog.
  const UINT error_mode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  handle_ = LoadLibraryA(full_path);
  const DWORD load_error = GetLastError();
  SetErrorMode(error_mode);
  if (handle_ == nullptr) {
    return Fail(
        LoadStatus::kNotLoadable,
        "cannot load " + path + ": " + SystemMessage(load_error, path) + WrongTargetHint(path));
  }
#else
  struct stat status {};
  if (stat(path.c_str(), &status) != 0) {
    return Fail(LoadStatus::kFileMissing, "no module file at " + path);
  }
  if (S_ISDIR(status.st_mode)) {
    return Fail(LoadStatus::kNotLoadable, path + " is a folder, not a module file");
  }
  // A name without a folder is taken from the working folder, never searched for.
  const std::string load_path = path.find('/') == std::string::npos ? "./" + path : path;
  dlerror();
  handle_ = dlopen(load_path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle_ == nullptr) {
    // The loader's reason starts with the path, which the message already names.
    const char* error = dlerror();
    std::string reason = error != nullptr ? error : "unknown reason";
    if (reason.rfind(load_path + ": ", 0) == 0) {
      reason.erase(0, load_path.size() + 2);
    }
    return Fail(LoadStatus::kNotLoadable,
                "cannot load " + path + ": " + reason + WrongTargetHint(path));
  }
#endif

  const LoadStatus resolved = ResolveExports(path);
  if (resolved != LoadStatus::kOk) {
    return resolved;
  }

  // The host's order: the descriptor first, then the entry table.
  const std::int32_t info_result = get_interface_info_(&info_);
  if (info_result != kResultOk) {
    return Fail(LoadStatus::kExportFailed,
                std::string(kGetInterfaceInfo.name) + " returned " + std::to_string(info_result));
  }
  const std::int32_t table_result = get_interface_(&entries_);
  if (table_result != kResultOk) {
    return Fail(LoadStatus::kExportFailed,
                std::string(kGetInterface.name) + " returned " + std::to_string(table_result));
  }
  void* slots[sizeof(DeviceInterface) / sizeof(void*)];
  std::memcpy(slots, &entries_, sizeof slots);
  for (std::size_t slot = 0; slot < std::size(slots); ++slot) {
    if (slots[slot] == nullptr) {
      return Fail(LoadStatus::kExportFailed, std::string(kGetInterface.name) + " left slot " +
                                                 std::to_string(slot) +
                                                 " of the entry table empty");
    }
  }
  return LoadStatus::kOk;
}

LoadStatus Module::ResolveExports(const std::string& path) {
  void* found[2] = {};
  const ExportName wanted[2] = {kGetInterface, kGetInterfaceInfo};
  for (int i = 0; i < 2; ++i) {
#ifdef _WIN32
    const auto module = static_cast<HMODULE>(handle_);
    const FARPROC by_name = GetProcAddress(module, wanted[i].name);
    const FARPROC by_ordinal = GetProcAddress(module, MAKEINTRESOURCEA(wanted[i].ordinal));
    const std::string ordinal = "ordinal " + std::to_string(wanted[i].ordinal);
    if (by_name == nullptr) {
      return Fail(LoadStatus::kMissingExport,
                  path + " does not export " + wanted[i].name + " (" + ordinal + ")");
    }
    if (by_ordinal == nullptr) {
      return Fail(LoadStatus::kExportMismatch,
                  path + " exports " + wanted[i].name + " but nothing at " + ordinal);
    }
    if (by_ordinal != by_name) {
      return Fail(LoadStatus::kExportMismatch,
                  path + ": " + ordinal + " is not " + wanted[i].name + " but another function");
    }
    found[i] = AsFunction<void*>(by_name);
#else
    found[i] = dlsym(handle_, wanted[i].name);
    if (found[i] == nullptr) {
      return Fail(LoadStatus::kMissingExport, path + " does not export " + wanted[i].name);
    }
#endif
  }
  get_interface_ = AsFunction<ExportGetInterface>(found[0]);
  get_interface_info_ = AsFunction<ExportGetInterfaceInfo>(found[1]);
  return LoadStatus::kOk;
}

std::string FieldText(const char (&field)[256]) {
  const void* end = std::memchr(field, '\0', sizeof field);
  return std::string(field, end != nullptr ? static_cast<const char*>(end) : field + sizeof field);
}

std::string PackedVersion(std::uint32_t word) {
  return std::to_string(word >> 24) + "." + std::to_string(word >> 16 & 0xFF) + "." +
         std::to_string(word >> 8 & 0xFF) + "." + std::to_string(word & 0xFF);
}
