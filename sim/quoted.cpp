// The stand-in card's quotes of outside text.
#include "sim/quoted.h"

#include <algorithm>

namespace sim {
namespace {

constexpr std::size_t kWhole = 160;  // bytes quoted whole
constexpr std::size_t kEnd = 72;     // bytes kept at each end of a longer text

bool Continues(char byte) { return (static_cast<unsigned char>(byte) & 0xC0) == 0x80; }

}  // namespace

std::string Excerpt(const std::string& text) {
  std::string piece = text;
  if (text.size() > kWhole) {
    std::size_t head = kEnd;
    while (head > 0 && Continues(text[head])) {
      --head;
    }
    std::size_t tail = text.size() - kEnd;
    while (tail < text.size() && Continues(text[tail])) {
      ++tail;
    }
    piece = text.substr(0, head) + "..." + text.substr(tail);
  }
  std::replace_if(
      piece.begin(), piece.end(),
      [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; }, '?');
  return piece;
}

std::string Quoted(const std::string& text) { return "\"" + Excerpt(text) + "\""; }

}  // namespace sim
