// The PE reader: a small image built here, damaged in every way a file can be
// damaged, and the built Windows module itself (export table, imports and
// version resource, as Windows and the host application see them).
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "host/pe_file.h"

namespace {

constexpr std::uint32_t kSectionRva = 0x1000;
constexpr std::uint32_t kSectionFileOffset = 0x200;

// Little-endian bytes with the writes a PE image needs.
struct Bytes {
  std::vector<std::uint8_t> data;

  std::size_t size() const { return data.size(); }
  void Put16(std::size_t at, std::uint32_t value) {
    data[at] = static_cast<std::uint8_t>(value);
    data[at + 1] = static_cast<std::uint8_t>(value >> 8);
  }
  void Put32(std::size_t at, std::uint32_t value) {
    Put16(at, value & 0xFFFF);
    Put16(at + 2, value >> 16);
  }
  std::size_t Add16(std::uint32_t value) {
    data.resize(data.size() + 2);
    Put16(data.size() - 2, value);
    return data.size() - 2;
  }
  std::size_t Add32(std::uint32_t value) {
    data.resize(data.size() + 4);
    Put32(data.size() - 4, value);
    return data.size() - 4;
  }
  std::size_t AddText(const std::string& text) {
    const std::size_t at = data.size();
    data.insert(data.end(), text.begin(), text.end());
    data.push_back(0);
    return at;
  }
  void AddUtf16(const std::u16string& text) {
    for (const char16_t unit : text) {
      Add16(unit);
    }
    Add16(0);
  }
  void Append(const Bytes& more) { data.insert(data.end(), more.data.begin(), more.data.end()); }
  void Align4() { data.resize((data.size() + 3) & ~std::size_t{3}); }
};

// One node of a version resource: length, value length, type, key, value, children.
Bytes VersionNode(const std::u16string& key, std::uint16_t type, const Bytes& value,
                  std::uint16_t value_length, const std::vector<Bytes>& children = {}) {
  Bytes node;
  node.Add16(0);
  node.Add16(value_length);
  node.Add16(type);
  node.AddUtf16(key);
  node.Align4();
  node.Append(value);
  for (const Bytes& child : children) {
    node.Align4();
    node.Append(child);
  }
  node.Put16(0, static_cast<std::uint32_t>(node.size()));
  return node;
}

Bytes VersionString(const std::u16string& key, const std::u16string& value) {
  Bytes text;
  text.AddUtf16(value);
  return VersionNode(key, 1, text, static_cast<std::uint16_t>(value.size() + 1));
}

Bytes VersionData() {
  Bytes fixed;
  for (const std::uint32_t word : {0xFEEF04BDU, 0x10000U, 0x00020003U, 0x00040005U, 0x00060007U,
                                   0x00080009U, 0x3FU, 0U, 4U, 2U, 0U, 0U, 0U}) {
    fixed.Add32(word);
  }
  Bytes translation;
  translation.Add32(0x04B00409);
  const Bytes strings = VersionNode(
      u"StringFileInfo", 1, {}, 0,
      {VersionNode(
           u"040904b0", 1, {}, 0,
           {VersionString(u"FileDescription", u"Test adapter"), VersionString(u"Empty", u""),
            VersionString(u"Greeting", u"Gr\u00FC\u00DFe \u20AC")}),
       VersionNode(u"040704b0", 1, {}, 0, {VersionString(u"FileDescription", u"Testadapter")})});
  const Bytes variables =
      VersionNode(u"VarFileInfo", 1, {}, 0, {VersionNode(u"Translation", 0, translation, 4)});
  return VersionNode(u"VS_VERSION_INFO", 0, fixed, 52, {strings, variables});
}

// A 32-bit DLL with one section that holds an export table (Alpha @1, Beta @3,
// a nameless @4), imports of two libraries and a version resource. The
// section's data ends the file, so every shorter prefix is a truncated file.
std::vector<std::uint8_t> SmallDll() {
  Bytes section;
  const auto rva = [](std::size_t at) { return static_cast<std::uint32_t>(kSectionRva + at); };

  const std::size_t exports = section.size();
  section.data.resize(40);
  const std::size_t addresses = section.Add32(0x1111);
  section.Add32(0);
  section.Add32(0x3333);
  section.Add32(0x4444);
  const std::size_t names = section.Add32(0);
  section.Add32(0);
  const std::size_t name_ordinals = section.Add16(2);
  section.Add16(0);
  section.Put32(names, rva(section.AddText("Beta")));
  section.Put32(names + 4, rva(section.AddText("Alpha")));
  section.Put32(exports + 12, rva(section.AddText("Small.dll")));
  section.Put32(exports + 16, 1);  // ordinal base
  section.Put32(exports + 20, 4);
  section.Put32(exports + 24, 2);
  section.Put32(exports + 28, rva(addresses));
  section.Put32(exports + 32, rva(names));
  section.Put32(exports + 36, rva(name_ordinals));
  const std::size_t exports_size = section.size() - exports;

  section.Align4();
  const std::size_t imports = section.size();
  section.data.resize(section.size() + std::size_t{3} * 20);  // two libraries and the end marker
  section.Put32(imports + 12, rva(section.AddText("KERNEL32.dll")));
  section.Put32(imports + 20 + 12, rva(section.AddText("USER32.dll")));

  // Resource tree: type 16, name 1, language 0x409, then the data entry.
  section.Align4();
  const std::size_t resources = section.size();
  for (const std::uint32_t id : {16U, 1U, 0x409U}) {
    const std::size_t table = section.size();
    section.data.resize(table + 16 + 8);
    section.Put16(table + 14, 1);
    section.Put32(table + 16, id);
    const std::uint32_t next = static_cast<std::uint32_t>(section.size() - resources);
    section.Put32(table + 20, id == 0x409 ? next : next | 0x80000000U);
  }
  const std::size_t data_entry = section.size();
  section.data.resize(data_entry + 16);
  const Bytes version = VersionData();
  section.Put32(data_entry, rva(section.size()));
  section.Put32(data_entry + 4, static_cast<std::uint32_t>(version.size()));
  section.Append(version);

  Bytes file;
  file.data.resize(kSectionFileOffset);
  file.Put16(0, 0x5A4D);
  file.Put32(0x3C, 0x40);
  file.Put32(0x40, 0x00004550);
  file.Put16(0x44, 0x14C);   // x86
  file.Put16(0x46, 1);       // one section
  file.Put16(0x54, 224);     // optional header size
  file.Put16(0x56, 0x2102);  // DLL, 32-bit, executable
  const std::size_t optional = 0x58;
  file.Put16(optional, 0x10B);
  file.Put32(optional + 60, kSectionFileOffset);  // size of headers
  file.Put32(optional + 92, 16);                  // data directories
  file.Put32(optional + 96, rva(exports));
  file.Put32(optional + 100, static_cast<std::uint32_t>(exports_size));
  file.Put32(optional + 104, rva(imports));
  file.Put32(optional + 108, 60);
  file.Put32(optional + 112, rva(resources));
  file.Put32(optional + 116, static_cast<std::uint32_t>(section.size() - resources));
  const std::size_t header = optional + 224;
  std::memcpy(&file.data[header], ".data", 5);
  file.Put32(header + 8, static_cast<std::uint32_t>(section.size()));
  file.Put32(header + 12, kSectionRva);
  file.Put32(header + 16, static_cast<std::uint32_t>(section.size()));
  file.Put32(header + 20, kSectionFileOffset);
  file.Append(section);
  return file.data;
}

bool Parse(const std::vector<std::uint8_t>& bytes, PeFile* pe, std::string* error) {
  return ParsePe(bytes.data(), bytes.size(), pe, error);
}

TEST(PeReader, ReadsExportsImportsAndVersionOfAWellFormedImage) {
  PeFile pe;
  std::string error;
  ASSERT_TRUE(Parse(SmallDll(), &pe, &error)) << error;
  EXPECT_EQ(pe.machine, 0x14C);
  EXPECT_TRUE(pe.is_dll);
  EXPECT_FALSE(pe.pe32_plus);
  EXPECT_EQ(pe.export_name, "Small.dll");
  ASSERT_EQ(pe.exports.size(), 3U);
  EXPECT_EQ(pe.exports[0].ordinal, 1U);
  EXPECT_EQ(pe.exports[0].name, "Alpha");
  EXPECT_EQ(pe.exports[1].ordinal, 3U);
  EXPECT_EQ(pe.exports[1].name, "Beta");
  EXPECT_EQ(pe.exports[2].ordinal, 4U);
  EXPECT_EQ(pe.exports[2].name, "");
  EXPECT_EQ(pe.imports, (std::vector<std::string>{"KERNEL32.dll", "USER32.dll"}));

  const PeVersionResource& version = pe.version;
  ASSERT_TRUE(version.present);
  EXPECT_EQ(DottedVersion(version.file_version), "2.3.4.5");
  EXPECT_EQ(DottedVersion(version.product_version), "6.7.8.9");
  EXPECT_EQ(version.file_os, 4U);
  EXPECT_EQ(version.file_type, 2U);
  ASSERT_EQ(version.string_tables.size(), 2U);
  EXPECT_EQ(version.string_tables[0].block, "040904b0");
  EXPECT_EQ(version.string_tables[1].block, "040704b0");
  ASSERT_EQ(version.string_tables[0].strings.size(), 3U);
  EXPECT_EQ(version.string_tables[0].strings[1].second, "");
  EXPECT_EQ(*version.Find("Greeting"),
            "Gr\xC3\xBC\xC3\x9F"
            "e \xE2\x82\xAC");
  EXPECT_EQ(*version.Find("FileDescription"), "Test adapter") << "the first table answers";
  EXPECT_EQ(version.Find("Comments"), nullptr);
  EXPECT_EQ(version.translations, (std::vector<std::uint32_t>{0x04B00409}));
}

TEST(PeReader, RefusesEveryTruncationOfTheImage) {
  const std::vector<std::uint8_t> whole = SmallDll();
  for (std::size_t length = 0; length < whole.size(); ++length) {
    // A buffer of exactly this length, so that a sanitizer sees any over-read.
    const std::vector<std::uint8_t> prefix(whole.begin(),
                                           whole.begin() + static_cast<std::ptrdiff_t>(length));
    PeFile pe;
    std::string error;
    ASSERT_FALSE(Parse(prefix, &pe, &error)) << "accepted a file cut to " << length << " bytes";
    ASSERT_FALSE(error.empty());
    ASSERT_TRUE(pe.exports.empty() && pe.imports.empty() && !pe.version.present);
  }
}

TEST(PeReader, SurvivesEverySingleByteDamage) {
  const std::vector<std::uint8_t> whole = SmallDll();
  for (std::size_t at = 0; at < whole.size(); ++at) {
    for (const int value : {0x00, 0x7F, 0xFF}) {
      std::vector<std::uint8_t> damaged = whole;
      damaged[at] = static_cast<std::uint8_t>(value);
      PeFile pe;
      std::string error;
      if (!Parse(damaged, &pe, &error)) {
        ASSERT_FALSE(error.empty()) << "byte " << at;
      }
    }
  }
}

TEST(PeReader, RefusesWhatIsNoPeFileWithAReason) {
  PeFile pe;
  std::string error;
  EXPECT_FALSE(Parse({}, &pe, &error));
  EXPECT_NE(error.find("MZ"), std::string::npos) << error;

  std::vector<std::uint8_t> elf(256, 0);
  std::memcpy(elf.data(),
              "\x7F"
              "ELF",
              4);
  EXPECT_FALSE(Parse(elf, &pe, &error));

  // Noise behind a DOS signature, from a fixed seed.
  std::vector<std::uint8_t> noise(4096);
  std::uint32_t state = 12345;
  for (std::uint8_t& byte : noise) {
    state = state * 1103515245U + 12345U;
    byte = static_cast<std::uint8_t>(state >> 16);
  }
  noise[0] = 'M';
  noise[1] = 'Z';
  for (const std::uint32_t header : {0x40U, 0xFFFFFFF0U, 4092U}) {
    Bytes bytes{noise};
    bytes.Put32(0x3C, header);
    EXPECT_FALSE(Parse(bytes.data, &pe, &error)) << "PE header at " << header;
  }
}

TEST(PeReader, RefusesTablesThatClaimMoreThanTheFileHolds) {
  const std::vector<std::uint8_t> whole = SmallDll();
  const std::size_t exports = kSectionFileOffset;  // the export directory opens the section
  PeFile pe;
  std::string error;

  Bytes huge_count{whole};
  huge_count.Put32(exports + 20, 0xFFFFFFFF);
  EXPECT_FALSE(Parse(huge_count.data, &pe, &error));
  EXPECT_NE(error.find("export"), std::string::npos) << error;

  Bytes far_names{whole};
  far_names.Put32(exports + 32, 0x7FFFFFF0);
  EXPECT_FALSE(Parse(far_names.data, &pe, &error));

  Bytes far_section{whole};
  far_section.Put32(0x58 + 224 + 20, 0xFFFFFF00);
  EXPECT_FALSE(Parse(far_section.data, &pe, &error));
  EXPECT_NE(error.find("section"), std::string::npos) << error;
}

TEST(PeReader, ProbesTheKindOfAFile) {
  EXPECT_EQ(ProbeModuleFormat(MORVALIND_BIN_DIR "/no-such-file.dev"), ModuleFormat::kMissing);
#ifdef _WIN32
  EXPECT_EQ(ProbeModuleFormat(MORVALIND_BIN_DIR "/Morvalind.dev"), ModuleFormat::kPe);
#else
  EXPECT_EQ(ProbeModuleFormat(MORVALIND_BIN_DIR "/Morvalind.dev"), ModuleFormat::kElf);
#endif
}

// The module file as built: what Windows, the host application and a person
// reading its properties see. Only the Windows build makes a PE file.
class BuiltModuleFile : public ::testing::Test {
 protected:
  static constexpr const char* kPath = MORVALIND_BIN_DIR "/Morvalind.dev";

  void SetUp() override {
    if (ProbeModuleFormat(kPath) != ModuleFormat::kPe) {
      GTEST_SKIP() << kPath << " is not a PE file; the Windows build makes one";
    }
    std::string error;
    ASSERT_TRUE(ReadPeFile(kPath, &pe_, &error)) << error;
  }

  PeFile pe_;
};

TEST_F(BuiltModuleFile, ExportsExactlyTheTwoEntriesAtTheirOrdinals) {
  EXPECT_EQ(pe_.machine, 0x14C) << "a 32-bit x86 module";
  EXPECT_TRUE(pe_.is_dll);
  EXPECT_EQ(pe_.export_name, "Morvalind.dev");
  ASSERT_EQ(pe_.exports.size(), 2U);
  EXPECT_EQ(pe_.exports[0].ordinal, 1U);
  EXPECT_EQ(pe_.exports[0].name, "DeviceGetInterface");
  EXPECT_EQ(pe_.exports[1].ordinal, 2U);
  EXPECT_EQ(pe_.exports[1].name, "DeviceGetInterfaceInfo");
}

TEST_F(BuiltModuleFile, ImportsOnlySystemLibraries) {
  // The C and C++ runtimes are linked in, and the card's library is bound at
  // the first open, never at load.
  const std::vector<std::string> system = {
      "kernel32.dll", "user32.dll",  "msvcrt.dll", "advapi32.dll", "ntdll.dll",
      "gdi32.dll",    "shell32.dll", "ole32.dll",  "version.dll",  "ws2_32.dll"};
  bool kernel32 = false;
  for (std::string name : pe_.imports) {
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    EXPECT_NE(std::find(system.begin(), system.end(), name), system.end())
        << name << " is no Windows system library";
    kernel32 = kernel32 || name == "kernel32.dll";
  }
  EXPECT_TRUE(kernel32);
}

TEST_F(BuiltModuleFile, VersionResourceDescribesTheModule) {
  const PeVersionResource& version = pe_.version;
  ASSERT_TRUE(version.present);
  EXPECT_EQ(DottedVersion(version.file_version), "1.0.0.0");
  EXPECT_EQ(DottedVersion(version.product_version), "1.1.0.0");
  EXPECT_EQ(version.file_os, 0x4U) << "VOS__WINDOWS32";
  EXPECT_EQ(version.file_type, 2U) << "VFT_DLL";
  ASSERT_EQ(version.string_tables.size(), 1U);
  EXPECT_EQ(version.string_tables[0].block, "040904b0");
  EXPECT_EQ(version.translations, (std::vector<std::uint32_t>{0x04B00409}))
      << "language 0x0409, code page 1200";

  const auto value = [&](const char* key) {
    const std::string* found = version.Find(key);
    return found != nullptr ? *found : std::string("(missing)");
  };
  EXPECT_EQ(value("FileDescription"), "Morvalind DVB-S WDM adapter");
  EXPECT_EQ(value("FileVersion"), "1.0.0");
  EXPECT_EQ(value("InternalName"), "Morvalind.dev");
  EXPECT_EQ(value("OriginalFilename"), "Morvalind.dll");
  EXPECT_EQ(value("ProductVersion"), "1.1.0");
  ASSERT_NE(version.Find("ProductName"), nullptr);
  EXPECT_FALSE(version.Find("ProductName")->empty());
}

}  // namespace
