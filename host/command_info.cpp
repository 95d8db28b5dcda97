// The info command (the module's descriptor, version resource and exports) and
// the open command (open the card, then close it).
#include <cstdint>
#include <cstdio>
#include <string>

#include "host/card_session.h"
#include "host/commands.h"
#include "host/json.h"
#include "host/module.h"
#include "host/pe_file.h"
#include "host/program.h"

namespace {

const char* OperatingSystemName(std::uint32_t file_os) {
  switch (file_os) {
    case 0x4:
      return "32-bit Windows";
    case 0x40004:
      return "Windows NT, 32-bit";
    default:
      return "other";
  }
}

const char* FileTypeName(std::uint32_t file_type) {
  switch (file_type) {
    case 1:
      return "application";
    case 2:
      return "DLL";
    case 3:
      return "driver";
    default:
      return "other";
  }
}

void PrintPeDetails(const std::string& path, const Module& module) {
  PeFile pe;
  std::string error;
  if (!ReadPeFile(path, &pe, &error)) {
    std::printf("Version resource  unreadable: %s\n", error.c_str());
    return;
  }
  const PeVersionResource& version = pe.version;
  if (!version.present) {
    std::printf("Version resource  none\n");
  } else {
    std::printf("Version resource\n");
    for (const PeStringTable& table : version.string_tables) {
      std::printf("  String table %s\n", table.block.c_str());
      for (const auto& entry : table.strings) {
        std::printf("    %-18s %s\n", entry.first.c_str(), entry.second.c_str());
      }
    }
    for (const std::uint32_t translation : version.translations) {
      std::printf("  Translation        language 0x%04X, code page %u\n",
                  static_cast<unsigned>(translation & 0xFFFF),
                  static_cast<unsigned>(translation >> 16));
    }
    std::printf("  File version       %s\n", DottedVersion(version.file_version).c_str());
    std::printf("  Product version    %s\n", DottedVersion(version.product_version).c_str());
    std::printf("  Operating system   0x%X (%s)\n", static_cast<unsigned>(version.file_os),
                OperatingSystemName(version.file_os));
    std::printf("  File type          %u (%s)\n", static_cast<unsigned>(version.file_type),
                FileTypeName(version.file_type));
    // The descriptor's version words repeat the resource's versions.
    const std::string descriptor_file = PackedVersion(module.info().file_version);
    const std::string descriptor_product = PackedVersion(module.info().product_version);
    if (descriptor_file != DottedVersion(version.file_version) ||
        descriptor_product != DottedVersion(version.product_version)) {
      std::printf("  Note: the descriptor says %s / %s, the resource %s / %s\n",
                  descriptor_file.c_str(), descriptor_product.c_str(),
                  DottedVersion(version.file_version).c_str(),
                  DottedVersion(version.product_version).c_str());
    }
  }
  std::printf("Exports           directory name %s\n", pe.export_name.c_str());
  for (const PeExport& entry : pe.exports) {
    std::printf("  @%-4u %s\n", static_cast<unsigned>(entry.ordinal),
                entry.name.empty() ? "(by ordinal only)" : entry.name.c_str());
  }
  std::printf("Imports          ");
  for (const std::string& name : pe.imports) {
    std::printf(" %s", name.c_str());
  }
  std::printf("\n");
}

}  // namespace

int RunInfo(const Arguments& arguments) {
  Module module;
  if (!LoadModule(arguments, &module)) {
    return kExitModule;
  }
  const std::string path = ModulePath(arguments);
  const DeviceInterfaceInfo& info = module.info();
  if (WantsJson(arguments)) {
    PrintJson({{"module", JsonText(path)},
               {"device", JsonText(FieldText(info.device_name))},
               {"file_version", JsonText(PackedVersion(info.file_version))},
               {"product_version", JsonText(PackedVersion(info.product_version))},
               {"author", JsonText(FieldText(info.author))},
               {"word_520", JsonNumber(int(info.word_520))},
               {"word_524", JsonNumber(int(info.word_524))}});
    return kExitOk;
  }
  std::printf("Module            %s\n", path.c_str());
  std::printf("Device            %s\n", FieldText(info.device_name).c_str());
  std::printf("File version      %s\n", PackedVersion(info.file_version).c_str());
  std::printf("Product version   %s\n", PackedVersion(info.product_version).c_str());
  std::printf("Author            %s\n", FieldText(info.author).c_str());
  std::printf("Word at 520       %u\n", static_cast<unsigned>(info.word_520));
  std::printf("Word at 524       %u\n", static_cast<unsigned>(info.word_524));
  switch (ProbeModuleFormat(path)) {
    case ModuleFormat::kPe:
      PrintPeDetails(path, module);
      break;
    case ModuleFormat::kElf:
      std::printf(
          "Version resource  only in the Windows build (this module is a Linux shared object)\n");
      break;
    default:
      break;
  }
  return kExitOk;
}

int RunOpen(const Arguments& arguments) {
  Module module;
  if (!LoadModule(arguments, &module)) {
    return kExitModule;
  }
  const DeviceInterface& entries = module.entries();
  std::printf("Module            %s\n", ModulePath(arguments).c_str());
  entries.set_callback(ReceivePacket);

  const std::int32_t opened = entries.open();
  std::printf("DeviceOpen        %d (%s)\n", static_cast<int>(opened),
              opened == kResultOk ? "opened" : "failed");
  if (opened != kResultOk) {
    return kExitCard;
  }
  std::printf("Card library      %s\n", FindCardLibrary().path.c_str());
  const std::int32_t closed = entries.close();
  std::printf("DeviceClose       %d (%s)\n", static_cast<int>(closed),
              closed == kResultOk ? "closed" : "failed");
  std::printf("Packets           %llu",
              static_cast<unsigned long long>(packet_queue.received.load()));
  if (packet_queue.misshaped > 0) {
    std::printf(" (%llu not 188 bytes)",
                static_cast<unsigned long long>(packet_queue.misshaped.load()));
  }
  std::printf("\n");
  return closed == kResultOk ? kExitOk : kExitFailure;
}
