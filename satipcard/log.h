// The card library's log: a file beside the library (where a Windows user
// finds it, since the host application shows only the module's message box)
// and, for failures, standard error. Lines carry the local time. Both the
// host's thread and the receiver thread write to it.
#pragma once

#include <cstdio>
#include <mutex>
#include <string>

namespace satipcard {

class Log {
 public:
  Log() = default;
  Log(const Log&) = delete;
  Log& operator=(const Log&) = delete;
  ~Log();

  // Appends to `path` from now on (a file over 1 MiB starts afresh); false
  // when it cannot be written (the log then goes on without a file).
  bool Open(const std::string& path);
  void Close();

  // A line for the log file.
  void Note(const std::string& line);
  // A failure: the log file and stderr, and kept as the last problem.
  void Fail(const std::string& line);
  // The last failure's line, for a host program (abi/card_problem.h); "" for none.
  std::string LastProblem();

 private:
  void Write(const std::string& line);

  std::mutex mutex_;
  std::FILE* file_ = nullptr;
  std::string last_problem_;
};

}  // namespace satipcard
