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
  finished = CreateEventA(nullptr, TRUE, FALSE, nullptr);
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

void ReadyToEnd() {
#ifdef _WIN32
  if (finished != nullptr) {
    SetEvent(finished);
  }
#endif
}
