// Reads the parts of a Windows module file that tell what it is: its export
// table, the libraries it imports, and its version resource. Plain file
// reading, so that it works on both targets; every read is bounds-checked and
// a damaged file gives an error, never a crash.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// What a module file is, judged by its first bytes.
enum class ModuleFormat { kMissing, kPe, kElf, kOther };
ModuleFormat ProbeModuleFormat(const std::string& path);

struct PeExport {
  std::uint32_t ordinal = 0;
  std::uint32_t rva = 0;
  std::string name;  // empty for an export by ordinal only
};

// One string table of the version resource, e.g. block "040904b0".
struct PeStringTable {
  std::string block;
  std::vector<std::pair<std::string, std::string>> strings;  // key, value (UTF-8)
};

struct PeVersionResource {
  bool present = false;
  // The fixed block: versions as four 16-bit components, major first.
  std::uint16_t file_version[4] = {};
  std::uint16_t product_version[4] = {};
  std::uint32_t file_flags = 0;
  std::uint32_t file_os = 0;
  std::uint32_t file_type = 0;
  std::uint32_t file_subtype = 0;
  std::vector<PeStringTable> string_tables;
  // VarFileInfo's translations: language in the low word, code page in the high one.
  std::vector<std::uint32_t> translations;

  // The value of `key` in the first string table that has it, or nullptr.
  const std::string* Find(const std::string& key) const;
};

struct PeFile {
  std::uint16_t machine = 0;  // 0x14c for 32-bit x86
  bool pe32_plus = false;     // a 64-bit image
  bool is_dll = false;
  std::string export_name;  // the name the export directory gives the module
  std::vector<PeExport> exports;
  std::vector<std::string> imports;  // imported library names, in table order
  PeVersionResource version;
};

// Parses a whole file image held in memory. Returns false and sets `error`
// when the image is not a PE file or is truncated or inconsistent.
bool ParsePe(const std::uint8_t* data, std::size_t size, PeFile* pe, std::string* error);

bool ReadPeFile(const std::string& path, PeFile* pe, std::string* error);

// "1.1.0.0"
std::string DottedVersion(const std::uint16_t (&parts)[4]);
