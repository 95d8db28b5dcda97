// The system's words for an error: see system_error.h.
#include "loader/system_error.h"

#include <cstring>

#ifdef _WIN32
#include <windows.h>
#endif

#ifdef _WIN32
std::string WindowsErrorText(unsigned long code) {
  char* text = nullptr;
  const DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string message(text != nullptr ? text : "", length);
  LocalFree(text);
  while (!message.empty() && std::strchr("\r\n .", message.back()) != nullptr) {
    message.pop_back();
  }
  return (message.empty() ? "system error" : message) + " (error " + std::to_string(code) + ")";
}
#endif
