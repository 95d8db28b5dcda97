// Reads the command line into typed options, once, with CLI11, and prints the
// help, the version or the list of LNB types when asked.
#pragma once
#include <string>
#include <vector>

#include "host/options.h"

// False when the program ends here, with *status: 0 after help, 2 after a bad
// command line (reported).
bool ReadCommandLine(std::vector<std::string> words, Options* options, int* status);
