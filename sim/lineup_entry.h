/* The stand-in card's lineup as a host program reads it: one transponder of
 * the card's lineup, as its entry SimLineupEntry fills it. A host finds the two
 * entries below by name in the loaded card library (the Linux DVB library and
 * the vendor's have neither); sim/control.h declares them for the tests. Plain C. */
#pragma once

#include <stdint.h>

struct SimTransponder {
  int32_t satellite; /* 0: switch port 1 or burst A; 1: port 2 or burst B */
  uint32_t frequency_mhz;
  char polarity; /* 'H' or 'V' */
  uint32_t symbol_rate_ksps;
  uint32_t fec_code;  /* e.g. 0x34, as in TuningRecord */
  char services[160]; /* service names separated by ';' */
};

/* int SimLineupEntry(int index, struct SimTransponder* out):
 *   0 and fills *out, or -1 past the end.
 * int SimSatelliteName(int satellite, char* buffer, int capacity):
 *   the name's length, or -1 for no such satellite. */
