// The program's version, from the header the build writes (cmake/host_version.cmake).
#include "host/program.h"
#include "host_version.h"

const char* VersionText() {
  return MORVALIND_PRODUCT_VERSION " (git " MORVALIND_SOURCE_VERSION ")";
}
