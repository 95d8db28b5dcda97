// The operating system as the program uses it, in one small interface with one
// file for each system (system_posix.cpp, system_win32.cpp): the program's own
// file and its environment, the system's reasons for failures, files by
// descriptor, the terminal, and requests from outside to stop (signals, the
// console's events). Sockets and timers are standalone Asio's, which carries
// its own such seam and sits beside this one.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace host {

// True in the Windows build.
extern const bool kWindowsSystem;

// The running program's own file, symbolic links resolved; empty when unknown.
std::string ExecutablePath();
// Sets a variable of the process's environment (the card libraries read theirs
// from it as they load).
void SetEnvironment(const char* name, const std::string& value);
// The folder of the user's own settings, with its separator at the end:
// $XDG_CONFIG_HOME, else ~/.config (under Windows %APPDATA%); empty when the
// environment names none. kConfigFolderHelp is that rule as help texts say it.
std::string ConfigFolder();
extern const char kConfigFolderHelp[];

// The system's reason for the last failed call of this interface or of the C
// runtime, and whether it says that the reader of a pipe went away.
std::string LastError(bool* pipe_closed = nullptr);

// This process's number, for names of its own.
unsigned long ProcessId();

// Files by descriptor, in binary mode: -1 when one cannot be opened (LastError
// says why).
enum class OpenMode {
  kExisting,   // writes to a file that is there (a device or pipe as it is)
  kCreate,     // creates it, or cuts one that is there to nothing
  kCreateNew,  // creates it, held (below); fails when one is there (*file_exists says so)
  kAppend,     // writes at the end of a file that is there
};
int OpenFile(const std::string& path, OpenMode mode, bool* file_exists = nullptr);
// Whether another program holds the file: one that writes it through a held
// descriptor (a capture), or under Windows any that has it open for writing.
bool FileHeld(const std::string& path);
// Bytes written, or -1 (LastError says why; EINTR when a signal ended the wait).
long WriteFile(int file, const void* data, std::size_t size);
// The same for a device or pipe, past the C runtime: a thread may be left
// waiting in it while the program ends.
long WriteStream(int file, const void* data, std::size_t size);
bool CloseFile(int file);
// A regular file, not a device, pipe or socket.
bool IsRegularFile(int file);
// Cuts the file to `size` bytes.
bool CutFile(int file, std::uint64_t size);
// Renames `from` over `to`, replacing it.
bool MoveOver(const std::string& from, const std::string& to);
// Renames the held file `*file` writes, `from`, over `to`; *file then writes
// `to` at its end, still held (-1 when that failed, LastError says why).
bool MoveOpenFileOver(int* file, const std::string& from, const std::string& to);
// Standard output carries bytes as they are (no line-end translation).
void StandardOutputBinary();

// A wake-up that one thread waits for and others give, with no lock on either
// side: a Wake with nobody waiting is kept for the next Wait.
class WakeUp {
 public:
  WakeUp();
  ~WakeUp();  // NOLINT(performance-trivially-destructible): under Windows it closes the event
  WakeUp(const WakeUp&) = delete;
  WakeUp& operator=(const WakeUp&) = delete;
  void Wake();
  // Returns at a Wake (or one kept), or after `milliseconds`, or earlier
  // (a signal): the waiter looks again at what it waits for.
  void Wait(unsigned milliseconds);

 private:
  std::atomic<std::uint32_t> pending_{0};
  void* event_ = nullptr;  // NOLINT(clang-diagnostic-unused-private-field): Windows' event
};

// The calling thread leaves stop requests (signals) to the others: a writer
// thread's writes are never cut by one, and the capture loop sees it at once.
void LeaveStopRequestsToOthers();

bool IsTerminal(std::FILE* stream);
// The terminal's columns; 0 when the stream is none.
std::size_t TerminalColumns(std::FILE* stream);

// Catches requests from outside to stop long work from now on: SIGINT,
// SIGTERM and SIGHUP (its terminal closed), or under Windows the console's
// Ctrl-C, Ctrl-Break and close events. The first request is remembered for
// the capture and watch loops, which then end cleanly (whole packets, the
// summary, the card closed); a second one ends the program at once, as the
// system would. A reader that goes away (a closed pipe) then shows as a
// failed write, not as a signal that ends the program.
void CatchStopRequests();
// nullptr until a request came, then its name: "SIGINT", "SIGTERM", "SIGHUP", "Ctrl-C".
const char* StopRequest();
// The command is done: the card closed, the outputs finished. Under Windows a
// console close, logoff or shutdown event waits for this (4 s at most) before
// the system ends the program.
void ReadyToEnd();

}  // namespace host
