// Loads a device module by path the way the host application does and hands
// out its descriptor and entry table. On Windows both exports are looked up by
// ordinal and by name, and the two must agree; an ELF library has no
// ordinals, so the native build looks them up by name. Every export and entry
// is called with the platform's standard convention (MV_STDCALL).
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

#include "abi/records.h"

enum class LoadStatus {
  kOk,
  kFileMissing,     // no file at the path
  kNotLoadable,     // the system loader refused it (not a module, wrong kind, a folder)
  kMissingExport,   // loaded, but an export is missing
  kExportMismatch,  // an export's ordinal and its name lead to different code
  kExportFailed,    // an export reported failure or left an entry slot empty
};

// Loads a library by path with the system loader (a relative path from the
// working folder, never searched for); nullptr with `error` ("cannot load
// PATH: the system's reason") when the loader refuses it.
void* OpenLibrary(const std::string& path, std::string* error);
void CloseLibrary(void* handle);
// The library of that name (a file name, a path, or natively its SONAME)
// that the process has loaded already, or nullptr; it is not loaded here, and
// what holds it loaded still decides how long it stays.
void* LoadedLibrary(const std::string& name);
// The file it was loaded from.
std::string LibraryFile(void* handle);
// What it exports by that name, or nullptr.
void* LibraryEntry(void* handle, const char* name);

class Module {
 public:
  Module() = default;
  ~Module();
  Module(const Module&) = delete;
  Module& operator=(const Module&) = delete;

  // Loads the module at `path` (unloading any module held before), looks up
  // both exports, and fills the descriptor and the entry table through them.
  // On failure nothing stays loaded and error() says what went wrong.
  LoadStatus Load(const std::string& path);
  void Unload();

  bool loaded() const { return handle_ != nullptr; }
  void* handle() const { return handle_; }  // the system loader's, for reading the image
  const std::string& error() const { return error_; }

  const DeviceInterfaceInfo& info() const { return info_; }
  const DeviceInterface& entries() const { return entries_; }
  ExportGetInterface get_interface() const { return get_interface_; }
  ExportGetInterfaceInfo get_interface_info() const { return get_interface_info_; }

 private:
  LoadStatus Fail(LoadStatus status, const std::string& error);
  LoadStatus ResolveExports(const std::string& path);

  void* handle_ = nullptr;
  std::string error_;
  ExportGetInterface get_interface_ = nullptr;
  ExportGetInterfaceInfo get_interface_info_ = nullptr;
  DeviceInterfaceInfo info_{};
  DeviceInterface entries_{};
};

// A descriptor text field up to its terminator (or the field's end).
std::string FieldText(const char (&field)[256]);

// A descriptor version word, one byte a component, major first: "1.1.0.0".
std::string PackedVersion(std::uint32_t word);

// An address from the system loader as a typed function pointer.
template <typename Function, typename Address>
Function AsFunction(Address address) {
  static_assert(sizeof(Function) == sizeof(Address), "code and data addresses differ in size");
  Function function;
  std::memcpy(&function, &address, sizeof function);
  return function;
}
