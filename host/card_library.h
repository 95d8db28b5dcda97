// The card library the module drives the card through: which one the program
// uses (--card), loading it before the card opens so that the module's load of
// the vendor library's name takes it, finding the one the module loaded, and
// the Linux DVB card library's own figures and adapter list, where the loaded
// library has them (the stand-in card and the vendor's library have neither).
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "host/report.h"
#include "sim/control.h"  // the layout of the stand-in's lineup entries; nothing is linked

constexpr char kCardLibraryName[] = "ttlcdacc.dll";

enum class CardKind {
  kDefault,  // ttlcdacc.dll beside this program, else the stand-in in virtual-card/
  kLinux,    // linuxdvb/ttlcdacc.dll beside this program (native only)
  kPath,     // a library at a path
};

struct CardChoice {
  CardKind kind = CardKind::kDefault;
  std::string path;      // kPath
  std::string selector;  // kLinux: MORVALIND_DVB for it; empty leaves the variable as it is
};

// Reads --card: "linux", "linux:adapterN" (or "linux:N"), "remote:HOST:PORT"
// (with ":adapterN" after it for another adapter there), or a path. False
// with `error` for a word that names no choice on this target.
bool ParseCardChoice(const std::string& text, CardChoice* choice, std::string* error);

// The library the choice loads ahead of the module; empty when none does (the
// default with ttlcdacc.dll beside the program or nothing at all: the module
// then looks for it itself).
std::string CardLibraryPath(const CardChoice& choice);

// Sets MORVALIND_DVB for the Linux library and loads the chosen library, kept
// loaded for the module's open. False with `problem` when the library is
// missing, does not load, or is not known to the system by the vendor
// library's name (the module would then load another one).
bool LoadCardLibrary(const CardChoice& choice, std::string* problem);

struct LinuxDvbFigures;  // linuxdvb/figures.h
using LineupEntryFunction = int (*)(int index, SimTransponder* out);
using SatelliteNameFunction = int (*)(int satellite, char* buffer, int capacity);
using ReadFiguresFunction = int (*)(LinuxDvbFigures* figures);
using ListAdaptersFunction = int (*)(char* buffer, int capacity);

// The card library in the process, found by the vendor library's name: its
// file, and the entries of their own that the stand-in card and the Linux DVB
// library have.
struct CardLibrary {
  std::string path;  // empty when none is loaded
  LineupEntryFunction lineup_entry = nullptr;
  SatelliteNameFunction satellite_name = nullptr;
  ReadFiguresFunction read_figures = nullptr;
  ListAdaptersFunction list_adapters = nullptr;
};

// Also remembers the library as the one in use, for CardStreamErrors.
CardLibrary FindCardLibrary();

// The Linux DVB library's own figures: signal and C/N as the driver gives
// them, and what the library counted since the card opened.
struct CardFigures {
  std::string device;                    // "adapter0", "adapter0 on HOST:PORT"
  std::string frontend;                  // the frontend's own name
  bool locked = false;                   // at the last signal poll
  std::optional<double> level_dbm;       // signal strength
  std::optional<double> level_relative;  // 0..65535, where the driver gives no dBm
  std::optional<double> cnr_db;
  std::optional<double> cnr_relative;
  std::optional<double> bit_error_rate;  // none until bits are counted
  const char* ber_source = "";           // "counters", "v3"
  std::uint64_t packets = 0, overflows = 0, skipped_bytes = 0, lock_losses = 0, stream_errors = 0;
};

// False when the library has no figures of its own.
bool ReadCardFigures(const CardLibrary& library, CardFigures* figures);

// "card_figures": {"device", "frontend", "locked", "level_dbm", "level_relative",
// "cnr_db", "cnr_relative", "bit_error_rate", "ber_source", "packets",
// "overflows", "skipped_bytes", "lock_losses", "stream_errors"}.
Json CardFiguresJson(const CardFigures& figures);
// "-55.0 dBm  C/N 33.0 dB  BER 2.0e-05": the signal figures in short.
std::string CardSignalText(const CardFigures& figures);
// The line "Card figures ...": the signal in short and the counts.
void SayCardFigures(const CardFigures& figures);

// Stream reads the card library in use counted as failed (the adapter or the
// daemon gone); 0 when the library does not count them.
std::uint64_t CardStreamErrors();
// A capture's "stopped_by" when they grew.
constexpr char kStoppedByStreamFailure[] = "the card's stream failing";

// One frontend as LinuxDvbListAdapters lists it.
struct AdapterEntry {
  int adapter = 0;
  int frontend = 0;
  std::string name;  // empty when it could not be described
  std::vector<std::string> systems;
};

// The adapters the library finds; false when they cannot be listed (the
// library said why on stderr).
bool ListAdapters(const CardLibrary& library, std::vector<AdapterEntry>* adapters);
