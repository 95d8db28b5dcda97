// Waiting for the stream's data outside the stream lock. A read that finds
// nothing would otherwise return at once, and the module's capture loop then
// reads again a millisecond later, about a thousand times a second; a read
// waits here first (a few milliseconds at most) for the stream device to have
// data, while the library's other entries (the figures, a stop) take the lock.
// A stop ends a wait at once, and the device's descriptor closes only once no
// read waits on it.
#pragma once

#include <condition_variable>
#include <mutex>

namespace linuxdvb {

class StreamWait {
 public:
  enum class Result { kData, kStopped, kTimedOut };

  StreamWait();
  ~StreamWait();
  StreamWait(const StreamWait&) = delete;
  StreamWait& operator=(const StreamWait&) = delete;

  // Counts a waiter in, under the lock that guards the descriptor (so that a
  // close under that lock sees it); then Wait, outside it, counts it out.
  void Enter();
  // Up to `milliseconds` for `file` to have data to read, or a stop.
  Result Wait(int file, int milliseconds);
  // Ends every wait at once, until Go.
  void Stop();
  void Go();
  // Returns once no read waits, or after `milliseconds` (a thread ended while
  // it waited never comes out): false then.
  bool Idle(int milliseconds);

 private:
  int wake_ = -1;  // an eventfd, readable while stopped
  std::mutex mutex_;
  std::condition_variable left_;
  int waiting_ = 0;
};

}  // namespace linuxdvb
