// The info command: the module's descriptor and, for a Windows module, its
// version resource as the system reads it (GetFileVersionInfoA,
// VerQueryValueA) and the export table of its loaded image.
#include "host/options.h"

#ifdef _WIN32
#include <windows.h>

namespace {

constexpr const char* kVersionKeys[] = {"FileDescription",  "FileVersion", "InternalName",
                                        "OriginalFilename", "ProductName", "ProductVersion"};

std::string Dotted(DWORD high, DWORD low) {
  return Format("%u.%u.%u.%u", HIWORD(high), LOWORD(high), HIWORD(low), LOWORD(low));
}

void ReportVersion(const std::string& path) {
  DWORD ignored = 0;
  std::vector<char> data(GetFileVersionInfoSizeA(path.c_str(), &ignored));
  void* value = nullptr;
  UINT length = 0;
  if (data.empty() ||
      GetFileVersionInfoA(path.c_str(), 0, static_cast<DWORD>(data.size()), data.data()) == 0 ||
      VerQueryValueA(data.data(), "\\", &value, &length) == 0 ||
      length < sizeof(VS_FIXEDFILEINFO)) {
    Say("Version resource  none\n");
    return;
  }
  const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
  Json& version = Report()["version_resource"];
  version = {{"file_version", Dotted(fixed->dwFileVersionMS, fixed->dwFileVersionLS)},
             {"product_version", Dotted(fixed->dwProductVersionMS, fixed->dwProductVersionLS)},
             {"file_os", fixed->dwFileOS},
             {"file_type", fixed->dwFileType},
             {"strings", Json::object()}};
  Say("Version resource  file version %s, product version %s, OS 0x%lX, type %lu (2: DLL)\n",
      version["file_version"].get<std::string>().c_str(),
      version["product_version"].get<std::string>().c_str(), fixed->dwFileOS, fixed->dwFileType);
  if (VerQueryValueA(data.data(), "\\VarFileInfo\\Translation", &value, &length) != 0 &&
      length >= 4) {
    const auto* translation = static_cast<const WORD*>(value);
    const std::string block = Format("%04x%04x", translation[0], translation[1]);
    version["string_table"] = block;
    for (const char* key : kVersionKeys) {
      if (VerQueryValueA(data.data(), ("\\StringFileInfo\\" + block + "\\" + key).c_str(), &value,
                         &length) != 0 &&
          length > 0) {
        version["strings"][key] = static_cast<const char*>(value);
        Say("  %-18s %s\n", key, static_cast<const char*>(value));
      }
    }
  }
}

// The export table as the loader mapped it, at its addresses relative to the base.
void ReportExports(const Module& module) {
  const auto* base = static_cast<const std::uint8_t*>(module.handle());
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(
      base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
  const IMAGE_DATA_DIRECTORY& directory =
      nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
  const auto* table =
      reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + directory.VirtualAddress);
  const auto* functions = reinterpret_cast<const DWORD*>(base + table->AddressOfFunctions);
  const auto* names = reinterpret_cast<const DWORD*>(base + table->AddressOfNames);
  const auto* name_ordinals = reinterpret_cast<const WORD*>(base + table->AddressOfNameOrdinals);
  Report()["export_name"] = reinterpret_cast<const char*>(base + table->Name);
  Report()["exports"] = Json::array();
  Say("Exports           directory name %s\n", reinterpret_cast<const char*>(base + table->Name));
  for (DWORD index = 0; directory.Size != 0 && index < table->NumberOfFunctions; ++index) {
    std::string name;
    for (DWORD n = 0; n < table->NumberOfNames; ++n) {
      name = name_ordinals[n] == index ? reinterpret_cast<const char*>(base + names[n]) : name;
    }
    if (functions[index] != 0) {
      Report()["exports"].push_back({{"ordinal", table->Base + index}, {"name", name}});
      Say("  @%-4lu %s\n", table->Base + index, name.empty() ? "(by ordinal only)" : name.c_str());
    }
  }
}

}  // namespace
#endif

int RunInfo(const Options& options) {
  const std::string path = ModulePath(options.session);
  Module module;
  if (!LoadModule(path, &module)) {
    return kExitModule;
  }
  Report()["module"] = path;
  Say("Module            %s\n", path.c_str());
  ReportDescriptor(module.info());
#ifdef _WIN32
  ReportVersion(path);
  ReportExports(module);
#else
  Say("Version resource  only in the Windows build (this module is a Linux shared object)\n");
#endif
  return kExitOk;
}
