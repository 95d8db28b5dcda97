// The info command: the module's descriptor, and for a Windows module its
// version resource, exports and imports.
#include "host/commands.h"
#include "host/module_details.h"

namespace {

const char* OperatingSystemName(std::uint32_t file_os) {
  return file_os == 0x4 ? "32-bit Windows" : file_os == 0x40004 ? "Windows NT, 32-bit" : "other";
}

const char* FileTypeName(std::uint32_t file_type) {
  return file_type == 1   ? "application"
         : file_type == 2 ? "DLL"
         : file_type == 3 ? "driver"
                          : "other";
}

void ReportDetails(const DeviceInterfaceInfo& info, const ModuleDetails& details) {
  Json& report = Report();
  if (details.version_present) {
    Json strings = Json::object();
    Say("Version resource\n");
    for (const auto& entry : details.strings) {
      strings[entry.first] = entry.second;
      Say("  %-18s %s\n", entry.first.c_str(), entry.second.c_str());
    }
    Say("  String table       %s\n", details.string_table.c_str());
    Say("  File version       %s\n", details.file_version.c_str());
    Say("  Product version    %s\n", details.product_version.c_str());
    Say("  Operating system   0x%X (%s)\n", static_cast<unsigned>(details.file_os),
        OperatingSystemName(details.file_os));
    Say("  File type          %u (%s)\n", static_cast<unsigned>(details.file_type),
        FileTypeName(details.file_type));
    // The descriptor's version words repeat the resource's versions.
    if (PackedVersion(info.file_version) != details.file_version ||
        PackedVersion(info.product_version) != details.product_version) {
      Note("the descriptor says " + PackedVersion(info.file_version) + " / " +
           PackedVersion(info.product_version) + ", the version resource " + details.file_version +
           " / " + details.product_version);
    }
    report["version_resource"] = {
        {"file_version", details.file_version}, {"product_version", details.product_version},
        {"file_os", details.file_os},           {"file_type", details.file_type},
        {"string_table", details.string_table}, {"strings", strings}};
  } else {
    Say("Version resource  none\n");
  }
  Say("Exports           directory name %s\n", details.export_name.c_str());
  report["export_name"] = details.export_name;
  report["exports"] = Json::array();
  for (const ModuleExport& entry : details.exports) {
    Say("  @%-4u %s\n", static_cast<unsigned>(entry.ordinal),
        entry.name.empty() ? "(by ordinal only)" : entry.name.c_str());
    report["exports"].push_back({{"ordinal", entry.ordinal}, {"name", entry.name}});
  }
}

}  // namespace

int RunInfo(const Options& options) {
  const std::string path = ModulePath(options.session);
  Module module;
  if (!LoadModule(path, &module)) {
    return kExitModule;
  }
  const DeviceInterfaceInfo& info = module.info();
  Report()["module"] = path;
  Report()["descriptor"] = DescriptorJson(info);
  Say("Module            %s\n", path.c_str());
  Say("Device            %s\n", FieldText(info.device_name).c_str());
  Say("File version      %s\n", PackedVersion(info.file_version).c_str());
  Say("Product version   %s\n", PackedVersion(info.product_version).c_str());
  Say("Author            %s\n", FieldText(info.author).c_str());
  Say("Word at 520       %u\n", static_cast<unsigned>(info.word_520));
  Say("Word at 524       %u\n", static_cast<unsigned>(info.word_524));
  const ModuleDetails details = ReadModuleDetails(path, module);
  if (details.windows_module) {
    ReportDetails(info, details);
  } else {
    Say("Version resource  only in the Windows build (this module is a Linux shared object)\n");
  }
  return kExitOk;
}
