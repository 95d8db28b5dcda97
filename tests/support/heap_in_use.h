// The bytes the process holds in live heap allocations, made on any thread:
// natively glibc's count over all its arenas (or the sanitizer allocator's own
// under AddressSanitizer and ThreadSanitizer), under Windows the busy blocks of
// every heap of the process, the C runtime's among them. Unlike the resident
// set it does not move with pages the allocator keeps or returns, so that a
// few hundred kilobytes of growth stand out.
#pragma once

#include <cstdint>

#ifdef _WIN32
#include <windows.h>

#include <vector>
#else
#include <malloc.h>
#endif

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define MORVALIND_SANITIZER_HEAP 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define MORVALIND_SANITIZER_HEAP 1
#endif
#endif
#ifdef MORVALIND_SANITIZER_HEAP
#include <cstddef>
// The sanitizer runtimes' own count (declared here: GCC ships no header for it).
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#endif

inline std::int64_t HeapInUse() {
#if defined(MORVALIND_SANITIZER_HEAP)
  return static_cast<std::int64_t>(__sanitizer_get_current_allocated_bytes());
#elif defined(_WIN32)
  std::vector<HANDLE> heaps(GetProcessHeaps(0, nullptr) + 8);
  const DWORD count = GetProcessHeaps(static_cast<DWORD>(heaps.size()), heaps.data());
  heaps.resize(count < heaps.size() ? count : heaps.size());
  std::int64_t busy = 0;
  for (HANDLE heap : heaps) {
    if (HeapLock(heap) == 0) {
      continue;
    }
    PROCESS_HEAP_ENTRY entry{};
    while (HeapWalk(heap, &entry) != 0) {
      if ((entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) != 0) {
        busy += entry.cbData;
      }
    }
    HeapUnlock(heap);
  }
  return busy;
#else
  const struct mallinfo2 figures = mallinfo2();
  return static_cast<std::int64_t>(figures.uordblks + figures.hblkhd);
#endif
}
