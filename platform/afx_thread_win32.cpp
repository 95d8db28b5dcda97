// The framework's thread start on win32, over the C runtime's thread start: a
// small thread object with the thread's handle and id, released (handle closed,
// object freed) when the thread function returns, or by AfxReleaseThread after
// the thread was ended by force. Linked into the module, so that a thread that
// holds the module lets go of it here, where the module's code on it ends.
#include <process.h>

#include <atomic>
#include <new>

#include "platform/testing.h"
#include "platform/win32.h"

namespace {

struct StartedThread {
  AfxThread object;  // first, so that the framework's pointer is this record
  AfxThreadProc proc;
  void* argument;
  std::atomic<HMODULE> held_module;  // AfxHoldModuleUntilThreadEnds
};

// An address inside the module this file is linked into.
const char kInThisModule = 0;

std::atomic<int> failing_thread_starts{0};
std::atomic<int> thread_objects{0};

void Release(StartedThread* started) {
  CloseHandle(started->object.handle);
  delete started;
  --thread_objects;
}

unsigned __stdcall ThreadStart(void* argument) {
  auto* started = static_cast<StartedThread*>(argument);
  const UINT exit_code = started->proc(started->argument);
  HMODULE held_module = started->held_module.load();
  Release(started);
  if (held_module != nullptr) {
    // The system lets go of the module and ends the thread: nothing returns
    // into the module, which may be unloaded now.
    FreeLibraryAndExitThread(held_module, exit_code);
  }
  return exit_code;
}

}  // namespace

AfxThread* AfxBeginThread(AfxThreadProc proc, void* argument, int priority, UINT stack_size,
                          DWORD creation_flags, SECURITY_ATTRIBUTES* security) {
  int failing = failing_thread_starts.load();
  while (failing > 0 && !failing_thread_starts.compare_exchange_weak(failing, failing - 1)) {
  }
  if (proc == nullptr || failing > 0) {
    return nullptr;
  }
  auto* started = new (std::nothrow) StartedThread{{nullptr, 0}, proc, argument, {nullptr}};
  if (started == nullptr) {
    return nullptr;
  }
  // Started suspended, so that the object carries the handle and id before the
  // function runs and can release it.
  unsigned thread_id = 0;
  const std::uintptr_t handle =
      _beginthreadex(security, stack_size, ThreadStart, started, CREATE_SUSPENDED, &thread_id);
  if (handle == 0) {
    delete started;
    return nullptr;
  }
  ++thread_objects;
  started->object.handle = reinterpret_cast<HANDLE>(handle);
  started->object.thread_id = thread_id;
  SetThreadPriority(started->object.handle, priority);
  AfxThread* object = &started->object;
  if ((creation_flags & CREATE_SUSPENDED) == 0) {
    ResumeThread(started->object.handle);
  }
  return object;
}

void AfxReleaseThread(AfxThread* thread) {
  if (thread != nullptr) {
    Release(reinterpret_cast<StartedThread*>(thread));  // the object is the record's first field
  }
}

void AfxHoldModuleUntilThreadEnds(AfxThread* thread) {
  HMODULE module = nullptr;
  if (thread == nullptr ||
      GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                         reinterpret_cast<LPCWSTR>(&kInThisModule), &module) == 0) {
    return;
  }
  auto* started = reinterpret_cast<StartedThread*>(thread);
  if (module == GetModuleHandleW(nullptr) || started->held_module.exchange(module) != nullptr) {
    FreeLibrary(module);  // the program itself, or a module held already
  }
}

void PlatformFailThreadStarts(int count) { failing_thread_starts = count; }

int PlatformThreadObjects() { return thread_objects; }
