// Text from the stream's tables (service and provider names in the SDT) turned
// into UTF-8. A DVB string may begin with a byte that names its character
// table (ISO-8859-5 to -15, ISO-8859-n by number, UCS-2, UTF-8, two East Asian
// sets); without one it is in the default table, which this program reads as
// ISO-8859-1, as broadcasters commonly use it. The table reader (psi_reader.h)
// decodes every name with it, so that text and JSON output and channel files
// always carry valid UTF-8.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace dvb {

// Always valid UTF-8, whatever the bytes: control codes (emphasis, NUL; a line
// break becomes a space) are left out, and a unit of the table that does not
// decode (a byte, or a two-byte unit of the two-byte and EUC tables) becomes
// one U+FFFD, the rest read in step. A reserved table and one the platform
// cannot convert (ISO-8859-10 and -14 under Windows) are read as ISO-8859-1.
std::string DvbTextToUtf8(const std::uint8_t* text, std::size_t length);

// A name as typed on the command line, in UTF-8 as the tables and channel
// files give names: Windows hands a program its words in the ANSI code page;
// elsewhere they are taken as they come (UTF-8).
std::string CommandLineTextToUtf8(const std::string& text);

}  // namespace dvb
