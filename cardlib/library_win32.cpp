// The card library's own file and the environment, under Windows: see library_file.h.
#include <windows.h>

#include <string>
#include <vector>

#include "cardlib/library_file.h"

namespace cardlib {

std::string LibraryPath() {
  static const char marker = 0;
  HMODULE module = nullptr;
  char path[MAX_PATH] = {};
  if (GetModuleHandleExA(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          &marker, &module) == 0) {
    return "";
  }
  const DWORD length = GetModuleFileNameA(module, path, sizeof path);
  return length < sizeof path ? std::string(path, length) : std::string();
}

bool Environment(const char* name, std::string* value) {
  SetLastError(ERROR_SUCCESS);
  const DWORD size = GetEnvironmentVariableA(name, nullptr, 0);
  if (size == 0) {
    return GetLastError() != ERROR_ENVVAR_NOT_FOUND;  // set, and empty
  }
  std::vector<char> buffer(size);
  const DWORD length = GetEnvironmentVariableA(name, buffer.data(), size);
  value->assign(buffer.data(), length < size ? length : 0);
  return true;
}

void NameThisThread(const char* name) {
  // From Windows 10 on; looked up, so that the library loads on older ones too.
  using SetDescription = HRESULT(WINAPI*)(HANDLE thread, PCWSTR description);
  const auto set = reinterpret_cast<SetDescription>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetThreadDescription")));
  if (set != nullptr) {
    std::wstring wide;
    for (const char* c = name; *c != '\0'; ++c) {
      wide += static_cast<wchar_t>(static_cast<unsigned char>(*c));
    }
    set(GetCurrentThread(), wide.c_str());
  }
}

}  // namespace cardlib
