// What a mistyped command line most likely meant, in the program's own
// words: the nearest option or command to the word given, the commands that
// have an option the chosen one lacks, a word too many.
#pragma once

#include <map>
#include <string>

#include <CLI/CLI.hpp>

namespace host {

// The commands by name, as the command line declares them.
using Commands = std::map<std::string, CLI::App*>;

// "unknown command 'tnue'; did you mean tune?"
std::string UnknownCommand(const std::string& word, const Commands& commands);

// What the first word the command line did not take says; empty when it took
// every word.
std::string LeftOver(const CLI::App& app, const CLI::App* chosen, const Commands& commands);

}  // namespace host
