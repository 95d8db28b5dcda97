// What every command shares: see program.h.
#include "host/program.h"

#include <cstdio>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

bool WantsJson(const Arguments& arguments) { return Find(arguments, "--json") != nullptr; }

bool IsTerminal() {
#ifdef _WIN32
  return _isatty(_fileno(stdout)) != 0;
#else
  return isatty(STDOUT_FILENO) != 0;
#endif
}

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

int Fail(int status, const std::string& problem) {
  std::fflush(stdout);
  std::fprintf(stderr, "%s: %s\n", kProgram, problem.c_str());
  return status;
}
