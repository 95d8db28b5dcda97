// What a Windows module says of itself, as the system reads it: its version
// resource (GetFileVersionInfoA, VerQueryValueA) and the export table of its
// image as the loader mapped it. A Linux shared object has neither.
#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "loader/module.h"

struct VersionResource {
  std::string file_version;  // "1.1.0.0"
  std::string product_version;
  std::uint32_t file_os = 0;    // 0x40004: NT, 32-bit Windows
  std::uint32_t file_type = 0;  // 2: a DLL
  std::string string_table;     // "040904b0"; empty when it has no translation
  // FileDescription, FileVersion, InternalName, OriginalFilename, ProductName
  // and ProductVersion, those it has, in that order.
  std::vector<std::pair<std::string, std::string>> strings;
};

// False when the file has no version resource (always natively).
bool ReadVersionResource(const std::string& path, VersionResource* resource);

struct ModuleExport {
  std::uint32_t ordinal = 0;
  std::string name;  // empty: exported by ordinal only
};

struct ExportTable {
  std::string name;                   // the directory's own name: "Morvalind.dev"
  std::vector<ModuleExport> exports;  // by ordinal
};

// False for a module without one (always natively).
bool ReadExportTable(const Module& module, ExportTable* table);
