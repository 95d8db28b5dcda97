// The transport stream's unit: every packet is 188 bytes, the first the sync byte.
#pragma once
#include <cstddef>

namespace dvb {

constexpr std::size_t kTsPacketSize = 188;

}  // namespace dvb
