// Loading a module by path as the host application does: the built module,
// and every kind of file that is not one, each refused with a reason.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "loader/module.h"

namespace {

constexpr char kModulePath[] = MORVALIND_BIN_DIR "/Morvalind.dev";

std::string WriteFile(const std::string& name, const std::string& contents) {
  std::string path = ::testing::TempDir() + name;
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file != nullptr) {
    std::fwrite(contents.data(), 1, contents.size(), file);
    std::fclose(file);
  }
  return path;
}

void ExpectNothingLoaded(const Module& module) {
  EXPECT_FALSE(module.loaded());
  EXPECT_EQ(module.get_interface(), nullptr);
  EXPECT_EQ(module.get_interface_info(), nullptr);
  EXPECT_EQ(module.entries().open, nullptr);
}

TEST(LoadModule, GetsTheDescriptorAndAFullEntryTableFromTheBuiltModule) {
  Module module;
  ASSERT_EQ(module.Load(kModulePath), LoadStatus::kOk) << module.error();
  EXPECT_TRUE(module.loaded());
  EXPECT_EQ(FieldText(module.info().device_name), "Morvalind DVB-S WDM/PCI");
  EXPECT_EQ(PackedVersion(module.info().file_version), "1.0.0.0");
  EXPECT_EQ(PackedVersion(module.info().product_version), "1.1.0.0");

  // The export the loader kept fills the same table again.
  DeviceInterface again{};
  ASSERT_EQ(module.get_interface()(&again), 0);
  EXPECT_EQ(std::memcmp(&again, &module.entries(), sizeof again), 0);
  EXPECT_EQ(module.entries().stub_code6_11(0), 6);
}

TEST(LoadModule, LoadingAgainReplacesTheModuleAndUnloadingForgetsIt) {
  Module module;
  ASSERT_EQ(module.Load(kModulePath), LoadStatus::kOk) << module.error();
  ASSERT_EQ(module.Load(kModulePath), LoadStatus::kOk) << module.error();
  EXPECT_EQ(module.entries().stub_ok_7(), 0);
  module.Unload();
  ExpectNothingLoaded(module);
}

TEST(LoadModule, ReportsAMissingFile) {
  Module module;
  const std::string path = MORVALIND_BIN_DIR "/no-such-module.dev";
  EXPECT_EQ(module.Load(path), LoadStatus::kFileMissing);
  EXPECT_NE(module.error().find(path), std::string::npos) << module.error();
  ExpectNothingLoaded(module);
}

TEST(LoadModule, RefusesFilesThatAreNoModule) {
  Module module;
  for (const std::string& path :
       {WriteFile("morvalind-text.dev", "not a module\n"), WriteFile("morvalind-empty.dev", ""),
        std::string(MORVALIND_BIN_DIR)}) {
    EXPECT_EQ(module.Load(path), LoadStatus::kNotLoadable) << path;
    EXPECT_NE(module.error().find(path), std::string::npos) << module.error();
    ExpectNothingLoaded(module);
  }
}

TEST(LoadModule, NamesTheTargetAModuleOfTheOtherTargetWasBuiltFor) {
  Module module;
#ifdef _WIN32
  const std::string path = WriteFile("morvalind-elf.dev", std::string("\x7F"
                                                                      "ELF\x01\x01\x01",
                                                                      7) +
                                                              std::string(57, '\0'));
  const char* expected = "Linux shared object";
#else
  const std::string path = WriteFile("morvalind-pe.dev", "MZ" + std::string(126, '\0'));
  const char* expected = "Windows DLL";
#endif
  EXPECT_EQ(module.Load(path), LoadStatus::kNotLoadable);
  EXPECT_NE(module.error().find(expected), std::string::npos) << module.error();
}

TEST(LoadModule, RefusesALibraryWithoutTheExportsAndStaysUsable) {
  // The stand-in card's library loads, but it is no device module.
  Module module;
  EXPECT_EQ(module.Load(MORVALIND_BIN_DIR "/ttlcdacc.dll"), LoadStatus::kMissingExport);
  EXPECT_NE(module.error().find("DeviceGetInterface"), std::string::npos) << module.error();
  ExpectNothingLoaded(module);

  EXPECT_EQ(module.Load(kModulePath), LoadStatus::kOk) << module.error();
  EXPECT_TRUE(module.error().empty());
}

#ifdef _WIN32
std::uint32_t Read32(const std::string& bytes, std::size_t at) {
  std::uint32_t value = 0;
  std::memcpy(&value, bytes.data() + at, sizeof value);
  return value;
}

// The file offset of the export directory's name-ordinal table (the table that
// gives each exported name its ordinal), or 0 when it cannot be found.
std::size_t NameOrdinalTable(const std::string& bytes) {
  const std::size_t header = Read32(bytes, 0x3C);
  const std::size_t sections = header + 24 + (Read32(bytes, header + 20) & 0xFFFF);
  const std::uint32_t export_rva = Read32(bytes, header + 24 + 96);
  const auto offset = [&](std::uint32_t rva) -> std::size_t {
    for (std::size_t i = 0; i < (Read32(bytes, header + 4) >> 16); ++i) {
      const std::size_t at = sections + 40 * i;
      const std::uint32_t start = Read32(bytes, at + 12);
      if (rva >= start && rva - start < Read32(bytes, at + 16)) {
        return Read32(bytes, at + 20) + (rva - start);
      }
    }
    return 0;
  };
  const std::size_t directory = offset(export_rva);
  return directory != 0 ? offset(Read32(bytes, directory + 36)) : 0;
}

TEST(LoadModule, RefusesAModuleWhoseExportNamesAndOrdinalsDisagree) {
  // A copy of the module in which the name DeviceGetInterface leads to the
  // code at ordinal 2 and DeviceGetInterfaceInfo to ordinal 1.
  std::FILE* file = std::fopen(kModulePath, "rb");
  ASSERT_NE(file, nullptr);
  std::string bytes;
  for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file)) {
    bytes.push_back(static_cast<char>(c));
  }
  std::fclose(file);
  const std::size_t table = NameOrdinalTable(bytes);
  ASSERT_NE(table, 0U);
  ASSERT_EQ(Read32(bytes, table), 0x00010000U) << "names in order DeviceGetInterface, ...Info";
  const std::uint32_t swapped = 0x00000001;
  bytes.replace(table, 4, reinterpret_cast<const char*>(&swapped), 4);

  Module module;
  EXPECT_EQ(module.Load(WriteFile("morvalind-swapped.dev", bytes)), LoadStatus::kExportMismatch);
  EXPECT_NE(module.error().find("ordinal 1"), std::string::npos) << module.error();
  ExpectNothingLoaded(module);
}
#endif

}  // namespace
