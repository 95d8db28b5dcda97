// How the stand-in card's messages quote what a lineup file or the
// environment gave it (keys, texts, paths): in double quotes, and only a
// short piece of a long one, so that a file of nonsense does not land whole
// on standard error.
#pragma once

#include <string>

namespace sim {

// `text` whole up to 160 bytes, else its first and last 72 bytes around
// "..."; control characters shown as '?', and no UTF-8 character cut in two.
std::string Excerpt(const std::string& text);

// The excerpt in double quotes.
std::string Quoted(const std::string& text);

}  // namespace sim
