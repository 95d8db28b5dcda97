// The stand-in card's journals: one line per call or event, for tests to read
// back what the module asked of the card. Each journal holds its most recent
// lines only, so that a run of hours (a soak, a long capture) uses the same
// memory as a short one; everything a single test causes fits many times over.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <utility>

namespace sim {

template <typename Line>
class Journal {
 public:
  // The longest journal a test reads is about 40 lines (an open in direct mode
  // is 37 bus transactions, a lock wait that runs out 31 polls); a full journal
  // holds some 25 KB.
  static constexpr std::size_t kLimit = 256;

  // Appends a line, dropping the oldest one when the journal is full.
  void Add(Line line) {
    if (lines_.size() == kLimit) {
      lines_.pop_front();
      ++dropped_;
    }
    lines_.push_back(std::move(line));
  }
  void Clear() {
    lines_.clear();
    dropped_ = 0;
  }
  // The lines held; line 0 is the oldest of them.
  std::size_t size() const { return lines_.size(); }
  const Line& operator[](std::size_t index) const { return lines_[index]; }
  // Lines added since the last clear, those no longer held included.
  std::size_t added() const { return dropped_ + lines_.size(); }
  // Lines added since the last clear and no longer held.
  std::size_t dropped() const { return dropped_; }

 private:
  std::deque<Line> lines_;
  std::size_t dropped_ = 0;
};

// `count` bytes as two hex digits each, separated by spaces: "E0 10 38 F0".
std::string Hex(const std::uint8_t* bytes, int count);

// Copies `line` into `buffer` (NUL-terminated, cut to `capacity`); returns the
// line's full length.
int CopyLine(const std::string& line, char* buffer, int capacity);

// Copies line `index` of a journal into `buffer` (NUL-terminated, cut to
// `capacity`); returns its full length, or -1 when there is no such line.
template <typename Line, typename Text>
int CopyJournalLine(const Journal<Line>& journal, int index, Text text, char* buffer,
                    int capacity) {
  if (index < 0 || static_cast<std::size_t>(index) >= journal.size()) {
    return -1;
  }
  return CopyLine(text(journal[static_cast<std::size_t>(index)]), buffer, capacity);
}

}  // namespace sim
