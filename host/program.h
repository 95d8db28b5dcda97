// What every part of morvalind-host shares: its name, its exit statuses, its
// version, and its clock.
#pragma once
#include <chrono>
#include <string>

namespace host {

constexpr char kProgram[] = "morvalind-host";

// The folder this program was started from, with its separator at the end
// (natively through /proc/self/exe, symbolic links resolved).
std::string ProgramFolder();

// A capture or watch stopped by Ctrl-C, SIGTERM or a closed reader ends as done.
constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;  // the card refused a request after opening
constexpr int kExitUsage = 2;
constexpr int kExitModule = 3;
constexpr int kExitCard = 4;
constexpr int kExitNoLock = 5;
constexpr int kExitFile = 6;  // the output file or stream cannot be written

constexpr char kExitStatusHelp[] =
    "Exit status: 0 done (also a capture or watch stopped by Ctrl-C, SIGTERM or a\n"
    "closed reader); 1 the card refused a request after opening; 2 bad command\n"
    "line; 3 the module cannot be loaded or lacks its exports; 4 the card did not\n"
    "open; 5 no lock on the transponder; 6 the output cannot be written.\n";

// "1.1.0 (git 6e2035e)": the module's product version, from its version
// resource, and the git description of the sources it was built from.
const char* VersionText();
const char* ProductVersion();  // "1.1.0"
const char* SourceVersion();   // "6e2035e"

using Clock = std::chrono::steady_clock;

inline double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace host
