// Small pieces of text handling the protocol's parsers share: ASCII case,
// trimming, splitting, whole numbers, and quoting outside input for messages.
#pragma once
#include <string>
#include <string_view>
#include <vector>

namespace satip {

bool EqualsIgnoringCase(std::string_view a, std::string_view b);
bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix);

// Without leading and trailing spaces and tabs.
std::string_view Trim(std::string_view text);

// The pieces between `separator`s: "a,,b" -> "a", "", "b"; "" -> one empty piece.
std::vector<std::string_view> Split(std::string_view text, char separator);

// Decimal digits only (at most 9, no sign), within [low, high].
bool ParseNumber(std::string_view text, long low, long high, long* value);

// Outside input in an error text or a log line: in quotes, at most 40
// characters, anything but printable ASCII written as \xNN.
std::string Quoted(std::string_view text);

}  // namespace satip
