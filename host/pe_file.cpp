// PE file reading: DOS and COFF headers, section table, and the export,
// import and resource directories. Any read outside the file or outside the
// section that should hold it ends the parse with a message naming the part.
#include "host/pe_file.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>

namespace {

constexpr std::uint32_t kSignaturePe = 0x00004550;  // "PE\0\0"
constexpr std::uint16_t kMagicPe32 = 0x10b;
constexpr std::uint16_t kMagicPe32Plus = 0x20b;
constexpr std::uint16_t kFileIsDll = 0x2000;
constexpr std::uint32_t kDirectoryExport = 0;
constexpr std::uint32_t kDirectoryImport = 1;
constexpr std::uint32_t kDirectoryResource = 2;
constexpr std::uint32_t kResourceTypeVersion = 16;
constexpr std::uint32_t kResourceSubdirectory = 0x80000000;
constexpr std::uint32_t kFixedInfoSignature = 0xFEEF04BD;
constexpr std::size_t kFixedInfoSize = 52;
// Far more than any real module has; a larger count means a damaged table.
constexpr std::uint32_t kMostExports = 65536;
constexpr std::size_t kMostImports = 4096;
constexpr std::size_t kLongestName = 4096;

// Thrown inside the parse only; ParsePe turns it into its error result.
struct Malformed {
  std::string what;
};

struct Section {
  std::uint32_t virtual_address;
  std::uint32_t raw_offset;
  std::uint32_t raw_size;
};

struct Directory {
  std::uint32_t rva = 0;
  std::uint32_t size = 0;
};

class Image {
 public:
  Image(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  void Need(std::size_t offset, std::size_t length, const char* what) const {
    if (offset > size_ || length > size_ - offset) {
      throw Malformed{std::string(what) + " lies past the end of the file"};
    }
  }
  std::uint16_t U16(std::size_t offset, const char* what) const {
    Need(offset, 2, what);
    return static_cast<std::uint16_t>(data_[offset] | data_[offset + 1] << 8);
  }
  std::uint32_t U32(std::size_t offset, const char* what) const {
    Need(offset, 4, what);
    return static_cast<std::uint32_t>(data_[offset]) |
           static_cast<std::uint32_t>(data_[offset + 1]) << 8 |
           static_cast<std::uint32_t>(data_[offset + 2]) << 16 |
           static_cast<std::uint32_t>(data_[offset + 3]) << 24;
  }

  // The file offset of `length` bytes at `rva`, all of them inside the file
  // data of one section (or of the headers).
  std::size_t Offset(std::uint64_t rva, std::uint64_t length, const char* what) const {
    if (rva < headers_size_ && length <= headers_size_ - rva) {
      return static_cast<std::size_t>(rva);
    }
    for (const Section& section : sections_) {
      if (rva < section.virtual_address) {
        continue;
      }
      const std::uint64_t into = rva - section.virtual_address;
      if (into + length <= section.raw_size) {
        return section.raw_offset + static_cast<std::size_t>(into);
      }
    }
    throw Malformed{std::string(what) + " lies outside the file's sections"};
  }

  // A NUL-terminated 8-bit name at `rva`.
  std::string Name(std::uint64_t rva, const char* what) const {
    const std::size_t start = Offset(rva, 1, what);
    std::string name;
    for (std::size_t at = start; at < size_; ++at) {
      if (data_[at] == 0) {
        return name;
      }
      if (name.size() == kLongestName) {
        break;
      }
      name.push_back(static_cast<char>(data_[at]));
    }
    throw Malformed{std::string(what) + " has no end"};
  }

  std::size_t size() const { return size_; }
  void set_headers_size(std::uint32_t size) { headers_size_ = size; }
  std::vector<Section>& sections() { return sections_; }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::uint32_t headers_size_ = 0;
  std::vector<Section> sections_;
};

void AppendUtf8(char32_t code, std::string* out) {
  if (code < 0x80) {
    out->push_back(static_cast<char>(code));
  } else if (code < 0x800) {
    out->push_back(static_cast<char>(0xC0 | code >> 6));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else if (code < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | code >> 12));
    out->push_back(static_cast<char>(0x80 | (code >> 6 & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | code >> 18));
    out->push_back(static_cast<char>(0x80 | (code >> 12 & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (code >> 6 & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  }
}

// UTF-16 text from `start` up to its NUL or `end`, as UTF-8. Returns the
// offset after the NUL (or `end`).
std::size_t ReadUtf16(const Image& image, std::size_t start, std::size_t end, std::string* out) {
  std::size_t at = start;
  while (at + 2 <= end) {
    char32_t unit = image.U16(at, "version text");
    at += 2;
    if (unit == 0) {
      break;
    }
    if (unit >= 0xD800 && unit < 0xDC00 && at + 2 <= end) {
      const char32_t low = image.U16(at, "version text");
      if (low >= 0xDC00 && low < 0xE000) {
        unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
        at += 2;
      }
    }
    if (unit >= 0xD800 && unit < 0xE000) {
      unit = 0xFFFD;  // an unpaired half
    }
    AppendUtf8(unit, out);
  }
  return at;
}

// One node of the version resource's tree: length, value length, type, key,
// value, children; each part starts on a 32-bit boundary of the resource.
struct VersionNode {
  std::size_t end;
  std::uint16_t value_length;
  std::uint16_t type;  // 1 text, 0 binary
  std::string key;
  std::size_t value;
};

class VersionReader {
 public:
  VersionReader(const Image& image, std::size_t base) : image_(image), base_(base) {}

  std::size_t Align(std::size_t at) const { return base_ + ((at - base_ + 3) & ~std::size_t{3}); }

  VersionNode Node(std::size_t start, std::size_t limit) const {
    const std::uint16_t length = image_.U16(start, "version resource node");
    if (length < 6 || length > limit - start) {
      throw Malformed{"version resource node has a bad length"};
    }
    VersionNode node{start + length,
                     image_.U16(start + 2, "version resource node"),
                     image_.U16(start + 4, "version resource node"),
                     {},
                     0};
    node.value = std::min(Align(ReadUtf16(image_, start + 6, node.end, &node.key)), node.end);
    return node;
  }

  // Calls `visit` for each child node of `parent`.
  template <typename Visit>
  void Children(const VersionNode& parent, std::size_t first, Visit visit) const {
    for (std::size_t at = Align(first); at + 6 <= parent.end;) {
      const VersionNode child = Node(at, parent.end);
      visit(child);
      at = Align(child.end);
    }
  }

 private:
  const Image& image_;
  std::size_t base_;
};

void ReadFixedInfo(const Image& image, std::size_t at, PeVersionResource* version) {
  if (image.U32(at, "fixed version block") != kFixedInfoSignature) {
    throw Malformed{"fixed version block has a bad signature"};
  }
  const auto split = [&](std::size_t offset, std::uint16_t(&parts)[4]) {
    const std::uint32_t high = image.U32(at + offset, "fixed version block");
    const std::uint32_t low = image.U32(at + offset + 4, "fixed version block");
    parts[0] = static_cast<std::uint16_t>(high >> 16);
    parts[1] = static_cast<std::uint16_t>(high);
    parts[2] = static_cast<std::uint16_t>(low >> 16);
    parts[3] = static_cast<std::uint16_t>(low);
  };
  split(8, version->file_version);
  split(16, version->product_version);
  version->file_flags = image.U32(at + 28, "fixed version block");
  version->file_os = image.U32(at + 32, "fixed version block");
  version->file_type = image.U32(at + 36, "fixed version block");
  version->file_subtype = image.U32(at + 40, "fixed version block");
}

void ReadVersionData(const Image& image, std::size_t base, std::size_t size,
                     PeVersionResource* version) {
  image.Need(base, size, "version resource");
  const VersionReader reader(image, base);
  const VersionNode root = reader.Node(base, base + size);
  if (root.key != "VS_VERSION_INFO") {
    throw Malformed{"version resource does not start with VS_VERSION_INFO"};
  }
  if (root.value_length < kFixedInfoSize || root.value + kFixedInfoSize > root.end) {
    throw Malformed{"version resource has no fixed version block"};
  }
  ReadFixedInfo(image, root.value, version);
  version->present = true;

  reader.Children(root, root.value + root.value_length, [&](const VersionNode& info) {
    if (info.key == "StringFileInfo") {
      reader.Children(info, info.value, [&](const VersionNode& table) {
        PeStringTable strings{table.key, {}};
        reader.Children(table, table.value, [&](const VersionNode& entry) {
          std::string value;
          ReadUtf16(image, entry.value, entry.end, &value);
          strings.strings.emplace_back(entry.key, value);
        });
        version->string_tables.push_back(std::move(strings));
      });
    } else if (info.key == "VarFileInfo") {
      reader.Children(info, info.value, [&](const VersionNode& var) {
        if (var.key != "Translation") {
          return;
        }
        const std::size_t end = std::min<std::size_t>(var.value + var.value_length, var.end);
        for (std::size_t at = var.value; at + 4 <= end; at += 4) {
          version->translations.push_back(image.U32(at, "translation"));
        }
      });
    }
  });
}

// The offset (from the resource directory's start) of the first entry of the
// directory at `table` whose id is `id`, or of its first entry when `id` < 0.
std::uint32_t ResourceEntry(const Image& image, std::size_t table, long id, bool* found) {
  const std::size_t named = image.U16(table + 12, "resource directory");
  const std::size_t ids = image.U16(table + 14, "resource directory");
  for (std::size_t i = 0; i < named + ids; ++i) {
    const std::size_t entry = table + 16 + 8 * i;
    const std::uint32_t name = image.U32(entry, "resource entry");
    if (id < 0 || (i >= named && name == static_cast<std::uint32_t>(id))) {
      *found = true;
      return image.U32(entry + 4, "resource entry");
    }
  }
  *found = false;
  return 0;
}

void ReadVersionResource(const Image& image, const Directory& resources,
                         PeVersionResource* version) {
  // Three levels: type, name, language. The version is type 16; its first
  // name and first language are the ones a loader reports.
  std::uint64_t table = resources.rva;
  for (long id : {static_cast<long>(kResourceTypeVersion), -1L}) {
    bool found = false;
    const std::uint32_t next =
        ResourceEntry(image, image.Offset(table, 16, "resource directory"), id, &found);
    if (!found) {
      return;  // no version resource, which is no fault of the file
    }
    if ((next & kResourceSubdirectory) == 0) {
      throw Malformed{"resource tree is shallower than type, name, language"};
    }
    table = resources.rva + static_cast<std::uint64_t>(next & ~kResourceSubdirectory);
  }
  bool found = false;
  const std::uint32_t data =
      ResourceEntry(image, image.Offset(table, 16, "resource directory"), -1, &found);
  if (!found || (data & kResourceSubdirectory) != 0) {
    throw Malformed{"version resource has no data entry"};
  }
  const std::size_t entry =
      image.Offset(resources.rva + static_cast<std::uint64_t>(data), 16, "version data entry");
  const std::uint32_t data_rva = image.U32(entry, "version data entry");
  const std::uint32_t data_size = image.U32(entry + 4, "version data entry");
  ReadVersionData(image, image.Offset(data_rva, data_size, "version resource"), data_size, version);
}

void ReadExports(const Image& image, const Directory& directory, PeFile* pe) {
  const std::size_t at = image.Offset(directory.rva, 40, "export directory");
  pe->export_name = image.Name(image.U32(at + 12, "export directory"), "export directory name");
  const std::uint32_t base = image.U32(at + 16, "export directory");
  const std::uint32_t functions = image.U32(at + 20, "export directory");
  const std::uint32_t names = image.U32(at + 24, "export directory");
  if (functions > kMostExports || names > functions) {
    throw Malformed{"export directory counts are out of range"};
  }
  const std::size_t addresses =
      image.Offset(image.U32(at + 28, "export directory"), 4ULL * functions, "export addresses");
  const std::size_t name_table =
      image.Offset(image.U32(at + 32, "export directory"), 4ULL * names, "export names");
  const std::size_t name_ordinals =
      image.Offset(image.U32(at + 36, "export directory"), 2ULL * names, "export name ordinals");

  std::vector<std::string> by_index(functions);
  for (std::uint32_t i = 0; i < names; ++i) {
    const std::uint16_t index =
        image.U16(name_ordinals + std::size_t{2} * i, "export name ordinals");
    if (index >= functions) {
      throw Malformed{"export name points past the export addresses"};
    }
    by_index[index] =
        image.Name(image.U32(name_table + std::size_t{4} * i, "export names"), "export name");
  }
  for (std::uint32_t i = 0; i < functions; ++i) {
    const std::uint32_t rva = image.U32(addresses + std::size_t{4} * i, "export addresses");
    if (rva != 0) {
      pe->exports.push_back(PeExport{base + i, rva, by_index[i]});
    }
  }
}

void ReadImports(const Image& image, const Directory& directory, PeFile* pe) {
  for (std::uint32_t i = 0;; ++i) {
    if (i == kMostImports) {
      throw Malformed{"import table has no end"};
    }
    const std::size_t at = image.Offset(directory.rva + 20ULL * i, 20, "import table");
    const std::uint32_t name = image.U32(at + 12, "import table");
    if (name == 0 && image.U32(at, "import table") == 0 &&
        image.U32(at + 16, "import table") == 0) {
      return;
    }
    pe->imports.push_back(image.Name(name, "imported library name"));
  }
}

void Parse(Image& image, PeFile* pe) {
  if (image.size() < 64 || image.U16(0, "DOS header") != 0x5A4D) {
    throw Malformed{"not a PE file: no MZ header"};
  }
  const std::size_t header = image.U32(0x3C, "DOS header");
  if (image.U32(header, "PE header") != kSignaturePe) {
    throw Malformed{"not a PE file: no PE signature"};
  }
  pe->machine = image.U16(header + 4, "COFF header");
  const std::size_t section_count = image.U16(header + 6, "COFF header");
  const std::size_t optional_size = image.U16(header + 20, "COFF header");
  pe->is_dll = (image.U16(header + 22, "COFF header") & kFileIsDll) != 0;

  const std::size_t optional = header + 24;
  const std::uint16_t magic = image.U16(optional, "optional header");
  if (magic != kMagicPe32 && magic != kMagicPe32Plus) {
    throw Malformed{"optional header has an unknown magic number"};
  }
  pe->pe32_plus = magic == kMagicPe32Plus;
  const std::size_t directories = optional + (pe->pe32_plus ? 112 : 96);
  const std::uint32_t directory_count =
      std::min<std::uint32_t>(image.U32(directories - 4, "optional header"), 16);
  if (directories + std::size_t{8} * directory_count > optional + optional_size) {
    throw Malformed{"optional header is too short for its data directories"};
  }
  image.Need(optional, optional_size, "optional header");
  image.set_headers_size(image.U32(optional + 60, "optional header"));

  const std::size_t table = optional + optional_size;
  image.Need(table, 40 * section_count, "section table");
  for (std::size_t i = 0; i < section_count; ++i) {
    const std::size_t at = table + 40 * i;
    const Section section{image.U32(at + 12, "section table"), image.U32(at + 20, "section table"),
                          image.U32(at + 16, "section table")};
    image.Need(section.raw_offset, section.raw_size, "section data");
    image.sections().push_back(section);
  }

  const auto directory = [&](std::uint32_t index) {
    Directory entry;
    if (index < directory_count) {
      entry.rva = image.U32(directories + std::size_t{8} * index, "data directory");
      entry.size = image.U32(directories + std::size_t{8} * index + 4, "data directory");
    }
    return entry;
  };
  if (const Directory exports = directory(kDirectoryExport); exports.rva != 0) {
    ReadExports(image, exports, pe);
  }
  if (const Directory imports = directory(kDirectoryImport); imports.rva != 0) {
    ReadImports(image, imports, pe);
  }
  if (const Directory resources = directory(kDirectoryResource); resources.rva != 0) {
    ReadVersionResource(image, resources, &pe->version);
  }
}

}  // namespace

const std::string* PeVersionResource::Find(const std::string& key) const {
  for (const PeStringTable& table : string_tables) {
    for (const auto& entry : table.strings) {
      if (entry.first == key) {
        return &entry.second;
      }
    }
  }
  return nullptr;
}

ModuleFormat ProbeModuleFormat(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    return ModuleFormat::kMissing;
  }
  unsigned char magic[4] = {};
  const std::size_t got = std::fread(magic, 1, sizeof magic, file);
  std::fclose(file);
  if (got >= 2 && magic[0] == 'M' && magic[1] == 'Z') {
    return ModuleFormat::kPe;
  }
  if (got == 4 && magic[0] == 0x7F && magic[1] == 'E' && magic[2] == 'L' && magic[3] == 'F') {
    return ModuleFormat::kElf;
  }
  return ModuleFormat::kOther;
}

bool ParsePe(const std::uint8_t* data, std::size_t size, PeFile* pe, std::string* error) {
  *pe = PeFile{};
  Image image(data, size);
  try {
    Parse(image, pe);
    return true;
  } catch (const Malformed& malformed) {
    *error = malformed.what;
    *pe = PeFile{};
    return false;
  }
}

bool ReadPeFile(const std::string& path, PeFile* pe, std::string* error) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    *error = "cannot open " + path;
    return false;
  }
  const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(file),
                                        std::istreambuf_iterator<char>()};
  if (file.bad()) {
    *error = "cannot read " + path;
    return false;
  }
  return ParsePe(bytes.data(), bytes.size(), pe, error);
}

std::string DottedVersion(const std::uint16_t (&parts)[4]) {
  return std::to_string(parts[0]) + "." + std::to_string(parts[1]) + "." +
         std::to_string(parts[2]) + "." + std::to_string(parts[3]);
}
