// Controls of the native platform library for tests and tools: a virtual
// millisecond clock, a hook that answers message boxes, and failing thread starts.
#pragma once

#include <cstdint>

#include "platform/win32.h"

#ifndef _WIN32
extern "C" {
// Switches the tick count and Sleep to a virtual clock starting at `start_ms`
// (true) or back to the real one (false). Under the virtual clock Sleep(n)
// advances the clock by n ms at once; Sleep(0) gives up the processor for a
// moment and advances it by 1 ms, so that a loop that yields still sees time pass.
MV_PLATFORM_API void PlatformUseVirtualClock(int on, std::uint32_t start_ms);
// Called for every Sleep while the virtual clock is on (nullptr: none).
MV_PLATFORM_API void PlatformSetSleepHook(void (*hook)(std::uint32_t milliseconds));
// While held (on), Sleep still yields but leaves the virtual clock where it is.
// A wait with a time limit then waits for the event alone, however long the
// threads take in real time.
MV_PLATFORM_API void PlatformHoldClock(int on);

using PlatformMessageBoxHook = int (*)(HWND owner, const char* text, const char* caption,
                                       unsigned type);
// Replaces the default message box (a line on standard error answered with OK).
MV_PLATFORM_API void PlatformSetMessageBoxHook(PlatformMessageBoxHook hook);

// The next `count` calls of AfxBeginThread create no thread and return nullptr.
MV_PLATFORM_API void PlatformFailThreadStarts(int count);
// Thread objects of AfxBeginThread not yet released, with their handles.
MV_PLATFORM_API int PlatformThreadObjects();
}

// Whether the tick count and Sleep are virtual in tests.
constexpr bool kPlatformVirtualClock = true;
#else
// Under Windows the tick count and Sleep are the system's: the clock controls
// do nothing, so that a test reads the same on both targets. Assertions that
// only virtual time makes true are made where kPlatformVirtualClock holds.
inline void PlatformUseVirtualClock(int /*on*/, std::uint32_t /*start_ms*/) {}
inline void PlatformSetSleepHook(void (* /*hook*/)(std::uint32_t milliseconds)) {}
inline void PlatformHoldClock(int /*on*/) {}
constexpr bool kPlatformVirtualClock = false;

// The same controls for the win32 thread start, which is linked into the module
// (and so reach only tests that link the module's code directly).
void PlatformFailThreadStarts(int count);
int PlatformThreadObjects();
#endif
