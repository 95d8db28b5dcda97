// Module loading over the system loader of each target.
#include "loader/module.h"

#include <cstdio>
#include <cstring>
#include <filesystem>

#include "loader/system_error.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#include <link.h>
#endif

namespace {

struct ExportName {
  std::uint16_t ordinal;
  const char* name;
};
constexpr ExportName kGetInterface{1, "DeviceGetInterface"};
constexpr ExportName kGetInterfaceInfo{2, "DeviceGetInterfaceInfo"};

// Says what the file is, by its first bytes, when the loader refuses it: a
// module of the other target, or no module at all.
std::string WrongTargetHint(const std::string& path) {
  char head[4] = {};
  std::FILE* file = std::fopen(path.c_str(), "rb");
  const bool read = file != nullptr && std::fread(head, 1, sizeof head, file) == sizeof head;
  if (file != nullptr) {
    std::fclose(file);
  }
  const bool pe = head[0] == 'M' && head[1] == 'Z';
  const bool elf = read && std::memcmp(head,
                                       "\x7F"
                                       "ELF",
                                       4) == 0;
#ifdef _WIN32
  if (elf) {
    return " (it is a Linux shared object; this program is the Windows build)";
  }
#else
  if (pe) {
    return " (it is a Windows DLL; run the Windows build of this program under Wine)";
  }
#endif
  return pe || elf ? "" : " (it is not a library)";
}

#ifdef _WIN32

// The system's text for a loader error, its "%1" filled in with the file.
std::string SystemMessage(DWORD code, const std::string& path) {
  std::string message = WindowsErrorText(code);
  const std::size_t at = message.find("%1");
  return at == std::string::npos ? message : message.replace(at, 2, path);
}

#endif

}  // namespace

void* OpenLibrary(const std::string& path, std::string* error) {
#ifdef _WIN32
  // A relative path is taken from the working folder, never searched for.
  char full_path[MAX_PATH] = {};
  const DWORD length = GetFullPathNameA(path.c_str(), sizeof full_path, full_path, nullptr);
  if (length == 0 || length >= sizeof full_path) {
    *error = "cannot resolve the path " + path;
    return nullptr;
  }
  // A refused library is reported here, not in a system dialog.
  const UINT error_mode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  void* handle = LoadLibraryA(full_path);
  const DWORD load_error = GetLastError();
  SetErrorMode(error_mode);
  if (handle == nullptr) {
    *error = "cannot load " + path + ": " + SystemMessage(load_error, path) + WrongTargetHint(path);
  }
#else
  // A name without a folder is taken from the working folder, never searched for.
  const std::string load_path = path.find('/') == std::string::npos ? "./" + path : path;
  dlerror();
  void* handle = dlopen(load_path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    // The loader's reason starts with the path, which the message already names.
    const char* reason_text = dlerror();
    std::string reason = reason_text != nullptr ? reason_text : "unknown reason";
    if (reason.rfind(load_path + ": ", 0) == 0) {
      reason.erase(0, load_path.size() + 2);
    }
    *error = "cannot load " + path + ": " + reason + WrongTargetHint(path);
  }
#endif
  return handle;
}

void CloseLibrary(void* handle) {
  if (handle != nullptr) {
#ifdef _WIN32
    FreeLibrary(static_cast<HMODULE>(handle));
#else
    dlclose(handle);
#endif
  }
}

void* LoadedLibrary(const std::string& name) {
#ifdef _WIN32
  return GetModuleHandleA(name.c_str());
#else
  void* handle = dlopen(name.c_str(), RTLD_LAZY | RTLD_NOLOAD);
  if (handle != nullptr) {
    dlclose(handle);  // the count this look-up added
  }
  return handle;
#endif
}

std::string LibraryFile(void* handle) {
#ifdef _WIN32
  char path[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameA(static_cast<HMODULE>(handle), path, sizeof path);
  return std::string(path, length < sizeof path ? length : 0);
#else
  link_map* map = nullptr;
  return dlinfo(handle, RTLD_DI_LINKMAP, &map) == 0 && map->l_name != nullptr ? map->l_name : "";
#endif
}

void* LibraryEntry(void* handle, const char* name) {
#ifdef _WIN32
  return AsFunction<void*>(GetProcAddress(static_cast<HMODULE>(handle), name));
#else
  return dlsym(handle, name);
#endif
}

Module::~Module() { Unload(); }

void Module::Unload() {
  CloseLibrary(handle_);
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
  std::error_code unknown;
  const std::filesystem::file_type type = std::filesystem::status(path, unknown).type();
  if (type == std::filesystem::file_type::not_found) {
    return Fail(LoadStatus::kFileMissing, "no module file at " + path);
  }
  if (type == std::filesystem::file_type::directory) {
    return Fail(LoadStatus::kNotLoadable, path + " is a folder, not a module file");
  }
  std::string error;
  handle_ = OpenLibrary(path, &error);
  if (handle_ == nullptr) {
    return Fail(LoadStatus::kNotLoadable, error);
  }

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
    found[i] = LibraryEntry(handle_, wanted[i].name);
#ifdef _WIN32
    const void* by_ordinal = LibraryEntry(handle_, MAKEINTRESOURCEA(wanted[i].ordinal));
    const std::string ordinal = "ordinal " + std::to_string(wanted[i].ordinal);
    if (found[i] == nullptr) {
      return Fail(LoadStatus::kMissingExport,
                  path + " does not export " + wanted[i].name + " (" + ordinal + ")");
    }
    if (by_ordinal == nullptr) {
      return Fail(LoadStatus::kExportMismatch,
                  path + " exports " + wanted[i].name + " but nothing at " + ordinal);
    }
    if (by_ordinal != found[i]) {
      return Fail(LoadStatus::kExportMismatch,
                  path + ": " + ordinal + " is not " + wanted[i].name + " but another function");
    }
#else
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
