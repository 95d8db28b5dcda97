// The commands of morvalind-host, one function and one file each, run by
// main() with the options command_line.cpp read. Each returns the program's
// exit status and leaves its JSON fields in Report().
#pragma once
#include "host/options.h"

int RunInfo(const Options& options);     // command_info.cpp
int RunOpen(const Options& options);     // command_open.cpp
int RunTune(const Options& options);     // command_tune.cpp
int RunSignal(const Options& options);   // command_signal.cpp
int RunDiseqc(const Options& options);   // command_diseqc.cpp
int RunCapture(const Options& options);  // command_capture.cpp
int RunDemo(const Options& options);     // command_demo.cpp
