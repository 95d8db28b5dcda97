// The Win32 facilities the module uses. On Windows they come from the system;
// on the native target the platform library supplies the same names over POSIX,
// so the module's own code reads the same on both targets.
#pragma once

#include <cstdint>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// The platform's standard convention for system interfaces: the callee pops its arguments.
#define MV_STDCALL __stdcall
// The vendor library's member functions: `this` in ECX, the callee pops. The
// compiler applies the convention to plain functions and function pointers too,
// and says so in a warning that this project silences where it uses it.
#define MV_THISCALL __attribute__((thiscall))
#define MV_ALLOW_THISCALL_ON_FUNCTIONS _Pragma("GCC diagnostic ignored \"-Wattributes\"")
#else
#include <pthread.h>

#define MV_STDCALL
#define MV_THISCALL
#define MV_ALLOW_THISCALL_ON_FUNCTIONS
#define WINAPI

#ifdef MORVALIND_PLATFORM_BUILD
#define MV_PLATFORM_API __attribute__((visibility("default")))
#else
#define MV_PLATFORM_API
#endif

using BOOL = int;
using DWORD = std::uint32_t;
using UINT = unsigned int;
using LPCSTR = const char*;
using HWND = void*;
using HMODULE = void*;
using HINSTANCE = void*;
using HANDLE = void*;
using FARPROC = void (*)();

constexpr UINT MB_OK = 0x00000000;
constexpr UINT MB_ICONERROR = 0x00000010;
constexpr int IDOK = 1;

// A critical section is a recursive lock, as on Windows.
struct CRITICAL_SECTION {
  pthread_mutex_t mutex;
};

extern "C" {
MV_PLATFORM_API void InitializeCriticalSection(CRITICAL_SECTION* section);
MV_PLATFORM_API void EnterCriticalSection(CRITICAL_SECTION* section);
MV_PLATFORM_API void LeaveCriticalSection(CRITICAL_SECTION* section);
MV_PLATFORM_API void DeleteCriticalSection(CRITICAL_SECTION* section);

MV_PLATFORM_API DWORD GetTickCount();
MV_PLATFORM_API void Sleep(DWORD milliseconds);
MV_PLATFORM_API DWORD GetCurrentThreadId();

// Loads a library by file name. A bare name is looked for beside the running
// program, then in the working folder, then along the loader's own path.
MV_PLATFORM_API HMODULE LoadLibraryA(LPCSTR file_name);
MV_PLATFORM_API FARPROC GetProcAddress(HMODULE module, LPCSTR name);

MV_PLATFORM_API HWND GetActiveWindow();
MV_PLATFORM_API int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);
}
#endif
