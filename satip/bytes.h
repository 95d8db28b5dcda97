// Big-endian 16- and 32-bit fields, as RTP and RTCP write them.
#pragma once
#include <cstdint>

namespace satip {

inline void Put16(std::uint8_t* out, std::uint16_t value) {
  out[0] = static_cast<std::uint8_t>(value >> 8);
  out[1] = static_cast<std::uint8_t>(value);
}

inline void Put32(std::uint8_t* out, std::uint32_t value) {
  Put16(out, static_cast<std::uint16_t>(value >> 16));
  Put16(out + 2, static_cast<std::uint16_t>(value));
}

inline std::uint16_t Get16(const std::uint8_t* in) {
  return static_cast<std::uint16_t>(in[0] << 8 | in[1]);
}

inline std::uint32_t Get32(const std::uint8_t* in) {
  return static_cast<std::uint32_t>(Get16(in)) << 16 | Get16(in + 2);
}

}  // namespace satip
