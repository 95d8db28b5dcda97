/* The stand-in card's control panel: what tests and tools use to script the
 * card's answers and to read back what the module asked of it. Plain C so that
 * the same calls work on both targets. */
#pragma once

#include <stdint.h>

#include "sim/lineup_entry.h" /* struct SimTransponder */

#ifdef _WIN32
#define SIM_API __declspec(dllimport)
#ifdef SIM_BUILD
#undef SIM_API
#define SIM_API
#endif
#else
#define SIM_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The vendor calls whose result can be scripted. */
enum SimStep {
  SIM_STEP_INIT_DVB_API = 0,
  SIM_STEP_OPEN_DEVICE, /* 1 opened, 0 failed */
  SIM_STEP_RESET_INIT,
  SIM_STEP_ENABLE_DATA_DMA,
  SIM_STEP_FRONTEND_INIT,
  SIM_STEP_CLOSE_DEVICE,
  SIM_STEP_TS_RECORD_ON_OFF,
  SIM_STEP_SET_CHANNEL,
  SIM_STEP_GET_STATE,
  SIM_STEP_SEND_DISEQC,
  SIM_STEP_COUNT
};

/* The vendor objects the module constructs in its own memory. */
enum SimObject { SIM_OBJECT_BOARD_CONTROL = 0, SIM_OBJECT_FRONTEND = 1 };

/* Back to a new card as built: default results, empty journal, recording off,
 * no lineup file (SimLoadLineup reads one). */
SIM_API void SimReset(void);

/* Every later call of `step` returns `result` (0 is success, except for
 * OpenDevice, where nonzero is success). */
SIM_API void SimSetResult(int step, int32_t result);

/* The value the frontend's Init leaves in the word at byte 64 of the object. */
SIM_API void SimSetFrontendFlags(uint32_t flags);

/* Objects constructed and not yet destroyed, and constructions so far. */
SIM_API int SimLiveObjects(int object);
SIM_API int SimConstructions(int object);

/* Whether the card's stream recording is on. */
SIM_API int SimRecording(void);

/* The journal: one line per vendor call, "Class::Method(arguments)", in order.
 * TSRecordRead is counted, not journaled (the capture thread calls it every
 * millisecond). Each of the card's journals (this one, the bus journal and
 * the dish journal) keeps its latest 256 lines, so that a long run uses no
 * more memory than a short one; line 0 is the oldest line held. */
SIM_API int SimJournalSize(void);
/* Copies line `index` into `buffer` (NUL-terminated, cut to `capacity`);
 * returns its full length, or -1 when there is no such line. */
SIM_API int SimJournalLine(int index, char* buffer, int capacity);
/* The thread that made the call of line `index`. */
SIM_API uint32_t SimJournalThread(int index);
SIM_API void SimJournalClear(void);
SIM_API int64_t SimReadCount(void);

/* The card's transport stream. Reads deliver data only while recording is on:
 * first the scripted chunks, in order, then the generated stream of the
 * default multiplex (PAT, PMTs, SDT with service names, PCR, PES, continuity
 * counters; every elementary-stream packet ends with its packet number,
 * 32 bits big-endian). SimReset: recording off, default pacing, generated
 * stream on, no chunks, counters at 0, the stream from its start. */

/* Switches recording as TSRecordOnOff does, without a vendor call. */
SIM_API void SimSetRecording(int on);
/* The generated stream's rate: as many whole packets per read as the rate
 * has produced since recording went on; 0 for none (a full buffer per read).
 * A rate restarts the stream. Default 38,014,705 bit/s (27.5 MSym/s, 3/4). */
SIM_API void SimSetPacing(uint32_t bits_per_second);
/* Whether reads deliver the generated stream once the chunks are used up. */
SIM_API void SimSetGeneratedStream(int on);
/* A read that stores `size` bytes of `data` and returns `size`; a size of 0 or
 * less is a read that returns that value and stores nothing. A chunk larger
 * than the reader's buffer is read in parts. */
SIM_API void SimQueueChunk(const uint8_t* data, int32_t size);
/* Chunks not yet read to their end. */
SIM_API int SimQueuedChunks(void);
/* Packets of the card's own stream (generated, or a recording with its
 * stuffing) that reads have delivered. */
SIM_API int64_t SimGeneratedPackets(void);
/* While on, every read waits inside the library (holding none of the card's
 * locks) until it is switched off: a hung read. */
SIM_API void SimHangReads(int on);
/* How many reads are waiting inside the library now. */
SIM_API int SimHangingReads(void);
/* While on, the next read that delivers data is kept, and every later read
 * while recording is on hands back the same bytes again (cut to the reader's
 * buffer) instead of new ones: a stream generated once, so that a measurement
 * of the reader does not measure the generator. Off: reads take the stream
 * again. SimReset: both off. */
SIM_API void SimRepeatReads(int on);

/* The card's internal bus: the demodulator (device 0x1C) and the LNB power
 * controller (device 0x10), reached through the library's two private bus
 * routines. SimReset restores the power-up registers (identification 0xE1 in
 * register 0x1E, signal level 0x40 in 0x1C, DiSEqC idle in 0x50), clears the
 * journal and every scripted failure. */

/* The bus journal, one line per transaction, apart from the vendor journal:
 * "write 1C 01 94", "read 1C 1E -> E1", and "write 10 0C"; a failed one ends
 * in " failed" and reads nothing. */
SIM_API int SimBusJournalSize(void);
SIM_API int SimBusJournalLine(int index, char* buffer, int capacity);
/* How many of the vendor journal's lines held had been written when
 * transaction `index` was made: places the bus traffic among the vendor calls. */
SIM_API int SimBusJournalPosition(int index);
SIM_API void SimBusJournalClear(void);

/* A demodulator register, as the card holds it. Writes through the bus to the
 * card's own registers 0x1C, 0x1E and 0x50 are taken and ignored. */
SIM_API int SimBusRegister(int reg);
SIM_API void SimBusSetRegister(int reg, int value);
/* The LNB power controller's last control byte; -1 before the first. */
SIM_API int SimBusLnbControl(void);

/* Failures, answered with -1: every transaction (on != 0), transaction number
 * `index` (counted from 0 at the last clear of the bus journal), or every
 * transaction that addresses register `reg` of `device` (its first byte). */
SIM_API void SimBusFailAll(int on);
SIM_API void SimBusFailLine(int index);
SIM_API void SimBusFailRegister(int device, int reg, int on);

/* A DiSEqC transmission starts when register 0x36 is written with bit 3 set;
 * the status register 0x50 then shows bit 0 clear for `reads` reads and set
 * from the next one on; a negative `reads` never ends it. Default 2. */
SIM_API void SimBusSetDiseqcBusyReads(int reads);

/* The frontend and the dish (sim/README.md): a lineup of transponders on two
 * satellites, found from the channel words as the card's library reads them;
 * a committed switch, tone burst and positioner choose the satellite, and the
 * LNB supply the polarity. SimReset: satellite 0 in view, positioner at rest
 * on it, LNB off until the first tune, lock at the second poll, the lineup's
 * own signal figures, an empty dish journal. */
SIM_API int SimLineupEntry(int index,
                           struct SimTransponder* out); /* 0 and fills *out, or -1 past the end */
SIM_API int SimSatelliteName(int satellite, char* buffer, int capacity); /* length, or -1 */

/* The lineup file (sim/README.md): the card's knobs, recordings as
 * transponders. When the library starts it reads the one MORVALIND_SIM_LINEUP
 * names, or else ttlcdacc-lineup.json beside it, and plays the recording
 * MORVALIND_SIM_REPLAY names on every transponder. SimReset sets the card up as
 * built instead: the lineup above, generated streams, default knobs.
 * SimLoadLineup does what SimReset does and then sets the card up by the
 * lineup file at `path`, or, for a null path, by what the environment names,
 * as at start. 0, or -1 when the file or a recording it names cannot be used:
 * the card is then as built, SimLineupError says why, and OpenDevice fails. */
SIM_API int SimLoadLineup(const char* path);
/* Why the lineup file could not be used (NUL-terminated, cut to `capacity`);
 * its full length, 0 when nothing is wrong. */
SIM_API int SimLineupError(char* buffer, int capacity);

/* The GetState poll that first reports lock, counted from the first poll that
 * sees the tuned transponder; below 1 counts as 1. A tune to a frequency with
 * nothing on it never locks. */
SIM_API void SimSetLockPolls(int polls);
/* Lineup entry `index` while locked: the level GetState reports (the low byte
 * of the word at byte 20) and the bit-error rate (the double at byte 8). The
 * demodulator's level register 0x1C shows 255 - ceil(level * 255 / 100), at
 * least 0, while locked and 0xFF when the lock is lost. */
SIM_API void SimSetTransponderSignal(int index, int level, double bit_error_rate);
/* The lineup entry the frontend is locked to, as of its last poll; -1 none. */
SIM_API int SimLockedTransponder(void);
/* The satellite in view: -1 for none (switch ports 3 and 4, a positioner on
 * the move or pointing at nothing). */
SIM_API int SimDishSatellite(void);
/* The LNB supply in volts: 13, 18, or 0 while off. */
SIM_API int SimLnbVoltage(void);
/* The dish journal, one line per event: tunes, lock gained and lost, DiSEqC
 * messages (by either route), bursts, LNB control bytes, positioner travel. */
SIM_API int SimDishJournalSize(void);
SIM_API int SimDishJournalLine(int index, char* buffer, int capacity);

#ifdef __cplusplus
}
#endif
