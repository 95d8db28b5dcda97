// The bounded output of a connection: see output_buffer.h.
#include "satipserver/output_buffer.h"

namespace satipserver {

std::uint8_t* OutputBuffer::Reserve(std::size_t size) {
  reserved_ = nullptr;
  if (!after_ && bytes_.size() - end_ >= size) {
    reserved_ = bytes_.data() + end_;
  } else if ((after_ || start_ != end_) && start_ - wrapped_ >= size) {
    // Before the oldest run, after what was put at the beginning already.
    reserved_ = bytes_.data() + wrapped_;
  } else if (!after_ && start_ == end_ && bytes_.size() >= size) {
    start_ = end_ = 0;  // nothing held: start over at the beginning
    reserved_ = bytes_.data();
  }
  return reserved_;
}

void OutputBuffer::Commit(std::size_t size) {
  if (reserved_ == bytes_.data() + end_ && !after_) {
    end_ += size;
  } else {
    after_ = true;
    wrapped_ += size;
  }
  reserved_ = nullptr;
}

void OutputBuffer::Consume(std::size_t size) {
  start_ += size;
  if (start_ == end_ && after_) {
    start_ = 0;
    end_ = wrapped_;
    wrapped_ = 0;
    after_ = false;
  }
}

}  // namespace satipserver
