// The card library the module drives the card through: which one the program
// uses (--card), loading it before the card opens so that the module's load of
// the vendor library's name takes it, and finding the one the module loaded
// with the entries of their own it has (card_figures.h reads them).
#pragma once
#include <cstdint>
#include <string>

#include "sim/lineup_entry.h"

struct CardFiguresRecord;  // abi/card_figures.h
struct LinuxDvbAdapter;    // linuxdvb/figures.h

namespace host {

constexpr char kCardLibraryName[] = "ttlcdacc.dll";

enum class CardKind {
  kDefault,  // ttlcdacc.dll beside this program, else the stand-in in virtual-card/
  kLinux,    // linuxdvb/ttlcdacc.dll beside this program (native only)
  kSatip,    // satipcard/ttlcdacc.dll beside this program: a SAT>IP server's tuner
  kPath,     // a library at a path
};

struct CardChoice {
  CardKind kind = CardKind::kDefault;
  std::string path;  // kPath
  // kLinux: MORVALIND_DVB for it; kSatip: MORVALIND_SATIP, the server as
  // HOST:PORT. Empty leaves the variable as it is.
  std::string selector;
};

// Reads --card: "linux", "linux:adapterN" (or "linux:N"), "remote:HOST:PORT"
// (with ":adapterN" after it for another adapter there), "satip" (the server
// the SAT>IP library's settings or SSDP give), "satip:HOST[:PORT]", or a path.
// False with `error` for a word that names no choice on this target.
bool ParseCardChoice(const std::string& text, CardChoice* choice, std::string* error);

// The library the choice loads ahead of the module; empty when none does (the
// default with ttlcdacc.dll beside the program or nothing at all: the module
// then looks for it itself).
std::string CardLibraryPath(const CardChoice& choice);

// Sets MORVALIND_DVB for the Linux library or MORVALIND_SATIP for the SAT>IP
// one and loads the chosen library, kept
// loaded for the module's open. False with `problem` when the library is
// missing, does not load, or is not known to the system by the vendor
// library's name (the module would then load another one).
bool LoadCardLibrary(const CardChoice& choice, std::string* problem);

using LineupEntryFunction = int (*)(int index, SimTransponder* out);
using SatelliteNameFunction = int (*)(int satellite, char* buffer, int capacity);
using ReadFiguresFunction = int (*)(CardFiguresRecord* figures);
using ListAdaptersFunction = int (*)(LinuxDvbAdapter* adapters, int capacity,
                                     std::uint32_t entry_size);
using LastProblemFunction = int (*)(char* buffer, int capacity);  // abi/card_problem.h

// The card library in the process, found by the vendor library's name: its
// file, and the entries of their own that the stand-in card, the Linux DVB
// library and the SAT>IP library have.
struct CardLibrary {
  std::string path;  // empty when none is loaded
  LineupEntryFunction lineup_entry = nullptr;
  SatelliteNameFunction satellite_name = nullptr;
  ReadFiguresFunction read_figures = nullptr;
  ListAdaptersFunction list_adapters = nullptr;
  LastProblemFunction last_problem = nullptr;
};

// The last problem the library said on stderr ("adapter7: no such adapter"),
// where it keeps one; empty otherwise.
std::string CardLibraryProblem(const CardLibrary& library);

// Also remembers the library as the one in use.
CardLibrary FindCardLibrary();
// The library FindCardLibrary found last; none before.
const CardLibrary& CardLibraryInUse();

}  // namespace host
