// The DVB default character table: see latin_table.h.
#include "dvb/latin_table.h"

#include <cstdint>
#include <cstring>

namespace dvb {

namespace {

constexpr std::uint16_t kUnassigned = 0xFFFD;

// 0xA0..0xFF; 0xC1..0xCF are the accents, whose combining form is given here.
constexpr std::uint16_t kUpperHalf[96] = {
    // A0    A1      A2      A3      A4      A5      A6      A7
    0x00A0,
    0x00A1,
    0x00A2,
    0x00A3,
    0x20AC,
    0x00A5,
    kUnassigned,
    0x00A7,
    // A8    A9      AA      AB      AC      AD      AE      AF
    0x00A4,
    0x2018,
    0x201C,
    0x00AB,
    0x2190,
    0x2191,
    0x2192,
    0x2193,
    // B0    B1      B2      B3      B4      B5      B6      B7
    0x00B0,
    0x00B1,
    0x00B2,
    0x00B3,
    0x00D7,
    0x00B5,
    0x00B6,
    0x00B7,
    // B8    B9      BA      BB      BC      BD      BE      BF
    0x00F7,
    0x2019,
    0x201D,
    0x00BB,
    0x00BC,
    0x00BD,
    0x00BE,
    0x00BF,
    // C0         C1 grave C2 acute C3 circ. C4 tilde C5 macron C6 breve C7 dot
    kUnassigned,
    0x0300,
    0x0301,
    0x0302,
    0x0303,
    0x0304,
    0x0306,
    0x0307,
    // C8 diaer. C9         CA ring CB cedil. CC        CD dbl ac. CE ogonek CF caron
    0x0308,
    kUnassigned,
    0x030A,
    0x0327,
    kUnassigned,
    0x030B,
    0x0328,
    0x030C,
    // D0    D1      D2      D3      D4      D5      D6      D7
    0x2015,
    0x00B9,
    0x00AE,
    0x00A9,
    0x2122,
    0x266A,
    0x00AC,
    0x00A6,
    // D8        D9           DA           DB           DC      DD      DE      DF
    kUnassigned,
    kUnassigned,
    kUnassigned,
    kUnassigned,
    0x215B,
    0x215C,
    0x215D,
    0x215E,
    // E0    E1      E2      E3      E4      E5           E6      E7
    0x2126,
    0x00C6,
    0x0110,
    0x00AA,
    0x0126,
    kUnassigned,
    0x0132,
    0x013F,
    // E8    E9      EA      EB      EC      ED      EE      EF
    0x0141,
    0x00D8,
    0x0152,
    0x00BA,
    0x00DE,
    0x0166,
    0x014A,
    0x0149,
    // F0    F1      F2      F3      F4      F5      F6      F7
    0x0138,
    0x00E6,
    0x0111,
    0x00F0,
    0x0127,
    0x0131,
    0x0133,
    0x0140,
    // F8    F9      FA      FB      FC      FD      FE      FF
    0x0142,
    0x00F8,
    0x0153,
    0x00DF,
    0x00FE,
    0x0167,
    0x014B,
    0x00AD,
};

// Each accent with the letters it has a precomposed character for, and those
// characters in the same order.
struct Composition {
  unsigned char accent;
  char letters[27];  // at most 26 letters, held in place: no padding
  std::uint16_t composed[26];
};

constexpr Composition kCompositions[] = {
    {0xC1, "AEIOUaeiou", {0xC0, 0xC8, 0xCC, 0xD2, 0xD9, 0xE0, 0xE8, 0xEC, 0xF2, 0xF9}},
    {0xC2,
     "ACEILNORSUYZacegilnorsuyz",
     {0xC1,  0x106, 0xC9,  0xCD, 0x139, 0x143, 0xD3, 0x154, 0x15A, 0xDA, 0xDD, 0x179, 0xE1,
      0x107, 0xE9,  0x1F5, 0xED, 0x13A, 0x144, 0xF3, 0x155, 0x15B, 0xFA, 0xFD, 0x17A}},
    {0xC3, "ACEGHIJOSUWYaceghijosuwy", {0xC2,  0x108, 0xCA,  0x11C, 0x124, 0xCE,  0x134, 0xD4,
                                        0x15C, 0xDB,  0x174, 0x176, 0xE2,  0x109, 0xEA,  0x11D,
                                        0x125, 0xEE,  0x135, 0xF4,  0x15D, 0xFB,  0x175, 0x177}},
    {0xC4, "AINOUainou", {0xC3, 0x128, 0xD1, 0xD5, 0x168, 0xE3, 0x129, 0xF1, 0xF5, 0x169}},
    {0xC5, "AEIOUaeiou", {0x100, 0x112, 0x12A, 0x14C, 0x16A, 0x101, 0x113, 0x12B, 0x14D, 0x16B}},
    {0xC6, "AGUagu", {0x102, 0x11E, 0x16C, 0x103, 0x11F, 0x16D}},
    {0xC7, "CEGIZcegz", {0x10A, 0x116, 0x120, 0x130, 0x17B, 0x10B, 0x117, 0x121, 0x17C}},
    {0xC8,
     "AEIOUYaeiouy",
     {0xC4, 0xCB, 0xCF, 0xD6, 0xDC, 0x178, 0xE4, 0xEB, 0xEF, 0xF6, 0xFC, 0xFF}},
    {0xCA, "AUau", {0xC5, 0x16E, 0xE5, 0x16F}},
    {0xCB,
     "CGKLNRSTcgklnrst",
     {0xC7, 0x122, 0x136, 0x13B, 0x145, 0x156, 0x15E, 0x162, 0xE7, 0x123, 0x137, 0x13C, 0x146,
      0x157, 0x15F, 0x163}},
    {0xCD, "OUou", {0x150, 0x170, 0x151, 0x171}},
    {0xCE, "AEIUaeiu", {0x104, 0x118, 0x12E, 0x172, 0x105, 0x119, 0x12F, 0x173}},
    {0xCF,
     "CDELNRSTZcdelnrstz",
     {0x10C, 0x10E, 0x11A, 0x13D, 0x147, 0x158, 0x160, 0x164, 0x17D, 0x10D, 0x10F, 0x11B, 0x13E,
      0x148, 0x159, 0x161, 0x165, 0x17E}},
};

void Append(std::uint32_t code, std::string* out) {
  if (code < 0x80) {
    out->push_back(static_cast<char>(code));
  } else if (code < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (code >> 6)));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xE0 | (code >> 12)));
    out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  }
}

bool IsAccent(unsigned char byte) {
  return byte >= 0xC1 && byte <= 0xCF && kUpperHalf[byte - 0xA0] != kUnassigned;
}

// The accent on `letter`: the precomposed character, or 0 where there is none.
std::uint16_t Composed(unsigned char accent, unsigned char letter) {
  for (const Composition& entry : kCompositions) {
    const char* found = entry.accent == accent && letter != 0
                            ? std::strchr(entry.letters, static_cast<char>(letter))
                            : nullptr;
    if (found != nullptr) {
      return entry.composed[found - entry.letters];
    }
  }
  return 0;
}

}  // namespace

std::string FromDvbLatin(const std::string& bytes) {
  std::string out;
  for (std::size_t at = 0; at < bytes.size(); ++at) {
    const auto byte = static_cast<unsigned char>(bytes[at]);
    if (byte < 0x80) {
      out.push_back(static_cast<char>(byte));
      continue;
    }
    if (byte < 0xA0) {
      Append(kUnassigned, &out);  // control codes are taken out before
      continue;
    }
    if (!IsAccent(byte)) {
      Append(kUpperHalf[byte - 0xA0], &out);
      continue;
    }
    // An accent goes on the letter after it; a letter of none stays a
    // letter, the accent then combining after it.
    const unsigned char letter =
        at + 1 < bytes.size() ? static_cast<unsigned char>(bytes[at + 1]) : 0;
    if (const std::uint16_t composed = Composed(byte, letter); composed != 0) {
      Append(composed, &out);
      ++at;
    } else if (letter >= 0x20 && letter < 0x7F) {
      out.push_back(static_cast<char>(letter));
      Append(kUpperHalf[byte - 0xA0], &out);
      ++at;
    } else {
      Append(kUpperHalf[byte - 0xA0], &out);
    }
  }
  return out;
}

}  // namespace dvb
