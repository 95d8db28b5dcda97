// The system's sockets, started when the card first opens, not while the
// library loads: under Windows, Asio would start Winsock from a global
// object, that is inside the loader's DllMain, where Windows does not allow
// it (a host that loads the library would risk a deadlock). One file a
// system: sockets_win32.cpp, sockets_posix.cpp.
#pragma once

#include <string>
#include <system_error>

namespace satipcard {

// False with the system's reason when there are no sockets to be had.
bool StartSockets(std::string* error);

// The system's words for a socket failure, to go inside a sentence: Windows
// (and Wine) end theirs with a full stop and a line break.
inline std::string Reason(const std::error_code& error) {
  std::string text = error.message();
  while (!text.empty() &&
         (text.back() == '.' || text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
    text.pop_back();
  }
  return text;
}

}  // namespace satipcard
