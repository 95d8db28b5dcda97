// The system's own words for an error on Windows, where strerror does not know
// the system's codes.
#pragma once
#include <string>

// A GetLastError or WSAGetLastError code, its number after the system's words:
// "There is not enough space on the disk (error 112)".
std::string WindowsErrorText(unsigned long code);
