// DVB strings to UTF-8: biTStream reads the character-table bytes; the text
// after them goes to a converter of its table, iconv natively and the Windows
// code pages under Windows, or to one of ours (the two-byte table, the default
// one); a final pass makes the result valid UTF-8 without control codes. The
// text is carried with its length throughout, so that a NUL in it (a control
// code like any other, left out) cuts nothing after it.
#include "dvb/dvb_text.h"

#include "dvb/latin_table.h"

#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <iconv.h>

#include <cerrno>
#endif

#include <bitstream/dvb/si/strings.h>

namespace dvb {

namespace {

constexpr char kDefaultTable[] = "ISO6937";  // biTStream's name for the table without a byte
constexpr std::uint32_t kReplacement = 0xFFFD;

void AppendUtf8(std::uint32_t code, std::string* out) {
  if (code < 0x80) {
    out->push_back(static_cast<char>(code));
  } else if (code < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (code >> 6)));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else if (code < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (code >> 12)));
    out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (code >> 18)));
    out->push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  }
}

std::string FromLatin1(const std::string& bytes) {
  std::string out;
  for (const char byte : bytes) {
    AppendUtf8(static_cast<unsigned char>(byte), &out);
  }
  return out;
}

#ifdef _WIN32

struct CodePage {
  const char* table;
  UINT code_page;
};

// ISO-8859-10 and -14 have no Windows code page; 874 is ISO-8859-11 with
// extra signs in the control range, which never reaches it.
constexpr CodePage kCodePages[] = {
    {"ISO-8859-1", 28591}, {"ISO-8859-2", 28592}, {"ISO-8859-3", 28593},  {"ISO-8859-4", 28594},
    {"ISO-8859-5", 28595}, {"ISO-8859-6", 28596}, {"ISO-8859-7", 28597},  {"ISO-8859-8", 28598},
    {"ISO-8859-9", 28599}, {"ISO-8859-11", 874},  {"ISO-8859-13", 28603}, {"ISO-8859-15", 28605},
    {"EUC-KR", 949},       {"GB2312", 936},
};

bool FromWide(const std::wstring& wide, std::string* out) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                       nullptr, 0, nullptr, nullptr);
  out->assign(static_cast<std::size_t>(size), '\0');
  return size == 0 || WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                          &(*out)[0], size, nullptr, nullptr) == size;
}

bool Convert(const char* table, const std::string& bytes, std::string* out) {
  std::wstring wide;
  for (const CodePage& entry : kCodePages) {
    if (std::strcmp(table, entry.table) != 0) {
      continue;
    }
    const int size = MultiByteToWideChar(entry.code_page, 0, bytes.data(),
                                         static_cast<int>(bytes.size()), nullptr, 0);
    if (size <= 0) {
      return false;
    }
    wide.assign(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(entry.code_page, 0, bytes.data(), static_cast<int>(bytes.size()), &wide[0],
                        size);
    return FromWide(wide, out);
  }
  return false;
}

#else

// How many bytes at `at` make the unit that did not convert: in the EUC
// tables a lead and a trail byte (0xA1..0xFE each) are one character even
// where the table leaves it unassigned; any other byte stands alone.
std::size_t InvalidUnitLength(const char* table, const char* at, std::size_t left) {
  const auto euc_byte = [](char byte) {
    return static_cast<unsigned char>(byte) >= 0xA1 && static_cast<unsigned char>(byte) <= 0xFE;
  };
  const bool euc = std::strcmp(table, "EUC-KR") == 0 || std::strcmp(table, "GB2312") == 0;
  return euc && left >= 2 && euc_byte(at[0]) && euc_byte(at[1]) ? 2 : 1;
}

// A unit that does not convert becomes U+FFFD and the conversion goes on
// after it, in step.
bool Convert(const char* table, const std::string& bytes, std::string* out) {
  iconv_t converter = iconv_open("UTF-8", table);
  if (converter == reinterpret_cast<iconv_t>(-1)) {  // NOLINT(performance-no-int-to-ptr): iconv's
    return false;
  }
  std::string input = bytes;
  char* in = &input[0];
  std::size_t in_left = input.size();
  std::string buffer(4 * input.size() + 4, '\0');
  while (in_left > 0) {
    char* to = &buffer[0];
    std::size_t to_left = buffer.size();
    const std::size_t result = iconv(converter, &in, &in_left, &to, &to_left);
    out->append(buffer.data(), buffer.size() - to_left);
    if (result == static_cast<std::size_t>(-1) && errno != E2BIG) {
      AppendUtf8(kReplacement, out);
      const std::size_t skip = InvalidUnitLength(table, in, in_left);
      in += skip;
      in_left -= skip;
      iconv(converter, nullptr, nullptr, nullptr, nullptr);
    }
  }
  iconv_close(converter);
  return true;
}

#endif

// In the single-byte tables 0x80..0x9F are control codes: 0x8A breaks the
// line, the others (emphasis on and off, reserved) carry no text.
std::string WithoutControlBytes(const std::string& bytes) {
  std::string text;
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte == 0x8A) {
      text.push_back(' ');
    } else if (byte < 0x80 || byte > 0x9F) {
      text.push_back(c);
    }
  }
  return text;
}

// The two-byte table (0x11, and 0x14 as biTStream reads it): big-endian units
// of the Basic Multilingual Plane. A unit that is no character (half a
// surrogate pair, an odd byte at the end) becomes U+FFFD and the next one is
// read in step; a whole surrogate pair is taken as UTF-16 gives it.
std::string FromUcs2(const std::string& bytes) {
  const auto unit = [&bytes](std::size_t at) {
    return static_cast<std::uint32_t>((static_cast<unsigned char>(bytes[at]) << 8) |
                                      static_cast<unsigned char>(bytes[at + 1]));
  };
  const auto high = [](std::uint32_t u) { return u >= 0xD800 && u <= 0xDBFF; };
  const auto low = [](std::uint32_t u) { return u >= 0xDC00 && u <= 0xDFFF; };
  std::string out;
  std::size_t at = 0;
  for (; at + 1 < bytes.size(); at += 2) {
    std::uint32_t code = unit(at);
    if (high(code) && at + 3 < bytes.size() && low(unit(at + 2))) {
      code = 0x10000 + ((code - 0xD800) << 10) + (unit(at + 2) - 0xDC00);
      at += 2;
    } else if (high(code) || low(code)) {
      code = kReplacement;
    }
    AppendUtf8(code, &out);
  }
  if (at < bytes.size()) {
    AppendUtf8(kReplacement, &out);
  }
  return out;
}

// The text after the character-table bytes in UTF-8, control codes still in.
// `table` is biTStream's name for it: "" for a reserved table, nullptr for
// one it does not name (a table byte of 0x1F, a bad 0x10 triple); those and
// any the platform cannot convert are read as ISO-8859-1. The default table
// is the DVB Latin alphabet (latin_table.h).
std::string Decoded(const char* table, const std::string& bytes) {
  if (table != nullptr && std::strcmp(table, "UCS-2BE") == 0) {
    return FromUcs2(bytes);
  }
  if (table != nullptr && std::strcmp(table, "UTF-8") == 0) {
    return bytes;  // checked by the final pass
  }
  const bool single_byte = table == nullptr || std::strncmp(table, "ISO", 3) == 0;
  const std::string text = single_byte ? WithoutControlBytes(bytes) : bytes;
  if (table != nullptr && std::strcmp(table, kDefaultTable) == 0) {
    return FromDvbLatin(text);
  }
  std::string utf8;
  if (table == nullptr || *table == '\0' || !Convert(table, text, &utf8)) {
    return FromLatin1(text);
  }
  return utf8;
}

// The code point that starts at text[*at], moving *at past it; U+FFFD for a
// byte that starts no valid sequence (*at then moves by that one byte).
std::uint32_t NextCodePoint(const std::string& text, std::size_t* at) {
  const auto lead = static_cast<unsigned char>(text[*at]);
  std::size_t extra = 0;
  std::uint32_t code = lead;
  std::uint32_t least = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    extra = 1, code = lead & 0x1Fu, least = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    extra = 2, code = lead & 0x0Fu, least = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    extra = 3, code = lead & 0x07u, least = 0x10000;
  } else if (lead >= 0x80) {
    ++*at;
    return kReplacement;
  }
  if (*at + extra >= text.size()) {  // the sequence runs past the end
    ++*at;
    return kReplacement;
  }
  for (std::size_t i = 1; i <= extra; ++i) {
    const auto next = static_cast<unsigned char>(text[*at + i]);
    if ((next & 0xC0) != 0x80) {
      ++*at;
      return kReplacement;
    }
    code = (code << 6) | (next & 0x3Fu);
  }
  if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
    ++*at;
    return kReplacement;
  }
  *at += extra + 1;
  return code;
}

// Control codes left after conversion: C0 and C1, and the DVB codes that the
// multi-byte tables carry at U+E080..U+E09F (U+E08A breaks the line).
std::string CleanUtf8(const std::string& text) {
  std::string out;
  for (std::size_t at = 0; at < text.size();) {
    const std::uint32_t code = NextCodePoint(text, &at);
    if (code == '\n' || code == '\r' || code == 0x8A || code == 0xE08A) {
      out.push_back(' ');
    } else if (code >= 0x20 && code != 0x7F && !(code >= 0x80 && code <= 0x9F) &&
               !(code >= 0xE080 && code <= 0xE09F)) {
      AppendUtf8(code, &out);
    }
  }
  return out;
}

}  // namespace

std::string DvbTextToUtf8(const std::uint8_t* text, std::size_t length) {
  const char* table = dvb_string_get_encoding(&text, &length, kDefaultTable);
  return CleanUtf8(Decoded(table, std::string(reinterpret_cast<const char*>(text), length)));
}

std::string CommandLineTextToUtf8(const std::string& text) {
#ifdef _WIN32
  const int size =
      MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &wide[0], size);
  std::string utf8;
  return FromWide(wide, &utf8) ? utf8 : text;
#else
  return text;
#endif
}

}  // namespace dvb
