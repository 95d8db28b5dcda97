// The vendor library's entries as our own card libraries (sim/, linuxdvb/,
// satipcard/) present them to the module: how an entry is declared on each
// target, where the module's objects keep what a library leaves in them, and
// the records passed by value or filled. The module's own side of the same
// contract is card/vendor.h.
//
// On win32 the entries are exported under the vendor's decorated C++ names
// (ttlcdacc.def beside this file) and called as members: `this` in ECX, the
// callee pops. On native they carry plain C names with default visibility.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#ifdef _WIN32
#pragma GCC diagnostic ignored "-Wattributes"  // thiscall on plain functions is meant
#define CARD_MEMBER __attribute__((thiscall))
#define CARD_ENTRY
#else
#define CARD_MEMBER
#define CARD_ENTRY __attribute__((visibility("default")))
#endif

// The module recognises a library build with bus routines by where
// CDVBFrontend::SendDiSEqCMsg lies (the low 16 bits of its address, 0x79E0 or
// 0x79B0 within 64 KiB). A library without bus routines starts that entry a
// page, so that its address never ends in those bits and the module stays in
// vendor mode. Libraries load at 64 KiB-aligned bases on both targets.
#define CARD_SEND_DISEQC_PLACEMENT __attribute__((aligned(4096)))

namespace cardlib {

// The frontend object: the 32-bit frontend flags Init leaves at byte 64.
constexpr std::size_t kFrontendFlagsOffset = 64;

// CDVBFrontend::_CHANNEL_TYPE, passed by value: eight 32-bit words.
struct ChannelType {
  std::uint32_t word[8];
};
static_assert(sizeof(ChannelType) == 32, "vendor record layout");

inline std::uint32_t FrontendFlags(const void* frontend) {
  std::uint32_t flags = 0;
  std::memcpy(&flags, static_cast<const std::uint8_t*>(frontend) + kFrontendFlagsOffset,
              sizeof flags);
  return flags;
}

inline void SetFrontendFlags(void* frontend, std::uint32_t flags) {
  std::memcpy(static_cast<std::uint8_t*>(frontend) + kFrontendFlagsOffset, &flags, sizeof flags);
}

// CDVBFrontend::_SIGNAL_TYPE, 24 bytes: the bit-error rate as a double at byte
// 8 and the level in the 32-bit word at byte 20 are what the module reads.
constexpr std::size_t kSignalBitErrorRateOffset = 8;
constexpr std::size_t kSignalLevelOffset = 20;

inline void FillSignal(void* signal, double bit_error_rate, std::uint32_t level) {
  auto* record = static_cast<std::uint8_t*>(signal);
  std::memcpy(record + kSignalBitErrorRateOffset, &bit_error_rate, sizeof bit_error_rate);
  std::memcpy(record + kSignalLevelOffset, &level, sizeof level);
}

}  // namespace cardlib
