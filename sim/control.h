/* The stand-in card's control panel: what tests and tools use to script the
 * card's answers and to read back what the module asked of it. Plain C so that
 * the same calls work on both targets. */
#pragma once

#include <stdint.h>

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
  SIM_STEP_OPEN_DEVICE,   /* 1 opened, 0 failed */
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

/* Back to a new card: default results, empty journal, recording off. */
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
 * millisecond). */
SIM_API int SimJournalSize(void);
/* Copies line `index` into `buffer` (NUL-terminated, cut to `capacity`);
 * returns its full length, or -1 when there is no such line. */
SIM_API int SimJournalLine(int index, char* buffer, int capacity);
/* The thread that made the call of line `index`. */
SIM_API uint32_t SimJournalThread(int index);
SIM_API void SimJournalClear(void);
SIM_API int64_t SimReadCount(void);

#ifdef __cplusplus
}
#endif
