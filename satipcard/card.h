// The card behind the vendor entries: one SAT>IP tuner per process, reached
// at OpenDevice (the settings read, the server found and asked whether it
// answers) and let go at CloseDevice (TEARDOWN). The host's thread tunes,
// polls and switches while the module's capture thread reads the ring; a read
// never waits.
#pragma once

#include <cstdint>

#include "abi/card_figures.h"

namespace satipcard {

// Vendor results: 0 success, anything else a failure.
constexpr std::int32_t kDone = 0;
constexpr std::int32_t kRefused = 1;

// Reads the settings, finds the server and checks that it answers; on failure
// says why on stderr and in the log.
bool OpenCard();
void CloseCard();
bool CardOpen();

// SETUP and PLAY, or PLAY, for the channel words; kDone only when the server
// accepted the tuning.
std::int32_t Tune(const std::uint32_t (&word)[8]);
// Lock, the level byte and the bit-error rate, from the server's latest report.
std::int32_t ReadState(std::int32_t* locked, std::uint8_t* level, double* bit_error_rate);
// A switch command or burst becomes the next tune's src; anything else fails.
std::int32_t SendDiseqc(const std::uint8_t* message, std::uint8_t count, std::uint8_t burst);
bool Record(bool on);
// Whole packets, without waiting; 0 when there are none or recording is off.
std::int32_t ReadStream(std::uint8_t* buffer, std::int32_t capacity);
int ReadFigures(CardFiguresRecord* figures);
// The last problem said on stderr (abi/card_problem.h).
int LastProblem(char* buffer, int capacity);

}  // namespace satipcard
