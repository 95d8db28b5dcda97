// The terminal a report goes to: whether lines can be refreshed in place there,
// how wide it is, and fitting a status line to that width.
#pragma once
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

bool IsTerminal(std::FILE* stream);

// Columns of the terminal; COLUMNS or 80 when the stream is none.
std::size_t TerminalWidth(std::FILE* stream);

// Pieces joined by two spaces, in their order, leaving out the least important
// ones (the highest rank first) until the line fits `width`.
using LinePiece = std::pair<int, std::string>;  // rank (0 most important), text
std::string FitPieces(std::vector<LinePiece> pieces, std::size_t width);

// A bar of `width` characters, filled in proportion to `percent`.
std::string Bar(int percent, std::size_t width);
