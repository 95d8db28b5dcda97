// The commands of morvalind-host, one function each, run by main() from the
// command table in main.cpp. Each returns the program's exit status.
#pragma once
#include "host/options.h"

// command_info.cpp
int RunInfo(const Arguments& arguments);
int RunOpen(const Arguments& arguments);

// command_tune.cpp
int RunTune(const Arguments& arguments);
int RunSignal(const Arguments& arguments);
int RunDiseqc(const Arguments& arguments);

// command_capture.cpp
int RunCapture(const Arguments& arguments);

// command_demo.cpp
int RunDemo(const Arguments& arguments);
