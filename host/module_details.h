// What a loaded Windows module says about itself beyond its descriptor: its
// version resource (read by the system, GetFileVersionInfoA and
// VerQueryValueA) and the export table of its loaded image. A Linux shared
// object has neither.
#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "host/module.h"

struct ModuleExport {
  std::uint32_t ordinal = 0;
  std::string name;  // empty for an export by ordinal only
};

struct ModuleDetails {
  bool windows_module = false;  // false for the native build: the rest stays empty
  bool version_present = false;
  std::string file_version;     // the fixed block's, "1.0.0.0"
  std::string product_version;  // "1.1.0.0"
  std::uint32_t file_os = 0;
  std::uint32_t file_type = 0;
  std::vector<std::pair<std::string, std::string>> strings;  // the first string table's
  std::string string_table;                                  // its block, "040904b0"
  std::string export_name;  // the name the export directory gives the module
  std::vector<ModuleExport> exports;
};

ModuleDetails ReadModuleDetails(const std::string& path, const Module& module);
