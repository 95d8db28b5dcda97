// The info command: the module's descriptor and, for a Windows module, its
// version resource and the export table of its loaded image.
#include "host/options.h"
#include "host/system.h"
#include "loader/module_image.h"

namespace host {

namespace {

void ReportVersion(const VersionResource& resource) {
  Json& version = Report()["version_resource"];
  version = {{"file_version", resource.file_version},
             {"product_version", resource.product_version},
             {"file_os", resource.file_os},
             {"file_type", resource.file_type},
             {"strings", Json::object()}};
  Say("Version resource  file version %s, product version %s, OS 0x%X, type %u (2: DLL)\n",
      resource.file_version.c_str(), resource.product_version.c_str(), resource.file_os,
      resource.file_type);
  if (!resource.string_table.empty()) {
    version["string_table"] = resource.string_table;
  }
  for (const auto& [key, value] : resource.strings) {
    version["strings"][key] = value;
    Say("  %-18s %s\n", key.c_str(), value.c_str());
  }
}

void ReportExports(const ExportTable& table) {
  Report()["export_name"] = table.name;
  Report()["exports"] = Json::array();
  Say("Exports           directory name %s\n", table.name.c_str());
  for (const ModuleExport& entry : table.exports) {
    Report()["exports"].push_back({{"ordinal", entry.ordinal}, {"name", entry.name}});
    Say("  @%-4u %s\n", entry.ordinal,
        entry.name.empty() ? "(by ordinal only)" : entry.name.c_str());
  }
}

}  // namespace

int RunInfo(const Options& options) {
  const std::string path = ModulePath(options.session);
  Module module;
  if (!LoadModule(path, &module)) {
    return kExitModule;
  }
  Report()["module"] = path;
  Say("Module            %s\n", path.c_str());
  ReportDescriptor(module.info());
  VersionResource version;
  ExportTable exports;
  if (ReadVersionResource(path, &version)) {
    ReportVersion(version);
  } else {
    Say("Version resource  %s\n",
        kWindowsSystem ? "none"
                       : "only in the Windows build (this module is a Linux shared object)");
  }
  if (ReadExportTable(module, &exports)) {
    ReportExports(exports);
  }
  return kExitOk;
}

}  // namespace host
