// The vendor library's entries over a SAT>IP server (card.h), declared as
// cardlib/vendor_entries.h says for each target: under Windows the vendor's
// decorated names and thiscall, natively the plain C names the module binds.
// The objects are the module's memory: the board-control object is left as it
// is, and the frontend object carries the frontend flags at byte 64.
#include "abi/card_figures.h"
#include "cardlib/vendor_entries.h"
#include "satipcard/card.h"

using satipcard::kDone;
using satipcard::kRefused;

extern "C" {

CARD_ENTRY void* CARD_MEMBER CDVBBoardControl_Construct(void* self) { return self; }
CARD_ENTRY void CARD_MEMBER CDVBBoardControl_Destruct(void* /*self*/) {}

CARD_ENTRY std::int32_t CARD_MEMBER CDVBBoardControl_ResetInit(void* /*self*/) {
  return satipcard::CardOpen() ? kDone : kRefused;
}

CARD_ENTRY std::int32_t CARD_MEMBER CDVBBoardControl_EnableDataDMA(void* /*self*/,
                                                                   std::int32_t /*on*/) {
  return satipcard::CardOpen() ? kDone : kRefused;
}

// Declared by the vendor's library with a bool result (cardlib/ttlcdacc.def).
CARD_ENTRY bool CARD_MEMBER CDVBBoardControl_TSRecordOnOff(void* /*self*/, std::int32_t on) {
  return satipcard::Record(on != 0);
}

CARD_ENTRY std::int32_t CARD_MEMBER CDVBBoardControl_TSRecordRead(void* /*self*/,
                                                                  std::uint8_t* buffer,
                                                                  std::int32_t capacity) {
  return satipcard::ReadStream(buffer, capacity);
}

CARD_ENTRY void* CARD_MEMBER CDVBFrontend_Construct(void* self) { return self; }
CARD_ENTRY void CARD_MEMBER CDVBFrontend_Destruct(void* /*self*/) {}

// The frontend flags stay 0: FEC as the words give it (bit 0 clear), word 1 =
// 1 (bit 4 clear), and word 7 as the host asks (bit 20 clear): SAT>IP carries
// neither a modulation family nor the inversion.
CARD_ENTRY std::int32_t CARD_MEMBER CDVBFrontend_Init(void* self) {
  if (!satipcard::CardOpen()) {
    return kRefused;
  }
  cardlib::SetFrontendFlags(self, 0);
  return kDone;
}

CARD_ENTRY std::int32_t CARD_MEMBER CDVBFrontend_SetChannel(void* /*self*/,
                                                            cardlib::ChannelType channel,
                                                            std::int32_t /*flags*/) {
  return satipcard::Tune(channel.word);
}

CARD_ENTRY std::int32_t CARD_MEMBER CDVBFrontend_GetState(void* /*self*/, std::int32_t* lock,
                                                          void* signal, void* /*lock_state*/) {
  std::int32_t locked = 0;
  std::uint8_t level = 0;
  double bit_error_rate = 0;
  const std::int32_t result = satipcard::ReadState(&locked, &level, &bit_error_rate);
  if (result != kDone) {
    return result;
  }
  if (lock != nullptr) {
    *lock = locked;
  }
  if (signal != nullptr) {
    cardlib::FillSignal(signal, bit_error_rate, level);
  }
  return kDone;
}

// No bus routines: the entry starts a page, so that the module stays in
// vendor mode (cardlib/vendor_entries.h).
CARD_ENTRY CARD_SEND_DISEQC_PLACEMENT std::int32_t CARD_MEMBER CDVBFrontend_SendDiSEqCMsg(
    void* /*self*/, std::uint8_t* message, std::uint8_t count, std::uint8_t burst) {
  return satipcard::SendDiseqc(message, count, burst);
}

// Declared by the vendor's library with a bool result.
CARD_ENTRY bool CDVBCommon_OpenDevice(std::uint16_t /*card*/, const char* /*name*/,
                                      std::int32_t /*flags*/) {
  return satipcard::OpenCard();
}

CARD_ENTRY std::int32_t CDVBCommon_CloseDevice() {
  satipcard::CloseCard();
  return kDone;
}

CARD_ENTRY void InitDvbApiDll() {}

CARD_ENTRY int CardReadFigures(CardFiguresRecord* figures) {
  return satipcard::ReadFigures(figures);
}

// abi/card_problem.h
CARD_ENTRY int CardLastProblem(char* buffer, int capacity) {
  return satipcard::LastProblem(buffer, capacity);
}

}  // extern "C"
