// The version resource and the loaded image's tables: see module_details.h.
#include "host/module_details.h"

#ifdef _WIN32
#include <windows.h>

#include <cstdio>

namespace {

constexpr const char* kVersionKeys[] = {"FileDescription",  "FileVersion",    "InternalName",
                                        "OriginalFilename", "ProductName",    "ProductVersion",
                                        "CompanyName",      "LegalCopyright", "Comments"};

std::string Dotted(DWORD high, DWORD low) {
  return std::to_string(HIWORD(high)) + "." + std::to_string(LOWORD(high)) + "." +
         std::to_string(HIWORD(low)) + "." + std::to_string(LOWORD(low));
}

void ReadVersion(const std::string& path, ModuleDetails* details) {
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
  std::vector<char> data(size);
  if (size == 0 || GetFileVersionInfoA(path.c_str(), 0, size, data.data()) == 0) {
    return;
  }
  void* value = nullptr;
  UINT length = 0;
  if (VerQueryValueA(data.data(), "\\", &value, &length) != 0 &&
      length >= sizeof(VS_FIXEDFILEINFO)) {
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
    details->version_present = true;
    details->file_version = Dotted(fixed->dwFileVersionMS, fixed->dwFileVersionLS);
    details->product_version = Dotted(fixed->dwProductVersionMS, fixed->dwProductVersionLS);
    details->file_os = fixed->dwFileOS;
    details->file_type = fixed->dwFileType;
  }
  if (VerQueryValueA(data.data(), "\\VarFileInfo\\Translation", &value, &length) == 0 ||
      length < 4) {
    return;
  }
  const auto* translation = static_cast<const WORD*>(value);
  char block[16];
  std::snprintf(block, sizeof block, "%04x%04x", translation[0], translation[1]);
  details->string_table = block;
  for (const char* key : kVersionKeys) {
    const std::string query = std::string("\\StringFileInfo\\") + block + "\\" + key;
    if (VerQueryValueA(data.data(), query.c_str(), &value, &length) != 0 && length > 0) {
      details->strings.emplace_back(key, static_cast<const char*>(value));
    }
  }
}

// The export table of the image as the loader mapped it, at its address
// relative to the base.
void ReadExports(const Module& module, ModuleDetails* details) {
  const auto* base = static_cast<const std::uint8_t*>(module.handle());
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY* directories = nt->OptionalHeader.DataDirectory;
  const IMAGE_DATA_DIRECTORY& exports = directories[IMAGE_DIRECTORY_ENTRY_EXPORT];
  if (exports.Size != 0) {
    const auto* table =
        reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + exports.VirtualAddress);
    const auto* functions = reinterpret_cast<const DWORD*>(base + table->AddressOfFunctions);
    const auto* names = reinterpret_cast<const DWORD*>(base + table->AddressOfNames);
    const auto* name_ordinals = reinterpret_cast<const WORD*>(base + table->AddressOfNameOrdinals);
    details->export_name = reinterpret_cast<const char*>(base + table->Name);
    for (DWORD index = 0; index < table->NumberOfFunctions; ++index) {
      if (functions[index] == 0) {
        continue;
      }
      ModuleExport entry;
      entry.ordinal = table->Base + index;
      for (DWORD n = 0; n < table->NumberOfNames; ++n) {
        if (name_ordinals[n] == index) {
          entry.name = reinterpret_cast<const char*>(base + names[n]);
        }
      }
      details->exports.push_back(entry);
    }
  }
}

}  // namespace

ModuleDetails ReadModuleDetails(const std::string& path, const Module& module) {
  ModuleDetails details;
  details.windows_module = true;
  ReadVersion(path, &details);
  ReadExports(module, &details);
  return details;
}

#else

ModuleDetails ReadModuleDetails(const std::string& /*path*/, const Module& /*module*/) {
  return {};
}

#endif
