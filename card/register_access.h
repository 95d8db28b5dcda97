// Direct register path to the demodulator and the LNB power controller, over
// two bus routines that the card's access library carries but does not export.
#pragma once

#include <cstdint>

// The library's bus routines: plain, caller-cleaned functions returning 0 on
// success. `bus_read` writes `count` bytes to the device, then reads
// `read_count` bytes from it into `buffer`; `bus_write` only writes.
using BusReadRoutine = std::int32_t (*)(std::int32_t device, const std::uint8_t* bytes,
                                        std::int32_t count, std::uint8_t* buffer,
                                        std::int32_t read_count);
using BusWriteRoutine = std::int32_t (*)(std::int32_t device, const std::uint8_t* bytes,
                                         std::int32_t count);

// Process-wide; empty until the routines are first located, never cleared.
extern BusReadRoutine bus_read;
extern BusWriteRoutine bus_write;

struct BusRoutineAddresses {
  std::uintptr_t read;
  std::uintptr_t write;
};

// Where the bus routines lie in the library build whose exported
// CDVBFrontend::SendDiSEqCMsg is at `send_diseqc`. Returns false for a build
// the module does not know (an address of 0 included).
bool BusRoutinesFor(std::uintptr_t send_diseqc, BusRoutineAddresses* routines);

class RegisterAccess {
 public:
  // Finds the bus routines in the loaded library: 0 when found, -1 otherwise
  // (the entry points are then left as they were). Every call that obtains the
  // library takes one more reference to it, which is never given back, so the
  // routines stay valid for the life of the process.
  std::int32_t LocateBusRoutines();

  // The register's value 0 to 255, or a negative failure result.
  std::int32_t ReadRegister(std::uint8_t reg);
  // 0 on success.
  std::int32_t WriteRegister(std::uint8_t reg, std::uint8_t value);
  // Read-modify-write: clears `clear`, then sets `set`. Writes nothing when the
  // read fails; the write's result is not reported.
  void UpdateRegister(std::uint8_t reg, std::uint8_t clear, std::uint8_t set);
  // The LNB power controller's control byte; the result is not reported.
  void WriteLnbControl(std::uint8_t control);
  // Always fills `level`; a failed read gives the low 8 bits of its result
  // (0xFF, the weakest level).
  void ReadSignalLevel(std::uint8_t& level);
  // True when the demodulator identifies itself as the supported one.
  bool CheckDemodulatorId();
  // Polls the DiSEqC status until a transmission has ended, for at most 21
  // reads 10 ms apart. Running out of reads is not reported.
  void WaitDiseqcIdle();

  // The demodulator's start-up programme; results are ignored.
  void InitDemodulator();
  // Sends a DiSEqC message of 1 to 6 bytes through the demodulator's
  // registers: 0 when it was loaded, started and the control register
  // restored; -1 when it was refused or a bus step failed.
  std::int32_t SendLongDiseqc(const std::uint8_t* message, std::uint32_t length);
};
