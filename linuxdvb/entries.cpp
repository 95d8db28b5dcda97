// The vendor library's entries, under the plain C names the native module
// binds (card/vendor.cpp), over the DVB adapter of card.h. The objects are the
// module's memory: the board-control object is left as it is, and the
// frontend object carries the frontend flags at byte 64.
#include <cstdio>

#include "abi/card_figures.h"
#include "cardlib/vendor_entries.h"
#include "linuxdvb/card.h"
#include "linuxdvb/channel.h"
#include "linuxdvb/figures.h"

#define LINUXDVB_ENTRY CARD_ENTRY

namespace {

constexpr bool Same(int linux_dvb, int card) { return linux_dvb == card; }
static_assert(Same(LINUXDVB_SCALE_DECIBEL, CARD_SCALE_DECIBEL) &&
                  Same(LINUXDVB_SCALE_RELATIVE, CARD_SCALE_RELATIVE) &&
                  Same(LINUXDVB_BER_COUNTERS, CARD_BER_COUNTERS) &&
                  Same(LINUXDVB_BER_V3, CARD_BER_V3),
              "the Linux library's scales are the first of every card library's");

// The library's figures as every card library of ours gives them.
CardFiguresRecord GeneralFigures(const LinuxDvbFigures& figures) {
  CardFiguresRecord out{};
  out.size = sizeof out;
  out.open = figures.open;
  std::snprintf(out.device, sizeof out.device, "%s", figures.device);
  std::snprintf(out.frontend, sizeof out.frontend, "%s", figures.frontend);
  out.locked = figures.locked;
  out.strength_scale = figures.strength_scale;
  out.strength = figures.strength;
  out.cnr_scale = figures.cnr_scale;
  out.cnr = figures.cnr;
  out.ber_source = figures.ber_source;
  out.bit_error_rate = figures.bit_error_rate;
  const std::uint64_t counts[] = {figures.packets, figures.overflows, figures.skipped_bytes,
                                  figures.lock_losses, figures.stream_errors};
  for (unsigned n = CARD_COUNT_PACKETS; n <= CARD_COUNT_STREAM_ERRORS; ++n) {
    out.counted |= 1U << n;
    out.counts[n] = counts[n];
  }
  return out;
}

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
    cardlib::SetFrontendFlags(self, flags);
  }
  return result;
}

LINUXDVB_ENTRY std::int32_t CDVBFrontend_SetChannel(void* self, cardlib::ChannelType channel,
                                                    std::int32_t /*flags*/) {
  linuxdvb::DvbsTuning tuning;
  if (!linuxdvb::TuningFromChannel(channel.word, cardlib::FrontendFlags(self), &tuning)) {
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
    cardlib::FillSignal(signal, bit_error_rate, level);
  }
  return result;
}

// This library has no bus routines: the entry starts a page, so that the module
// stays in vendor mode (cardlib/vendor_entries.h).
LINUXDVB_ENTRY CARD_SEND_DISEQC_PLACEMENT std::int32_t CDVBFrontend_SendDiSEqCMsg(
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

int CardReadFigures(CardFiguresRecord* figures) {
  LinuxDvbFigures read{};
  read.size = sizeof read;
  if (figures == nullptr || figures->size != sizeof(CardFiguresRecord) ||
      linuxdvb::ReadFigures(&read) != 0) {
    return -1;
  }
  *figures = GeneralFigures(read);
  return 0;
}

int LinuxDvbListAdapters(LinuxDvbAdapter* adapters, int capacity, std::uint32_t entry_size) {
  return entry_size == sizeof(LinuxDvbAdapter) ? linuxdvb::ListAdapters(adapters, capacity) : -1;
}

// abi/card_problem.h
LINUXDVB_ENTRY int CardLastProblem(char* buffer, int capacity) {
  return linuxdvb::LastProblem(buffer, capacity);
}

}  // extern "C"
