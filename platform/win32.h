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
// The framework's thread start is linked into the module itself.
#define MV_PLATFORM_API
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
// Lets go of a library; the last release unloads it.
MV_PLATFORM_API BOOL FreeLibrary(HMODULE module);

MV_PLATFORM_API HWND GetActiveWindow();
MV_PLATFORM_API int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);

// Threads. A handle names a thread until it is closed; it is signalled once the
// thread has ended, by itself or by TerminateThread.
struct SECURITY_ATTRIBUTES;
constexpr DWORD INFINITE = 0xFFFFFFFFU;
constexpr DWORD WAIT_OBJECT_0 = 0;
constexpr DWORD WAIT_TIMEOUT = 258;
constexpr DWORD STILL_ACTIVE = 259;
constexpr DWORD CREATE_SUSPENDED = 0x4;
constexpr DWORD SYNCHRONIZE = 0x00100000;
constexpr DWORD THREAD_QUERY_INFORMATION = 0x0040;
constexpr int THREAD_PRIORITY_BELOW_NORMAL = -1;
constexpr int THREAD_PRIORITY_NORMAL = 0;

// Ends the thread with `exit_code`, wherever it stands: it runs none of its own
// code again and releases nothing it holds (locks it entered, memory it
// obtained). The thread is parked for the rest of the process, not unwound: its
// stack and kernel thread stay. As on Windows the call only starts the end;
// the thread's handle is signalled once it has stopped running.
MV_PLATFORM_API BOOL TerminateThread(HANDLE thread, DWORD exit_code);
MV_PLATFORM_API HANDLE OpenThread(DWORD access, BOOL inherit, DWORD thread_id);
MV_PLATFORM_API DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);
MV_PLATFORM_API BOOL GetExitCodeThread(HANDLE thread, DWORD* exit_code);
MV_PLATFORM_API int GetThreadPriority(HANDLE thread);
MV_PLATFORM_API BOOL CloseHandle(HANDLE handle);
}
#endif

// The framework's thread start: a thread object that carries the thread's
// handle and id. The object and its handle are released when the thread
// function returns; the function's result is the thread's exit code.
struct AfxThread {
  HANDLE handle;
  DWORD thread_id;
};
using AfxThreadProc = UINT (*)(void* argument);

#ifndef _WIN32
extern "C" {
#endif
// Starts `proc(argument)` at `priority` (a THREAD_PRIORITY_ value); nullptr
// when no thread could be created. Stack size 0 is the default; the creation
// flags may ask for CREATE_SUSPENDED only on Windows.
MV_PLATFORM_API AfxThread* AfxBeginThread(AfxThreadProc proc, void* argument, int priority,
                                          UINT stack_size, DWORD creation_flags,
                                          SECURITY_ATTRIBUTES* security);
// Releases the object and handle of a thread that was ended by force, whose
// function therefore never returned to release them; the thread must have
// stopped running (its handle signalled).
MV_PLATFORM_API void AfxReleaseThread(AfxThread* thread);
// Keeps the module whose code makes this call loaded until `thread`, still in
// its function, has ended: the thread lets go of the module as its last act,
// after its function has returned and its object has been released, and
// nothing of the module runs on it afterwards. For a thread that its owner
// leaves to end by itself while it may still be inside code the module called.
// A thread ended by force never lets go. The running program needs no hold.
MV_PLATFORM_API void AfxHoldModuleUntilThreadEnds(AfxThread* thread);
#ifndef _WIN32
}
#endif
