// The stand-in card's vendor library entries, declared as cardlib/vendor_entries.h
// says for each target.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "cardlib/vendor_entries.h"
#include "sim/card.h"
#include "sim/stream.h"

namespace {

using sim::Card;
using sim::TheCard;

// The objects' first word, where a vendor object keeps its table of virtual
// members. A 32-bit word: the board-control object is only 4 bytes long.
constexpr std::uint32_t kBoardControlTag = 0xB0A2DC01;
constexpr std::uint32_t kFrontendTag = 0xF2013E01;

const char* const kClass[2] = {"CDVBBoardControl", "CDVBFrontend"};

std::string Call(int object, const char* member, const std::string& arguments = "") {
  return std::string(kClass[object]) + "::" + member + "(" + arguments + ")";
}

void Construct(int object, void* self) {
  Card& card = TheCard();
  std::lock_guard<std::mutex> hold(card.mutex);
  const std::uint32_t tag = object == SIM_OBJECT_BOARD_CONTROL ? kBoardControlTag : kFrontendTag;
  std::memcpy(self, &tag, sizeof tag);
  ++card.live[object];
  ++card.constructions[object];
  card.objects[object].insert(self);
  card.Log(Call(object, kClass[object]));
}

void Destruct(int object, void* self) {
  Card& card = TheCard();
  std::lock_guard<std::mutex> hold(card.mutex);
  card.LogMember(object, self, Call(object, (std::string("~") + kClass[object]).c_str()));
  if (card.objects[object].erase(self) != 0) {
    --card.live[object];
  }
}

// A member call that answers with the scripted result of `step`.
std::int32_t Answer(int object, const void* self, int step, const char* member,
                    const std::string& arguments = "") {
  Card& card = TheCard();
  std::lock_guard<std::mutex> hold(card.mutex);
  card.LogMember(object, self, Call(object, member, arguments));
  return card.results[step];
}

}  // namespace

void sim::Card::LogMember(int object, const void* self, const std::string& call) {
  Log(objects[object].count(self) != 0 ? call : call + " on a dead object");
}

extern "C" {

CARD_ENTRY void* CARD_MEMBER CDVBBoardControl_Construct(void* self) {
  Construct(SIM_OBJECT_BOARD_CONTROL, self);
  return self;
}

CARD_ENTRY void CARD_MEMBER CDVBBoardControl_Destruct(void* self) {
  Destruct(SIM_OBJECT_BOARD_CONTROL, self);
}

CARD_ENTRY std::int32_t CARD_MEMBER CDVBBoardControl_ResetInit(void* self) {
  return Answer(SIM_OBJECT_BOARD_CONTROL, self, SIM_STEP_RESET_INIT, "ResetInit");
}

CARD_ENTRY std::int32_t CARD_MEMBER CDVBBoardControl_EnableDataDMA(void* self, std::int32_t on) {
  return Answer(SIM_OBJECT_BOARD_CONTROL, self, SIM_STEP_ENABLE_DATA_DMA, "EnableDataDMA",
                std::to_string(on));
}

// Declared by this library build with a bool result.
CARD_ENTRY bool CARD_MEMBER CDVBBoardControl_TSRecordOnOff(void* self, std::int32_t on) {
  Card& card = TheCard();
  std::lock_guard<std::mutex> hold(card.mutex);
  card.LogMember(SIM_OBJECT_BOARD_CONTROL, self,
                 Call(SIM_OBJECT_BOARD_CONTROL, "TSRecordOnOff", std::to_string(on)));
  const bool ok = card.results[SIM_STEP_TS_RECORD_ON_OFF] == 0;
  if (ok) {
    card.recording = on != 0;
    sim::TheStream().SetRecording(card.recording);
  }
  return ok;
}

// Whole packets of the card's stream while recording is on (sim/stream.h).
CARD_ENTRY std::int32_t CARD_MEMBER CDVBBoardControl_TSRecordRead(void* /*self*/,
                                                                  std::uint8_t* buffer,
                                                                  std::int32_t capacity) {
  bool recording = false;
  {
    Card& card = TheCard();
    std::lock_guard<std::mutex> hold(card.mutex);
    ++card.reads;
    recording = card.recording;
  }
  return sim::RecordRead(buffer, capacity, recording);
}

CARD_ENTRY void* CARD_MEMBER CDVBFrontend_Construct(void* self) {
  Construct(SIM_OBJECT_FRONTEND, self);
  return self;
}

CARD_ENTRY void CARD_MEMBER CDVBFrontend_Destruct(void* self) {
  Destruct(SIM_OBJECT_FRONTEND, self);
}

CARD_ENTRY std::int32_t CARD_MEMBER CDVBFrontend_Init(void* self) {
  Card& card = TheCard();
  std::lock_guard<std::mutex> hold(card.mutex);
  card.LogMember(SIM_OBJECT_FRONTEND, self, Call(SIM_OBJECT_FRONTEND, "Init"));
  const std::int32_t result = card.results[SIM_STEP_FRONTEND_INIT];
  if (result == 0) {
    cardlib::SetFrontendFlags(self, card.frontend_flags);
  }
  return result;
}

#ifndef SIM_LEAVE_OUT_SET_CHANNEL  // a build that lacks an entry, for tests
CARD_ENTRY std::int32_t CARD_MEMBER CDVBFrontend_SetChannel(void* self,
                                                            cardlib::ChannelType channel,
                                                            std::int32_t flags) {
  std::string arguments;
  for (const std::uint32_t word : channel.word) {
    arguments += std::to_string(word) + " ";
  }
  arguments += std::to_string(flags);
  Card& card = TheCard();
  std::int32_t result = 0;
  int delay_ms = 0;
  {
    std::lock_guard<std::mutex> hold(card.mutex);
    card.LogMember(SIM_OBJECT_FRONTEND, self, Call(SIM_OBJECT_FRONTEND, "SetChannel", arguments));
    result = card.results[SIM_STEP_SET_CHANNEL];
    if (result == 0) {
      card.frontend.SetChannel(channel.word);
    }
    delay_ms = card.settings.tune_delay_ms;
  }
  // The lineup file's tune delay: the time a real tuner takes to settle.
  if (delay_ms > 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms));
  }
  return result;
}
#endif

// One poll of the frontend: the lock value and, when asked for, the signal
// record (bit-error rate at byte 8, level in the word at byte 20). A scripted
// failure answers without polling.
CARD_ENTRY std::int32_t CARD_MEMBER CDVBFrontend_GetState(void* self, std::int32_t* lock,
                                                          void* signal, void* lock_state) {
  (void)lock_state;
  Card& card = TheCard();
  std::lock_guard<std::mutex> hold(card.mutex);
  card.LogMember(SIM_OBJECT_FRONTEND, self, Call(SIM_OBJECT_FRONTEND, "GetState"));
  const std::int32_t result = card.results[SIM_STEP_GET_STATE];
  if (result == 0) {
    card.frontend.Poll(lock, static_cast<std::uint8_t*>(signal), card.bus);
  }
  return result;
}

// Exported as CDVBFrontend_SendDiSEqCMsg by an entry at the build's fixed place
// (bus_layout.cpp), which jumps here.
std::int32_t CARD_MEMBER SimFrontendSendDiSEqCMsg(void* self, std::uint8_t* message,
                                                  std::uint8_t count, std::uint8_t burst) {
  std::string arguments;
  for (int i = 0; i < count && message != nullptr; ++i) {
    char hex[4];
    std::snprintf(hex, sizeof hex, "%02X ", message[i]);
    arguments += hex;
  }
  arguments += std::to_string(count) + ", " + std::to_string(burst);
  Card& card = TheCard();
  std::lock_guard<std::mutex> hold(card.mutex);
  card.LogMember(SIM_OBJECT_FRONTEND, self, Call(SIM_OBJECT_FRONTEND, "SendDiSEqCMsg", arguments));
  const std::int32_t result = card.results[SIM_STEP_SEND_DISEQC];
  if (result == 0) {
    card.frontend.Diseqc(message, count, burst);
  }
  return result;
}

// Declared by this library build with a bool result: only the low byte carries
// it, and the rest of the result register is left with whatever it held.
CARD_ENTRY std::uint32_t CDVBCommon_OpenDevice(std::uint16_t card_number, const char* name,
                                               std::int32_t flags) {
  Card& card = TheCard();
  std::lock_guard<std::mutex> hold(card.mutex);
  card.Log("CDVBCommon::OpenDevice(" + std::to_string(card_number) + ", " +
           (name == nullptr ? std::string("null") : std::string(name)) + ", " +
           std::to_string(flags) + ")");
  // A lineup file that cannot be used keeps the card from opening; the module
  // then reports that the card did not open, and this says why.
  if (!card.lineup_error.empty()) {
    card.said = card.lineup_error + "; the card does not open";
    std::fprintf(stderr, "ttlcdacc (stand-in card): %s\n", card.said.c_str());
  }
  const bool opened = card.lineup_error.empty() && card.results[SIM_STEP_OPEN_DEVICE] != 0;
  card.device_open = card.device_open || opened;
#ifdef _WIN32
  return 0xA5A5A500U | (opened ? 1U : 0U);
#else
  return opened ? 1U : 0U;
#endif
}

CARD_ENTRY std::int32_t CDVBCommon_CloseDevice() {
  Card& card = TheCard();
  std::lock_guard<std::mutex> hold(card.mutex);
  card.Log("CDVBCommon::CloseDevice()");
  card.device_open = false;
  card.recording = false;
  sim::TheStream().SetRecording(false);
  return card.results[SIM_STEP_CLOSE_DEVICE];
}

CARD_ENTRY void InitDvbApiDll() {
  Card& card = TheCard();
  std::lock_guard<std::mutex> hold(card.mutex);
  card.Log("InitDvbApiDll()");
}

}  // extern "C"
