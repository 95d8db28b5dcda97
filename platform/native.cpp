// The Win32 facilities of the module over POSIX, for the native target.
#include <dlfcn.h>
#include <limits.h>
#include <sched.h>
#include <semaphore.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <condition_variable>
#include <cstdio>
#include <map>
#include <mutex>
#include <new>
#include <string>

#include "platform/testing.h"
#include "platform/win32.h"

namespace {

std::atomic<bool> virtual_clock_on{false};
std::atomic<bool> virtual_clock_held{false};
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
  const bool held = virtual_clock_held;
  if (milliseconds == 0) {
    // A yield in virtual time: long enough in real time for another thread to
    // make progress, and charged as one tick so that a yielding wait ends.
    RealSleep(1);
    if (!held) {
      virtual_now += 1;
    }
  } else {
    if (!held) {
      virtual_now += milliseconds;
    }
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
    // As on Windows, a library of that name already in the process comes
    // first: a host program that loaded another card library of the vendor's
    // name gets that one, wherever it lies.
    if (void* loaded = dlopen(file_name, RTLD_NOW | RTLD_NOLOAD)) {
      return loaded;
    }
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

BOOL FreeLibrary(HMODULE module) { return module != nullptr && dlclose(module) == 0 ? 1 : 0; }

HWND GetActiveWindow() { return nullptr; }

int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
  if (auto* hook = message_box_hook.load()) {
    return hook(owner, text, caption, type);
  }
  std::fprintf(stderr, "[%s] %s\n", caption != nullptr ? caption : "", text != nullptr ? text : "");
  return IDOK;
}

void PlatformUseVirtualClock(int on, std::uint32_t start_ms) {
  virtual_now = start_ms;
  virtual_clock_on = on != 0;
}

void PlatformHoldClock(int on) { virtual_clock_held = on != 0; }

void PlatformSetSleepHook(void (*hook)(std::uint32_t)) { sleep_hook = hook; }

void PlatformSetMessageBoxHook(PlatformMessageBoxHook hook) { message_box_hook = hook; }

}  // extern "C"

// Threads over POSIX threads. A handle is the thread's record, shared by the
// handles of that thread and by the thread itself, and freed when the last of
// them lets go. Forced termination parks the thread in a signal handler: it
// runs none of its own code again and keeps whatever it held, as a thread
// terminated on Windows does, but its stack and kernel thread stay for the rest
// of the process.
namespace {

struct ThreadRecord {
  pthread_t pthread{};
  DWORD id = 0;
  int priority = THREAD_PRIORITY_NORMAL;
  AfxThreadProc proc = nullptr;
  void* argument = nullptr;
  AfxThread* object = nullptr;
  // Guarded by the thread table's mutex.
  bool started = false;
  bool released = false;  // the creator has filled the thread object
  bool terminating = false;
  bool ended = false;
  DWORD exit_code = STILL_ACTIVE;
  int references = 0;
  void* held_module = nullptr;  // AfxHoldModuleUntilThreadEnds
  // Posted once when the thread has stopped running; each waiter posts it again.
  sem_t stopped;
};

// The bookkeeping lives as long as the process: threads may end after exit began.
struct ThreadTable {
  std::mutex mutex;
  std::condition_variable started;
  std::map<DWORD, ThreadRecord*> live;  // by id, until the thread ends
};

ThreadTable& Threads() {
  static auto* table = new ThreadTable;
  return *table;
}
std::atomic<int> failing_thread_starts{0};
std::atomic<int> thread_objects{0};
thread_local ThreadRecord* current_thread_record = nullptr;
std::once_flag terminate_signal_installed;

int TerminateSignal() { return SIGRTMIN + 4; }

// Runs on the thread being terminated: it announces that it has stopped and
// never returns. Only async-signal-safe calls here.
void ParkTerminatedThread(int /*signal*/) {
  if (ThreadRecord* record = current_thread_record) {
    sem_post(&record->stopped);
  }
  for (;;) {
    pause();
  }
}

void InstallTerminateSignal() {
  struct sigaction action {};
  action.sa_handler = ParkTerminatedThread;
  sigfillset(&action.sa_mask);
  sigaction(TerminateSignal(), &action, nullptr);
}

void ReleaseRecord(ThreadRecord* record) {
  bool last = false;
  {
    std::lock_guard<std::mutex> hold(Threads().mutex);
    last = --record->references == 0;
  }
  if (last) {
    sem_destroy(&record->stopped);
    delete record;
  }
}

// Priorities below normal raise the thread's nice value; above normal lower it
// where the process may (otherwise the thread stays at normal).
void ApplyPriority(DWORD thread_id, int priority) {
  if (priority == THREAD_PRIORITY_NORMAL) {
    return;
  }
  const int nice = std::clamp(-priority * 5, -20, 19);
  setpriority(PRIO_PROCESS, static_cast<id_t>(thread_id), nice);
}

void* ThreadStart(void* argument) {
  auto* record = static_cast<ThreadRecord*>(argument);
  current_thread_record = record;
  const auto id = static_cast<DWORD>(syscall(SYS_gettid));
  ApplyPriority(id, record->priority);
  {
    std::unique_lock<std::mutex> hold(Threads().mutex);
    record->id = id;
    Threads().live[id] = record;
    record->started = true;
    Threads().started.notify_all();
    Threads().started.wait(hold, [record] { return record->released; });
  }

  const UINT exit_code = record->proc(record->argument);

  // From here a termination request is answered by parking, not by the signal.
  sigset_t terminate;
  sigemptyset(&terminate);
  sigaddset(&terminate, TerminateSignal());
  pthread_sigmask(SIG_BLOCK, &terminate, nullptr);
  bool terminated = false;
  void* held_module = nullptr;
  {
    std::lock_guard<std::mutex> hold(Threads().mutex);
    terminated = record->terminating;
    held_module = record->held_module;
    if (!terminated) {
      record->exit_code = exit_code;
      record->ended = true;
      Threads().live.erase(id);
    }
  }
  sem_post(&record->stopped);
  if (terminated) {
    for (;;) {
      pause();
    }
  }
  AfxReleaseThread(record->object);
  ReleaseRecord(record);  // the thread's own reference
  if (held_module != nullptr) {
    // The module's code on this thread is done; this library, whose code the
    // thread returns through, is never unloaded.
    dlclose(held_module);
  }
  return nullptr;
}

}  // namespace

extern "C" {

AfxThread* AfxBeginThread(AfxThreadProc proc, void* argument, int priority, UINT stack_size,
                          DWORD creation_flags, SECURITY_ATTRIBUTES* /*security*/) {
  if (proc == nullptr || creation_flags != 0) {
    return nullptr;
  }
  int failing = failing_thread_starts.load();
  while (failing > 0 && !failing_thread_starts.compare_exchange_weak(failing, failing - 1)) {
  }
  if (failing > 0) {
    return nullptr;
  }
  std::call_once(terminate_signal_installed, InstallTerminateSignal);

  auto* object = new (std::nothrow) AfxThread{};
  auto* record = new (std::nothrow) ThreadRecord;
  if (object == nullptr || record == nullptr) {
    delete object;
    delete record;
    return nullptr;
  }
  sem_init(&record->stopped, 0, 0);
  record->priority = priority;
  record->proc = proc;
  record->argument = argument;
  record->object = object;
  record->references = 2;  // the thread object's handle, and the thread itself

  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
  if (stack_size != 0) {
    pthread_attr_setstacksize(&attributes, std::max<std::size_t>(stack_size, PTHREAD_STACK_MIN));
  }
  pthread_t pthread{};
  const int created = pthread_create(&pthread, &attributes, ThreadStart, record);
  pthread_attr_destroy(&attributes);
  if (created != 0) {
    sem_destroy(&record->stopped);
    delete record;
    delete object;
    return nullptr;
  }
  // As a thread started suspended: it runs its function only once the object
  // carries its handle and id.
  std::unique_lock<std::mutex> hold(Threads().mutex);
  record->pthread = pthread;
  Threads().started.wait(hold, [record] { return record->started; });
  object->handle = record;
  object->thread_id = record->id;
  ++thread_objects;
  record->released = true;
  Threads().started.notify_all();
  return object;
}

void AfxReleaseThread(AfxThread* thread) {
  if (thread != nullptr) {
    CloseHandle(thread->handle);
    delete thread;
    --thread_objects;
  }
}

void AfxHoldModuleUntilThreadEnds(AfxThread* thread) {
  // The caller's own library: its return address lies in it.
  const void* caller = __builtin_extract_return_addr(__builtin_return_address(0));
  Dl_info info{};
  if (thread == nullptr || dladdr(caller, &info) == 0 || info.dli_fname == nullptr) {
    return;
  }
  // A reference of the thread's own; none for the program, which is no library.
  void* module = dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD);
  if (module == nullptr) {
    return;
  }
  auto* record = static_cast<ThreadRecord*>(thread->handle);
  bool held_already = false;
  {
    std::lock_guard<std::mutex> hold(Threads().mutex);
    held_already = record->held_module != nullptr;
    if (!held_already) {
      record->held_module = module;
    }
  }
  if (held_already) {
    dlclose(module);
  }
}

BOOL TerminateThread(HANDLE thread, DWORD exit_code) {
  auto* record = static_cast<ThreadRecord*>(thread);
  if (record == nullptr) {
    return 0;
  }
  std::lock_guard<std::mutex> hold(Threads().mutex);
  if (record->ended) {
    return 0;
  }
  if (!record->terminating) {
    record->terminating = true;
    record->ended = true;
    record->exit_code = exit_code;
    Threads().live.erase(record->id);
    pthread_kill(record->pthread, TerminateSignal());
  }
  return 1;
}

HANDLE OpenThread(DWORD /*access*/, BOOL /*inherit*/, DWORD thread_id) {
  std::lock_guard<std::mutex> hold(Threads().mutex);
  const auto found = Threads().live.find(thread_id);
  if (found == Threads().live.end()) {
    return nullptr;
  }
  ++found->second->references;
  return found->second;
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  auto* record = static_cast<ThreadRecord*>(handle);
  if (milliseconds == INFINITE) {
    while (sem_wait(&record->stopped) != 0 && errno == EINTR) {
    }
  } else {
    timespec deadline{};
    clock_gettime(CLOCK_REALTIME, &deadline);
    const long long total_ns =
        static_cast<long long>(deadline.tv_nsec) + static_cast<long long>(milliseconds) * 1000000LL;
    deadline.tv_sec += static_cast<time_t>(total_ns / 1000000000LL);
    deadline.tv_nsec = static_cast<long>(total_ns % 1000000000LL);
    int waited = 0;
    while ((waited = sem_timedwait(&record->stopped, &deadline)) != 0 && errno == EINTR) {
    }
    if (waited != 0) {
      return WAIT_TIMEOUT;
    }
  }
  sem_post(&record->stopped);  // stays signalled for every other waiter
  return WAIT_OBJECT_0;
}

BOOL GetExitCodeThread(HANDLE thread, DWORD* exit_code) {
  auto* record = static_cast<ThreadRecord*>(thread);
  if (record == nullptr || exit_code == nullptr) {
    return 0;
  }
  std::lock_guard<std::mutex> hold(Threads().mutex);
  *exit_code = record->exit_code;
  return 1;
}

int GetThreadPriority(HANDLE thread) {
  auto* record = static_cast<ThreadRecord*>(thread);
  return record != nullptr ? record->priority : 0x7FFFFFFF;
}

BOOL CloseHandle(HANDLE handle) {
  if (handle == nullptr) {
    return 0;
  }
  ReleaseRecord(static_cast<ThreadRecord*>(handle));
  return 1;
}

void PlatformFailThreadStarts(int count) { failing_thread_starts = count; }

int PlatformThreadObjects() { return thread_objects; }

}  // extern "C"
