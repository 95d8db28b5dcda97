// The card's internal device bus in the stand-in: the demodulator with its
// register file and the LNB power controller, reached through the library's two
// private bus routines. Part of the card's state, guarded by the card's mutex.
#pragma once

#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "sim/journal.h"

namespace sim {

constexpr int kDemodulatorDevice = 0x1C;
constexpr int kLnbControllerDevice = 0x10;

struct BusTransaction {
  std::string text;             // "write 1C 01 94", "read 1C 1E -> E1", "... failed"
  std::size_t vendor_position;  // vendor journal lines added before it
};

struct Bus {
  std::uint8_t registers[256] = {};  // the demodulator's
  int lnb_control = -1;              // last control byte written; -1 none yet
  // Reads of the status register that still show a started DiSEqC
  // transmission busy; negative: it never ends.
  int diseqc_busy_reads = 2;
  bool transmitting = false;
  int busy_reads_left = 0;
  // Delivered to the dish after the transaction (Frontend::TakeBusEvents): the
  // message a start write to the DiSEqC control register sent, and the LNB
  // controller's control bytes.
  std::vector<std::uint8_t> diseqc_sent;
  std::vector<std::uint8_t> lnb_written;

  Journal<BusTransaction> journal;
  bool fail_all = false;
  std::set<std::size_t> failing_lines;              // transactions to fail, counted from 0
  std::set<std::pair<int, int>> failing_registers;  // (device, register)

  void Reset();
  // One transaction; the caller holds the card's mutex. `read_count` 0 with a
  // null buffer is a plain write.
  std::int32_t Transfer(int device, const std::uint8_t* bytes, int count, std::uint8_t* buffer,
                        int read_count, bool is_read, std::size_t vendor_position);

 private:
  std::uint8_t ReadDemodulator(std::uint8_t reg);
  void WriteDemodulator(std::uint8_t reg, std::uint8_t value);
};

}  // namespace sim
