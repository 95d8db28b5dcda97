// The DVB adapter behind the vendor entries, through libdvbv5's dvb_dev
// layer: one card per process, opened by OpenDevice and released by
// CloseDevice. The host's thread tunes, polls and sends DiSEqC while the
// module's capture thread reads the stream; the two never wait on each other
// for longer than one non-blocking read.
#pragma once

#include <cstdint>

#include "linuxdvb/channel.h"
#include "linuxdvb/figures.h"

namespace linuxdvb {

// Vendor results: 0 success, anything else a failure.
constexpr std::int32_t kDone = 0;
constexpr std::int32_t kRefused = 1;

// Opens the adapter MORVALIND_DVB names (adapter 0 by default): its
// frontend, demux and stream device. On failure says why on stderr.
bool OpenCard();
// Stops the stream, switches the LNB supply off and releases the adapter.
void CloseCard();
bool CardOpen();

// Checks that the frontend does DVB-S and works out the frontend flags.
std::int32_t InitFrontend(std::uint32_t* frontend_flags);

// Sets the LNB supply and tone, then tunes; the driver's result.
std::int32_t Tune(const DvbsTuning& tuning);

// One poll of the frontend: lock, the level byte and the bit-error rate.
std::int32_t ReadState(std::int32_t* locked, std::uint8_t* level, double* bit_error_rate);

// The master command (count > 0), then the mini burst (0 A, 1 B, 0xFF none),
// with the gaps a switch needs.
std::int32_t SendDiseqc(const std::uint8_t* message, std::uint8_t count, std::uint8_t burst);

// Starts or stops the whole transport stream into the stream device.
bool Record(bool on);

// Whole packets of the stream, without waiting; 0 when there are none (or
// recording is off).
std::int32_t ReadStream(std::uint8_t* buffer, std::int32_t capacity);

int ReadFigures(LinuxDvbFigures* figures);
int ListAdapters(LinuxDvbAdapter* adapters, int capacity);
// The last line the library said on stderr (abi/card_problem.h).
int LastProblem(char* buffer, int capacity);

}  // namespace linuxdvb
