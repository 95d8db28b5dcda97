// The version resource and export table of a loaded module: see module_image.h.
#include "loader/module_image.h"

#ifdef _WIN32
#include <windows.h>

#include <cstdio>

namespace {

constexpr const char* kVersionKeys[] = {"FileDescription",  "FileVersion", "InternalName",
                                        "OriginalFilename", "ProductName", "ProductVersion"};

std::string Dotted(DWORD high, DWORD low) {
  char text[32];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", HIWORD(high), LOWORD(high), HIWORD(low),
                LOWORD(low));
  return text;
}

}  // namespace

bool ReadVersionResource(const std::string& path, VersionResource* resource) {
  DWORD ignored = 0;
  std::vector<char> data(GetFileVersionInfoSizeA(path.c_str(), &ignored));
  void* value = nullptr;
  UINT length = 0;
  if (data.empty() ||
      GetFileVersionInfoA(path.c_str(), 0, static_cast<DWORD>(data.size()), data.data()) == 0 ||
      VerQueryValueA(data.data(), "\\", &value, &length) == 0 ||
      length < sizeof(VS_FIXEDFILEINFO)) {
    return false;
  }
  const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
  resource->file_version = Dotted(fixed->dwFileVersionMS, fixed->dwFileVersionLS);
  resource->product_version = Dotted(fixed->dwProductVersionMS, fixed->dwProductVersionLS);
  resource->file_os = fixed->dwFileOS;
  resource->file_type = fixed->dwFileType;
  if (VerQueryValueA(data.data(), "\\VarFileInfo\\Translation", &value, &length) == 0 ||
      length < 4) {
    return true;
  }
  const auto* translation = static_cast<const WORD*>(value);
  char block[9];
  std::snprintf(block, sizeof block, "%04x%04x", translation[0], translation[1]);
  resource->string_table = block;
  for (const char* key : kVersionKeys) {
    const std::string query = "\\StringFileInfo\\" + resource->string_table + "\\" + key;
    if (VerQueryValueA(data.data(), query.c_str(), &value, &length) != 0 && length > 0) {
      resource->strings.emplace_back(key, static_cast<const char*>(value));
    }
  }
  return true;
}

bool ReadExportTable(const Module& module, ExportTable* table) {
  const auto* base = static_cast<const std::uint8_t*>(module.handle());
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(
      base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
  const IMAGE_DATA_DIRECTORY& directory =
      nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
  if (directory.Size == 0) {
    return false;
  }
  const auto* exports =
      reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + directory.VirtualAddress);
  const auto* functions = reinterpret_cast<const DWORD*>(base + exports->AddressOfFunctions);
  const auto* names = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
  const auto* name_ordinals = reinterpret_cast<const WORD*>(base + exports->AddressOfNameOrdinals);
  table->name = reinterpret_cast<const char*>(base + exports->Name);
  for (DWORD index = 0; index < exports->NumberOfFunctions; ++index) {
    if (functions[index] == 0) {
      continue;
    }
    ModuleExport& entry = table->exports.emplace_back();
    entry.ordinal = exports->Base + index;
    for (DWORD n = 0; n < exports->NumberOfNames; ++n) {
      entry.name =
          name_ordinals[n] == index ? reinterpret_cast<const char*>(base + names[n]) : entry.name;
    }
  }
  return true;
}

#else

bool ReadVersionResource(const std::string& /*path*/, VersionResource* /*resource*/) {
  return false;
}

bool ReadExportTable(const Module& /*module*/, ExportTable* /*table*/) { return false; }

#endif
