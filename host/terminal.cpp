// The terminal: see terminal.h.
#include "host/terminal.h"

#include <algorithm>
#include <cstdlib>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <sys/ioctl.h>
#include <unistd.h>
#endif

namespace {

constexpr std::size_t kDefaultWidth = 80;

std::size_t Joined(const std::vector<LinePiece>& pieces) {
  std::size_t length = 0;
  for (const LinePiece& piece : pieces) {
    length += piece.second.size() + (length > 0 ? 2 : 0);
  }
  return length;
}

}  // namespace

bool IsTerminal(std::FILE* stream) {
#ifdef _WIN32
  return _isatty(_fileno(stream)) != 0;
#else
  return isatty(fileno(stream)) != 0;
#endif
}

std::size_t TerminalWidth(std::FILE* stream) {
#ifdef _WIN32
  CONSOLE_SCREEN_BUFFER_INFO info;
  const HANDLE handle = GetStdHandle(stream == stderr ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
  if (GetConsoleScreenBufferInfo(handle, &info) != 0 && info.srWindow.Right > info.srWindow.Left) {
    return static_cast<std::size_t>(info.srWindow.Right - info.srWindow.Left + 1);
  }
#else
  winsize size{};
  if (ioctl(fileno(stream), TIOCGWINSZ, &size) == 0 && size.ws_col > 0) {
    return size.ws_col;
  }
#endif
  const char* columns = std::getenv("COLUMNS");
  const long given = columns != nullptr ? std::strtol(columns, nullptr, 10) : 0;
  return given > 0 ? static_cast<std::size_t>(given) : kDefaultWidth;
}

std::string FitPieces(std::vector<LinePiece> pieces, std::size_t width) {
  while (pieces.size() > 1 && Joined(pieces) > width) {
    pieces.erase(
        std::max_element(pieces.begin(), pieces.end(),
                         [](const LinePiece& a, const LinePiece& b) { return a.first < b.first; }));
  }
  std::string line;
  for (const LinePiece& piece : pieces) {
    line += (line.empty() ? "" : "  ") + piece.second;
  }
  return line.substr(0, width);
}

std::string Bar(int percent, std::size_t width) {
  const std::size_t filled =
      (static_cast<std::size_t>(std::clamp(percent, 0, 100)) * width + 50) / 100;
  return "[" + std::string(filled, '#') + std::string(width - filled, '.') + "]";
}
