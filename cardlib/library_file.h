// What a card library of ours asks of the system about itself: its own file,
// which its settings and log lie beside, the process's environment, which a
// host program sets before it loads the library, and names for its threads.
// One file a system: library_posix.cpp, library_win32.cpp.
#pragma once

#include <string>

namespace cardlib {

// The file of the card library this is linked into; empty when unknown.
std::string LibraryPath();

// The folder of a path, with the separator it ends in ('/' or '\\'); "" for a
// bare name.
inline std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// A variable of the process's environment; false when it is not set. Under
// Windows it is read with GetEnvironmentVariableA, which sees what a host set
// with SetEnvironmentVariableA (the C runtime's copy would not).
bool Environment(const char* name, std::string* value);

// Names the calling thread, as debuggers and the system's thread lists show
// it (at most 15 characters); where the system cannot, nothing happens.
void NameThisThread(const char* name);

}  // namespace cardlib
