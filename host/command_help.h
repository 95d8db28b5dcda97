// What each command of the program does, in the words its help shows: the
// summary in the command list, the details and examples after its options.
#pragma once

#include <vector>

namespace host {

struct CommandText {
  const char* name;
  const char* summary;
  const char* details;
  const char* examples;
};

// The commands in the order the help lists them.
const std::vector<CommandText>& CommandTexts();

}  // namespace host
