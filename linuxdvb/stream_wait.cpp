// Waiting for the stream's data: see stream_wait.h.
#include "linuxdvb/stream_wait.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>

namespace linuxdvb {

StreamWait::StreamWait() : wake_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

StreamWait::~StreamWait() {
  if (wake_ >= 0) {
    close(wake_);
  }
}

void StreamWait::Enter() {
  std::lock_guard<std::mutex> hold(mutex_);
  ++waiting_;
}

StreamWait::Result StreamWait::Wait(int file, int milliseconds) {
  pollfd polls[2] = {{file, POLLIN, 0}, {wake_, POLLIN, 0}};
  const int ready = file >= 0 ? poll(polls, wake_ >= 0 ? 2 : 1, milliseconds) : 0;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    --waiting_;
  }
  left_.notify_all();
  return ready <= 0                    ? Result::kTimedOut
         : (polls[1].revents & POLLIN) ? Result::kStopped
                                       : Result::kData;
}

void StreamWait::Stop() {
  const std::uint64_t one = 1;
  if (wake_ >= 0) {
    // Fails only with the count full: stopped many times over already.
    static_cast<void>(write(wake_, &one, sizeof one) == sizeof one);
  }
}

void StreamWait::Go() {
  std::uint64_t count = 0;
  while (wake_ >= 0 && read(wake_, &count, sizeof count) > 0) {
  }
}

bool StreamWait::Idle(int milliseconds) {
  std::unique_lock<std::mutex> hold(mutex_);
  return left_.wait_for(hold, std::chrono::milliseconds(milliseconds),
                        [this] { return waiting_ == 0; });
}

}  // namespace linuxdvb
