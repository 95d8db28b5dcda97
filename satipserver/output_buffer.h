// What a TCP connection has yet to send of a stream (RTP frames inside RTSP,
// or the transport stream over HTTP): a fixed number of bytes, taken in whole
// pieces. A piece that finds no room is refused, so that a reader that falls
// behind loses whole frames (counted by the caller) and never holds up the
// card or the other clients, and a frame is never cut. The writer sends the
// bytes in place, one contiguous run at a time, while new pieces go into the
// room that is left.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace satipserver {

class OutputBuffer {
 public:
  explicit OutputBuffer(std::size_t capacity) : bytes_(capacity) {}

  // Room for a piece of `size` bytes, to be filled and then committed; nullptr
  // when there is none.
  std::uint8_t* Reserve(std::size_t size);
  void Commit(std::size_t size);

  // The next run to send (the oldest bytes, in one piece), and its taking.
  const std::uint8_t* data() const { return bytes_.data() + start_; }
  std::size_t readable() const { return end_ - start_; }
  void Consume(std::size_t size);

  bool empty() const { return start_ == end_ && !after_; }

 private:
  std::vector<std::uint8_t> bytes_;
  std::size_t start_ = 0;  // the oldest run: [start_, end_)
  std::size_t end_ = 0;
  std::size_t wrapped_ = 0;  // the run after it, from the beginning: [0, wrapped_)
  bool after_ = false;       // a run from the beginning is open (even an empty one)
  std::uint8_t* reserved_ = nullptr;
};

}  // namespace satipserver
