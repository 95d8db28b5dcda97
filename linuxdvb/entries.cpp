// The vendor library's entries, under the plain C names the native module
// binds (card/vendor.cpp), over the DVB adapter of card.h. The objects are the
// module's memory: the board-control object is left as it is, and the
// frontend object carries the frontend flags at byte 64.
#include <cstring>

#include "linuxdvb/card.h"
#include "linuxdvb/channel.h"
#include "linuxdvb/figures.h"

#define LINUXDVB_ENTRY __attribute__((visibility("default")))

namespace {

constexpr std::size_t kFlagsOffset = 64;
constexpr std::size_t kBitErrorRateOffset = 8;  // in the signal record: a double
constexpr std::size_t kLevelOffset = 20;        // in the signal record: a 32-bit word

struct ChannelType {
  std::uint32_t word[8];
};

}  // namespace

extern "C" {

LINUXDVB_ENTRY void* CDVBBoardControl_Construct(void* self) { return self; }
LINUXDVB_ENTRY void CDVBBoardControl_Destruct(void* /*self*/) {}

LINUXDVB_ENTRY std::int32_t CDVBBoardControl_ResetInit(void* /*self*/) {
  return linuxdvb::CardOpen() ? linuxdvb::kDone : linuxdvb::kRefused;
}

LINUXDVB_ENTRY std::int32_t CDVBBoardControl_EnableDataDMA(void* /*self*/, std::int32_t /*on*/) {
  return linuxdvb::CardOpen() ? linuxdvb::kDone : linuxdvb::kRefused;
}

LINUXDVB_ENTRY std::int32_t CDVBBoardControl_TSRecordOnOff(void* /*self*/, std::int32_t on) {
  return linuxdvb::Record(on != 0) ? linuxdvb::kDone : linuxdvb::kRefused;
}

LINUXDVB_ENTRY std::int32_t CDVBBoardControl_TSRecordRead(void* /*self*/, std::uint8_t* buffer,
                                                          std::int32_t capacity) {
  return linuxdvb::ReadStream(buffer, capacity);
}

LINUXDVB_ENTRY void* CDVBFrontend_Construct(void* self) { return self; }
LINUXDVB_ENTRY void CDVBFrontend_Destruct(void* /*self*/) {}

LINUXDVB_ENTRY std::int32_t CDVBFrontend_Init(void* self) {
  std::uint32_t flags = 0;
  const std::int32_t result = linuxdvb::InitFrontend(&flags);
  if (result == linuxdvb::kDone) {
    std::memcpy(static_cast<std::uint8_t*>(self) + kFlagsOffset, &flags, sizeof flags);
  }
  return result;
}

LINUXDVB_ENTRY std::int32_t CDVBFrontend_SetChannel(void* self, ChannelType channel,
                                                    std::int32_t /*flags*/) {
  std::uint32_t frontend_flags = 0;
  std::memcpy(&frontend_flags, static_cast<const std::uint8_t*>(self) + kFlagsOffset,
              sizeof frontend_flags);
  linuxdvb::DvbsTuning tuning;
  if (!linuxdvb::TuningFromChannel(channel.word, frontend_flags, &tuning)) {
    return linuxdvb::kRefused;
  }
  return linuxdvb::Tune(tuning);
}

LINUXDVB_ENTRY std::int32_t CDVBFrontend_GetState(void* /*self*/, std::int32_t* lock, void* signal,
                                                  void* /*lock_state*/) {
  std::int32_t locked = 0;
  std::uint8_t level = 0;
  double bit_error_rate = 0;
  const std::int32_t result = linuxdvb::ReadState(&locked, &level, &bit_error_rate);
  if (result != linuxdvb::kDone) {
    return result;
  }
  if (lock != nullptr) {
    *lock = locked;
  }
  if (signal != nullptr) {
    const std::uint32_t level_word = level;
    auto* record = static_cast<std::uint8_t*>(signal);
    std::memcpy(record + kBitErrorRateOffset, &bit_error_rate, sizeof bit_error_rate);
    std::memcpy(record + kLevelOffset, &level_word, sizeof level_word);
  }
  return result;
}

// The module recognises a library build with bus routines by where this entry
// lies (the low 16 bits of its address); such builds place it at 0x79E0 or
// 0x79B0 within 64 KiB. This library has no bus routines: the entry starts a
// page, so its address never ends in those bits and the module stays in
// vendor mode.
LINUXDVB_ENTRY __attribute__((aligned(4096))) std::int32_t CDVBFrontend_SendDiSEqCMsg(
    void* /*self*/, std::uint8_t* message, std::uint8_t count, std::uint8_t burst) {
  return linuxdvb::SendDiseqc(message, count, burst);
}

LINUXDVB_ENTRY std::uint32_t CDVBCommon_OpenDevice(std::uint16_t /*card*/, const char* /*name*/,
                                                   std::int32_t /*flags*/) {
  return linuxdvb::OpenCard() ? 1U : 0U;
}

LINUXDVB_ENTRY std::int32_t CDVBCommon_CloseDevice() {
  linuxdvb::CloseCard();
  return linuxdvb::kDone;
}

LINUXDVB_ENTRY void InitDvbApiDll() {}

int LinuxDvbReadFigures(LinuxDvbFigures* figures) { return linuxdvb::ReadFigures(figures); }

int LinuxDvbListAdapters(LinuxDvbAdapter* adapters, int capacity, std::uint32_t entry_size) {
  return entry_size == sizeof(LinuxDvbAdapter) ? linuxdvb::ListAdapters(adapters, capacity) : -1;
}

// abi/card_problem.h
LINUXDVB_ENTRY int CardLastProblem(char* buffer, int capacity) {
  return linuxdvb::LastProblem(buffer, capacity);
}

}  // extern "C"
