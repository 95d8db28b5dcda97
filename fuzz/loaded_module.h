// The built module for the fuzz targets: loaded once per process, as the host
// loads it, with message boxes answered at once.
#pragma once

#include <cstdio>
#include <cstdlib>

#include "loader/module.h"
#include "platform/testing.h"

inline const DeviceInterface& LoadedModuleEntries() {
  static const DeviceInterface& entries = [] {
    static Module module;
    if (module.Load(MORVALIND_BIN_DIR "/Morvalind.dev") != LoadStatus::kOk) {
      std::fprintf(stderr, "%s\n", module.error().c_str());
      std::abort();
    }
    PlatformSetMessageBoxHook([](HWND, const char*, const char*, unsigned) { return IDOK; });
    return module.entries();
  }();
  return entries;
}
