// The system's own words for an error: strerror on POSIX, FormatMessage on
// Windows, with the number after them.
#pragma once
#include <string>

// An errno value: "No space left on device".
std::string ErrnoText(int error);

#ifdef _WIN32
// A GetLastError or WSAGetLastError code: "There is not enough space on the
// disk (error 112)".
std::string WindowsErrorText(unsigned long code);
#endif
