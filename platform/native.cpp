// The Win32 facilities of the module over POSIX, for the native target.
#include <dlfcn.h>
#include <sched.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <cstdio>
#include <string>

#include "platform/testing.h"
#include "platform/win32.h"

namespace {

std::atomic<bool> virtual_clock_on{false};
std::atomic<std::uint32_t> virtual_now{0};
std::atomic<void (*)(std::uint32_t)> sleep_hook{nullptr};
std::atomic<PlatformMessageBoxHook> message_box_hook{nullptr};

std::uint32_t RealTicks() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  const auto ms = static_cast<std::uint64_t>(now.tv_sec) * 1000U +
                  static_cast<std::uint64_t>(now.tv_nsec) / 1000000U;
  return static_cast<std::uint32_t>(ms);  // wraps like the Windows tick count
}

void RealSleep(std::uint32_t milliseconds) {
  if (milliseconds == 0) {
    sched_yield();
    return;
  }
  timespec delay{static_cast<time_t>(milliseconds / 1000U),
                 static_cast<long>(milliseconds % 1000U) * 1000000L};
  while (nanosleep(&delay, &delay) != 0) {
  }
}

std::string ProgramFolder() {
  char path[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) {
    return {};
  }
  std::string folder(path, static_cast<std::size_t>(length));
  return folder.substr(0, folder.rfind('/') + 1);
}

}  // namespace

extern "C" {

void InitializeCriticalSection(CRITICAL_SECTION* section) {
  pthread_mutexattr_t attributes;
  pthread_mutexattr_init(&attributes);
  pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
  pthread_mutex_init(&section->mutex, &attributes);
  pthread_mutexattr_destroy(&attributes);
}

void EnterCriticalSection(CRITICAL_SECTION* section) { pthread_mutex_lock(&section->mutex); }

void LeaveCriticalSection(CRITICAL_SECTION* section) { pthread_mutex_unlock(&section->mutex); }

void DeleteCriticalSection(CRITICAL_SECTION* section) { pthread_mutex_destroy(&section->mutex); }

DWORD GetTickCount() { return virtual_clock_on ? virtual_now.load() : RealTicks(); }

void Sleep(DWORD milliseconds) {
  if (!virtual_clock_on) {
    RealSleep(milliseconds);
    return;
  }
  if (auto* hook = sleep_hook.load()) {
    hook(milliseconds);
  }
  if (milliseconds == 0) {
    // A yield in virtual time: long enough in real time for another thread to
    // make progress, and charged as one tick so that a yielding wait ends.
    RealSleep(1);
    virtual_now += 1;
  } else {
    virtual_now += milliseconds;
    sched_yield();
  }
}

DWORD GetCurrentThreadId() { return static_cast<DWORD>(syscall(SYS_gettid)); }

HMODULE LoadLibraryA(LPCSTR file_name) {
  if (file_name == nullptr) {
    return nullptr;
  }
  const std::string name(file_name);
  if (name.find('/') == std::string::npos) {
    for (const std::string& folder : {ProgramFolder(), std::string("./")}) {
      if (folder.empty() || access((folder + name).c_str(), R_OK) != 0) {
        continue;
      }
      if (void* handle = dlopen((folder + name).c_str(), RTLD_NOW)) {
        return handle;
      }
    }
  }
  return dlopen(file_name, RTLD_NOW);
}

FARPROC GetProcAddress(HMODULE module, LPCSTR name) {
  if (module == nullptr || name == nullptr) {
    return nullptr;
  }
  return reinterpret_cast<FARPROC>(dlsym(module, name));
}

HWND GetActiveWindow() { return nullptr; }

int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
  if (auto* hook = message_box_hook.load()) {
    return hook(owner, text, caption, type);
  }
  std::fprintf(stderr, "[%s] %s\n", caption != nullptr ? caption : "",
               text != nullptr ? text : "");
  return IDOK;
}

void PlatformUseVirtualClock(int on, std::uint32_t start_ms) {
  virtual_now = start_ms;
  virtual_clock_on = on != 0;
}

void PlatformAdvanceClock(std::uint32_t milliseconds) { virtual_now += milliseconds; }

void PlatformSetSleepHook(void (*hook)(std::uint32_t)) { sleep_hook = hook; }

void PlatformSetMessageBoxHook(PlatformMessageBoxHook hook) { message_box_hook = hook; }

}  // extern "C"
