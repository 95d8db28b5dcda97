// The program's system interface under Windows: see system.h.
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "host/system.h"
#include "loader/system_error.h"

namespace host {

namespace {

std::atomic<int> request{0};        // the console event + 1; 0 none
HANDLE finished = nullptr;          // set by ReadyToEnd
constexpr DWORD kCloseWait = 4000;  // ms; the system allows a closing console 5 s

BOOL WINAPI OnConsoleEvent(DWORD event) {
  int none = 0;
  const bool first = request.compare_exchange_strong(none, static_cast<int>(event) + 1);
  // A closed console, a logoff or a shutdown ends the program as soon as this
  // returns: it waits here until the card is closed and the outputs finished.
  if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
    WaitForSingleObject(finished, kCloseWait);
    return TRUE;
  }
  // The first request is ours to handle; the system's own handling ends the program at a second.
  return first ? TRUE : FALSE;
}

// The C runtime's calls set errno, the system's GetLastError: both are
// cleared before a call, so that the one that says something is the one read.
void ClearErrors() {
  errno = 0;
  SetLastError(0);
}

}  // namespace

const bool kWindowsSystem = true;

std::string ExecutablePath() {
  char path[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
  return std::string(path, length < sizeof path ? length : 0);
}

void SetEnvironment(const char* name, const std::string& value) {
  // The card libraries read it with GetEnvironmentVariableA.
  SetEnvironmentVariableA(name, value.c_str());
}

const char kConfigFolderHelp[] = "%APPDATA%\\";

std::string ConfigFolder() {
  char folder[MAX_PATH] = {};
  const DWORD length = GetEnvironmentVariableA("APPDATA", folder, sizeof folder);
  return length > 0 && length < sizeof folder ? std::string(folder, length) + "\\" : std::string();
}

std::string LastError(bool* pipe_closed) {
  const DWORD code = GetLastError();
  if (pipe_closed != nullptr) {
    *pipe_closed = code == ERROR_BROKEN_PIPE || code == ERROR_NO_DATA ||
                   code == ERROR_PIPE_NOT_CONNECTED || errno == EPIPE;
  }
  return code != 0 ? WindowsErrorText(code) : std::strerror(errno);
}

unsigned long ProcessId() { return GetCurrentProcessId(); }

// A file open for writing is held: FileHeld's open, which shares reading
// only, fails on it.
int OpenFile(const std::string& path, OpenMode mode, bool* file_exists) {
  constexpr int kFlags[] = {O_WRONLY, O_WRONLY | O_CREAT | O_TRUNC, O_WRONLY | O_CREAT | O_EXCL,
                            O_WRONLY | O_APPEND};
  ClearErrors();
  const int file = _open(path.c_str(), kFlags[static_cast<int>(mode)] | O_BINARY | O_NOINHERIT,
                         _S_IREAD | _S_IWRITE);
  if (file_exists != nullptr) {
    *file_exists = file < 0 && errno == EEXIST;
  }
  return file;
}

bool FileHeld(const std::string& path) {
  const HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return GetLastError() == ERROR_SHARING_VIOLATION;
  }
  CloseHandle(file);
  return false;
}

long WriteFile(int file, const void* data, std::size_t size) {
  ClearErrors();
  return _write(file, data, static_cast<unsigned>(size));
}

long WriteStream(int file, const void* data, std::size_t size) {
  ClearErrors();
  DWORD wrote = 0;
  const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(file));
  return ::WriteFile(handle, data, static_cast<DWORD>(size), &wrote, nullptr) != 0
             ? static_cast<long>(wrote)
             : -1;
}

bool CloseFile(int file) {
  ClearErrors();
  return _close(file) == 0;
}

bool IsRegularFile(int file) {
  struct _stat64 status {};
  return _fstat64(file, &status) == 0 && (status.st_mode & _S_IFMT) == _S_IFREG;
}

bool CutFile(int file, std::uint64_t size) {
  ClearErrors();
  return _chsize_s(file, static_cast<long long>(size)) == 0;
}

bool MoveOver(const std::string& from, const std::string& to) {
  ClearErrors();
  return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

bool MoveOpenFileOver(int* file, const std::string& from, const std::string& to) {
  // An open file cannot be renamed here: closed, renamed, and opened again.
  if (*file < 0 || !CloseFile(*file)) {
    return false;
  }
  *file = -1;
  if (!MoveOver(from, to)) {
    return false;
  }
  *file = OpenFile(to, OpenMode::kAppend);
  return *file >= 0;
}

void StandardOutputBinary() { _setmode(1, O_BINARY); }

WakeUp::WakeUp() : event_(CreateEventA(nullptr, FALSE, FALSE, nullptr)) {}

WakeUp::~WakeUp() {
  if (event_ != nullptr) {
    CloseHandle(event_);
  }
}

void WakeUp::Wake() {
  if (pending_.exchange(1) == 0) {
    SetEvent(event_);
  }
}

void WakeUp::Wait(unsigned milliseconds) {
  if (pending_.exchange(0) == 0) {
    WaitForSingleObject(event_, milliseconds);
    pending_.exchange(0);
  }
}

// Console events come on a thread of their own and end no write.
void LeaveStopRequestsToOthers() {}

bool IsTerminal(std::FILE* stream) { return _isatty(_fileno(stream)) != 0; }

std::size_t TerminalColumns(std::FILE* stream) {
  CONSOLE_SCREEN_BUFFER_INFO info;
  const HANDLE handle = GetStdHandle(stream == stderr ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
  if (GetConsoleScreenBufferInfo(handle, &info) != 0 && info.srWindow.Right > info.srWindow.Left) {
    return static_cast<std::size_t>(info.srWindow.Right - info.srWindow.Left + 1);
  }
  return 0;
}

void CatchStopRequests() {
  finished = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

const char* StopRequest() {
  const int seen = request.load();
  return seen == 0 ? nullptr : seen == CTRL_C_EVENT + 1 ? "Ctrl-C" : "a console event";
}

void ReadyToEnd() {
  if (finished != nullptr) {
    SetEvent(finished);
  }
}

}  // namespace host
