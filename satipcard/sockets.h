// The system's sockets, started when the card first opens, not while the
// library loads: under Windows, Asio would start Winsock from a global
// object, that is inside the loader's DllMain, where Windows does not allow
// it (a host that loads the library would risk a deadlock). One file a
// system: sockets_win32.cpp, sockets_posix.cpp.
#pragma once

#include <string>

namespace satipcard {

// False with the system's reason when there are no sockets to be had.
bool StartSockets(std::string* error);

}  // namespace satipcard
