// Stop requests: see stop.h.
#include "host/stop.h"

#include <atomic>
#include <csignal>

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

std::atomic<int> request{0};  // the signal number or console event + 1; 0 none

#ifdef _WIN32
BOOL WINAPI OnConsoleEvent(DWORD event) {
  int none = 0;
  // The first request is ours to handle; the system's own handling ends the program at a second.
  return request.compare_exchange_strong(none, static_cast<int>(event) + 1) ? TRUE : FALSE;
}
#else
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
#endif

}  // namespace

void CatchStopRequests() {
#ifdef _WIN32
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
#else
  CatchSignal(SIGINT, OnStopSignal);
  CatchSignal(SIGTERM, OnStopSignal);
  CatchSignal(SIGPIPE, SIG_IGN);
#endif
}

const char* StopRequest() {
  const int seen = request.load();
#ifdef _WIN32
  return seen == 0 ? nullptr : seen == CTRL_C_EVENT + 1 ? "Ctrl-C" : "a console event";
#else
  return seen == 0 ? nullptr : seen == SIGINT ? "SIGINT" : "SIGTERM";
#endif
}
