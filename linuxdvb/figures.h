/* The Linux DVB card library's own figures and adapter list, beside what the
 * module reports. A host program finds LinuxDvbListAdapters with dlsym on the
 * loaded card library, and the figures through CardReadFigures
 * (abi/card_figures.h), as every card library of ours gives them. Plain C. */
#pragma once

#include <stdint.h>

#define LINUXDVB_API __attribute__((visibility("default")))

#ifdef __cplusplus
extern "C" {
#endif

enum LinuxDvbScale {
  LINUXDVB_SCALE_NONE = 0,    /* the frontend gives no such figure */
  LINUXDVB_SCALE_DECIBEL = 1, /* dB; the signal strength in dBm */
  LINUXDVB_SCALE_RELATIVE = 2 /* 0..65535 */
};

enum LinuxDvbBerSource {
  LINUXDVB_BER_NONE = 0,     /* no figure yet: none counted since the tune */
  LINUXDVB_BER_COUNTERS = 1, /* DVBv5 error and bit counters after the inner decoder */
  LINUXDVB_BER_V3 = 2        /* the driver's DVBv3 figure */
};

struct LinuxDvbFigures {
  uint32_t size;      /* the caller sets it to sizeof(struct LinuxDvbFigures) */
  int32_t open;       /* the card is open */
  char device[96];    /* "adapter0", or "adapter0 on HOST:PORT" */
  char frontend[128]; /* the frontend's own name */
  /* As the last GetState found them (the module polls it for lock and signal). */
  int32_t locked;
  int32_t strength_scale; /* enum LinuxDvbScale */
  double strength;        /* dBm, or relative */
  int32_t cnr_scale;      /* enum LinuxDvbScale */
  double cnr;             /* dB, or relative */
  int32_t ber_source;     /* enum LinuxDvbBerSource */
  double bit_error_rate;
  /* Since the card was opened. */
  uint64_t packets;       /* whole packets handed to the module */
  uint64_t overflows;     /* stream overflows the driver reported: data lost in the driver */
  uint64_t skipped_bytes; /* bytes passed over to find a packet start */
  uint64_t lock_losses;   /* GetState found the lock gone while recording */
  uint64_t stream_errors; /* stream reads that failed otherwise (the adapter or the daemon gone) */
};

/* One frontend of a DVB adapter. */
#define LINUXDVB_SYSTEMS 8
struct LinuxDvbAdapter {
  int32_t adapter;
  int32_t frontend;
  int32_t described; /* 0: it could not be opened to read the rest */
  char name[128];    /* the frontend's own name */
  /* Its first LINUXDVB_SYSTEMS delivery systems by their Linux DVB names
   * ("DVBS", "DVBS2", ...), empty after the last. */
  char systems[LINUXDVB_SYSTEMS][16];
};

/* The DVB adapters of this machine, or of the dvbv5-daemon that MORVALIND_DVB
 * names: fills up to `capacity` entries when `entry_size` is
 * sizeof(struct LinuxDvbAdapter); returns how many frontends there are (more
 * than `capacity` when they did not all fit), or -1 when they cannot be
 * listed (the reason goes to stderr) or the size does not match this build. */
LINUXDVB_API int LinuxDvbListAdapters(struct LinuxDvbAdapter* adapters, int capacity,
                                      uint32_t entry_size);

#ifdef __cplusplus
}
#endif
