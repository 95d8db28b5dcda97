// The program's system interface over POSIX: see system.h.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "host/system.h"

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

int OpenFile(const std::string& path, OpenMode mode) {
  constexpr int kFlags[] = {O_WRONLY, O_WRONLY | O_CREAT | O_TRUNC, O_WRONLY | O_CREAT | O_EXCL,
                            O_WRONLY | O_APPEND};
  return open(path.c_str(), kFlags[static_cast<int>(mode)] | O_CLOEXEC, 0666);
}

long WriteFile(int file, const void* data, std::size_t size) {
  errno = 0;
  return static_cast<long>(write(file, data, size));
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

void StandardOutputBinary() {}

bool IsTerminal(std::FILE* stream) { return isatty(fileno(stream)) != 0; }

std::size_t TerminalColumns(std::FILE* stream) {
  winsize size{};
  return ioctl(fileno(stream), TIOCGWINSZ, &size) == 0 ? size.ws_col : 0;
}

void CatchStopRequests() {
  CatchSignal(SIGINT, OnStopSignal);
  CatchSignal(SIGTERM, OnStopSignal);
  CatchSignal(SIGPIPE, SIG_IGN);
}

const char* StopRequest() {
  const int seen = request.load();
  return seen == 0 ? nullptr : seen == SIGINT ? "SIGINT" : "SIGTERM";
}

void ReadyToEnd() {}
