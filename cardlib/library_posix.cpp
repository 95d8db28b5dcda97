// The card library's own file and the environment, natively: see library_file.h.
#include <dlfcn.h>
#include <pthread.h>

#include <cstdlib>

#include "cardlib/library_file.h"

namespace cardlib {

std::string LibraryPath() {
  static const char marker = 0;
  Dl_info info{};
  return dladdr(&marker, &info) != 0 && info.dli_fname != nullptr ? info.dli_fname : "";
}

bool Environment(const char* name, std::string* value) {
  const char* text = std::getenv(name);
  if (text != nullptr) {
    *value = text;
  }
  return text != nullptr;
}

void NameThisThread(const char* name) { pthread_setname_np(pthread_self(), name); }

}  // namespace cardlib
