// The card library's log: see log.h.
#include "satipcard/log.h"

#include <chrono>
#include <ctime>

namespace satipcard {

namespace {

constexpr long kMaxLogBytes = 1 << 20;

std::string Now() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch() %
                                                                            std::chrono::seconds(1))
                          .count();
  char text[40] = {};
  const std::tm* local = std::localtime(&seconds);  // under the log's lock
  if (local != nullptr) {
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", local);
  }
  return std::string(text) + "." + std::to_string(1000 + millis).substr(1);
}

}  // namespace

Log::~Log() { Close(); }

bool Log::Open(const std::string& path) {
  std::lock_guard<std::mutex> hold(mutex_);
  if (file_ != nullptr) {
    std::fclose(file_);
  }
  file_ = std::fopen(path.c_str(), "ab");
  if (file_ != nullptr && std::ftell(file_) > kMaxLogBytes) {
    std::fclose(file_);
    file_ = std::fopen(path.c_str(), "wb");
  }
  return file_ != nullptr;
}

void Log::Close() {
  std::lock_guard<std::mutex> hold(mutex_);
  if (file_ != nullptr) {
    std::fclose(file_);
    file_ = nullptr;
  }
}

void Log::Note(const std::string& line) {
  std::lock_guard<std::mutex> hold(mutex_);
  Write(line);
}

void Log::Fail(const std::string& line) {
  std::lock_guard<std::mutex> hold(mutex_);
  std::fprintf(stderr, "satipcard card library: %s\n", line.c_str());
  last_problem_ = line;
  Write(line);
}

std::string Log::LastProblem() {
  std::lock_guard<std::mutex> hold(mutex_);
  return last_problem_;
}

void Log::Write(const std::string& line) {
  if (file_ != nullptr) {
    std::fprintf(file_, "%s %s\n", Now().c_str(), line.c_str());
    std::fflush(file_);
  }
}

}  // namespace satipcard
