// The program's system interface over POSIX: see system.h.
#include <fcntl.h>
#include <linux/futex.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "host/system.h"

namespace host {

namespace {

std::atomic<int> request{0};  // the signal's number; 0 none

extern "C" void OnStopSignal(int number) { request.store(number); }

// Once (the system's own handling ends the program at a second signal), and
// without SA_RESTART, which std::signal sets: a write blocked on a full pipe
// then returns at the signal, and the capture loop sees the request.
void CatchSignal(int number, void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  action.sa_flags = SA_RESETHAND;
  sigemptyset(&action.sa_mask);
  sigaction(number, &action, nullptr);
}

// A held file has an exclusive flock, which goes with it when it is renamed
// and ends with its last descriptor.
bool Hold(int file) { return flock(file, LOCK_EX | LOCK_NB) == 0; }

long Futex(std::atomic<std::uint32_t>* word, int operation, std::uint32_t value,
           const timespec* limit = nullptr) {
  return syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(word), operation, value, limit,
                 nullptr, 0);
}

}  // namespace

const bool kWindowsSystem = false;

std::string ExecutablePath() {
  std::error_code unknown;
  return std::filesystem::read_symlink("/proc/self/exe", unknown).string();
}

void SetEnvironment(const char* name, const std::string& value) { setenv(name, value.c_str(), 1); }

const char kConfigFolderHelp[] = "~/.config/";

std::string ConfigFolder() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  const char* home = std::getenv("HOME");
  return config != nullptr && *config == '/' ? std::string(config) + "/"
         : home != nullptr && *home != '\0'  ? std::string(home) + "/.config/"
                                             : std::string();
}

std::string LastError(bool* pipe_closed) {
  if (pipe_closed != nullptr) {
    *pipe_closed = errno == EPIPE;
  }
  return std::strerror(errno);
}

unsigned long ProcessId() { return static_cast<unsigned long>(getpid()); }

int OpenFile(const std::string& path, OpenMode mode, bool* file_exists) {
  constexpr int kFlags[] = {O_WRONLY, O_WRONLY | O_CREAT | O_TRUNC, O_WRONLY | O_CREAT | O_EXCL,
                            O_WRONLY | O_APPEND};
  const int file = open(path.c_str(), kFlags[static_cast<int>(mode)] | O_CLOEXEC, 0666);
  if (file_exists != nullptr) {
    *file_exists = file < 0 && errno == EEXIST;
  }
  if (file >= 0 && mode == OpenMode::kCreateNew && !Hold(file)) {
    const int error = errno;
    close(file);
    errno = error;
    return -1;
  }
  return file;
}

bool FileHeld(const std::string& path) {
  const int file = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (file < 0) {
    return false;
  }
  const bool held = !Hold(file) && errno == EWOULDBLOCK;
  close(file);  // and with it the hold it may have taken
  return held;
}

long WriteFile(int file, const void* data, std::size_t size) {
  errno = 0;
  return static_cast<long>(write(file, data, size));
}

long WriteStream(int file, const void* data, std::size_t size) {
  return WriteFile(file, data, size);
}

bool CloseFile(int file) { return close(file) == 0; }

bool IsRegularFile(int file) {
  struct stat status {};
  return fstat(file, &status) == 0 && S_ISREG(status.st_mode);
}

bool CutFile(int file, std::uint64_t size) {
  return ftruncate(file, static_cast<off_t>(size)) == 0;
}

bool MoveOver(const std::string& from, const std::string& to) {
  return std::rename(from.c_str(), to.c_str()) == 0;
}

bool MoveOpenFileOver(int* file, const std::string& from, const std::string& to) {
  return *file >= 0 && MoveOver(from, to);  // the descriptor and its hold go with the file
}

void StandardOutputBinary() {}

WakeUp::WakeUp() = default;
WakeUp::~WakeUp() = default;

void WakeUp::Wake() {
  if (pending_.exchange(1) == 0) {
    Futex(&pending_, FUTEX_WAKE_PRIVATE, 1);
  }
}

void WakeUp::Wait(unsigned milliseconds) {
  if (pending_.exchange(0) == 0) {
    const timespec limit{static_cast<time_t>(milliseconds / 1000),
                         static_cast<long>(milliseconds % 1000) * 1000000L};
    Futex(&pending_, FUTEX_WAIT_PRIVATE, 0, &limit);
    pending_.exchange(0);
  }
}

void LeaveStopRequestsToOthers() {
  sigset_t stops;
  sigemptyset(&stops);
  sigaddset(&stops, SIGINT);
  sigaddset(&stops, SIGTERM);
  sigaddset(&stops, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &stops, nullptr);
}

bool IsTerminal(std::FILE* stream) { return isatty(fileno(stream)) != 0; }

std::size_t TerminalColumns(std::FILE* stream) {
  winsize size{};
  return ioctl(fileno(stream), TIOCGWINSZ, &size) == 0 ? size.ws_col : 0;
}

void CatchStopRequests() {
  CatchSignal(SIGINT, OnStopSignal);
  CatchSignal(SIGTERM, OnStopSignal);
  CatchSignal(SIGHUP, OnStopSignal);  // the terminal closed: as SIGTERM
  CatchSignal(SIGPIPE, SIG_IGN);
}

const char* StopRequest() {
  const int seen = request.load();
  return seen == 0 ? nullptr : seen == SIGINT ? "SIGINT" : seen == SIGHUP ? "SIGHUP" : "SIGTERM";
}

void ReadyToEnd() {}

}  // namespace host
