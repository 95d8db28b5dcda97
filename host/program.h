// What every command of morvalind-host shares: the program's name, its exit
// statuses, and small helpers for options, the terminal, time and failures.
#pragma once
#include <chrono>
#include <string>

#include "host/options.h"

using Clock = std::chrono::steady_clock;

constexpr char kProgram[] = "morvalind-host";

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;  // the card refused a request after opening
constexpr int kExitUsage = 2;
constexpr int kExitModule = 3;
constexpr int kExitCard = 4;
constexpr int kExitNoLock = 5;
constexpr int kExitFile = 6;

bool WantsJson(const Arguments& arguments);

// Whether standard output is a terminal (progress lines refresh in place).
bool IsTerminal();

double SecondsSince(Clock::time_point start);

// One line on stderr, the program's name first; returns `status`.
int Fail(int status, const std::string& problem);
