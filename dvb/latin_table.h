// The DVB text rules' default character table, for text without a table byte:
// the Latin alphabet of ISO/IEC 6937 with the euro sign at 0xA4. Its accents
// 0xC1..0xCF are non-spacing and come before the letter they go on: "V\xC8ogel"
// is "Vögel". The text reaches it with the control codes 0x80..0x9F taken out.
#pragma once
#include <string>

namespace dvb {

// UTF-8 of text in that table: an accent and its letter as the one character
// Unicode has for them, else the letter followed by the combining accent; an
// unassigned byte as U+FFFD.
std::string FromDvbLatin(const std::string& bytes);

}  // namespace dvb
