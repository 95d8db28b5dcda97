// The program's folder and its version (the header the build writes,
// cmake/host_version.cmake).
#include "host/program.h"

#include "host/system.h"
#include "host_version.h"

namespace host {

std::string ProgramFolder() {
  const std::string program = ExecutablePath();
  const std::size_t slash = program.find_last_of(kWindowsSystem ? "\\/" : "/");
  return slash == std::string::npos ? std::string() : program.substr(0, slash + 1);
}

const char* VersionText() {
  return MORVALIND_PRODUCT_VERSION " (git " MORVALIND_SOURCE_VERSION ")";
}

const char* ProductVersion() { return MORVALIND_PRODUCT_VERSION; }
const char* SourceVersion() { return MORVALIND_SOURCE_VERSION; }

}  // namespace host
