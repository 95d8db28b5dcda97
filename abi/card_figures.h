/* A card library's own figures, beside what the module reports: the signal as
 * the card or the tuner gives it, and what the library counted since the card
 * opened. Our card libraries that have such figures (linuxdvb/, satipcard/)
 * export CardReadFigures; a host program finds it by name on the loaded card
 * library (the stand-in card and the vendor's library have none). Plain C,
 * the same on both targets (cdecl). */
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

enum CardScale {
  CARD_SCALE_NONE = 0,     /* the library has no such figure */
  CARD_SCALE_DECIBEL = 1,  /* dB; the signal strength in dBm */
  CARD_SCALE_RELATIVE = 2, /* 0..65535 */
  CARD_SCALE_SATIP = 3     /* a SAT>IP 1.2.2 server's: level 0..255, quality 0..15 */
};

enum CardBerSource {
  CARD_BER_NONE = 0,     /* no figure yet: none counted since the tune */
  CARD_BER_COUNTERS = 1, /* DVBv5 error and bit counters after the inner decoder */
  CARD_BER_V3 = 2,       /* the driver's DVBv3 figure */
  CARD_BER_QUALITY = 3   /* worked out from the server's quality (satipcard/README.md) */
};

/* What a library counts, each since the card was opened; `counted` has bit
 * (1 << n) set for each count n the library keeps. */
enum CardCount {
  CARD_COUNT_PACKETS = 0,       /* whole packets handed to the module */
  CARD_COUNT_OVERFLOWS = 1,     /* the driver's stream buffer ran over: data lost there */
  CARD_COUNT_SKIPPED_BYTES = 2, /* bytes passed over to find a packet start */
  CARD_COUNT_LOCK_LOSSES = 3,   /* the lock gone while recording */
  CARD_COUNT_STREAM_ERRORS = 4, /* the stream failed: the adapter, daemon or server gone */
  CARD_COUNT_DATAGRAMS = 5,     /* RTP datagrams received */
  CARD_COUNT_MISSING = 6,       /* datagrams the sequence numbers say never came */
  CARD_COUNT_REORDERED = 7,     /* datagrams that came after a later one, put back in order */
  CARD_COUNT_LATE = 8,          /* datagrams that came after their place was given up: dropped */
  CARD_COUNT_RING_FULL = 9,     /* packets dropped because the module did not read them in time */
  CARD_COUNTS = 10
};

struct CardFiguresRecord {
  uint32_t size;      /* the caller sets it to sizeof(struct CardFiguresRecord) */
  int32_t open;       /* the card is open */
  char device[96];    /* "adapter0", "SAT>IP 192.168.1.5:554 over UDP" */
  char frontend[128]; /* the frontend's own name, the server's stream */
  /* As the last GetState found them (the module polls it for lock and signal). */
  int32_t locked;
  int32_t strength_scale; /* enum CardScale */
  double strength;        /* dBm, relative, or the SAT>IP level */
  int32_t cnr_scale;      /* enum CardScale; CARD_SCALE_SATIP: the server's quality */
  double cnr;
  int32_t ber_source; /* enum CardBerSource */
  double bit_error_rate;
  uint32_t counted; /* bits of enum CardCount */
  uint64_t counts[CARD_COUNTS];
};

/* Fills `figures`; 0 done, -1 when figures->size does not match this build. */
#ifdef _WIN32
int CardReadFigures(struct CardFiguresRecord* figures);
#else
__attribute__((visibility("default"))) int CardReadFigures(struct CardFiguresRecord* figures);
#endif

#ifdef __cplusplus
}
#endif
