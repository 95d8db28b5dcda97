// Where packets go: see sinks.h.
#include "host/sinks.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "dvb/ts_packet.h"
#include "host/queued_sinks.h"
#include "host/system.h"

namespace host {

using dvb::kTsPacketSize;

namespace {

constexpr auto kFinishGrace = std::chrono::seconds(1);
constexpr int kMostLinks = 40;  // as the system follows them

// The file a symbolic link leads to (through links to links), which is written
// and replaced in its place; the link stays. Any other path as it is.
std::string LinkTarget(const std::string& path) {
  std::filesystem::path at(path);
  std::error_code unknown;
  for (int links = 0; links < kMostLinks && std::filesystem::is_symlink(at, unknown); ++links) {
    const std::filesystem::path target = std::filesystem::read_symlink(at, unknown);
    if (unknown) {
      break;
    }
    at = target.is_absolute() ? target : at.parent_path() / target;
  }
  return at.string();
}

class FileSink : public Sink {
 public:
  ~FileSink() override { FileSink::Finish(Clock::now()); }

  bool Open(const std::string& path, std::string* problem) {
    path_ = LinkTarget(path);
    name = path;
    std::error_code unknown;
    existed_ = std::filesystem::exists(path, unknown);
    if (existed_ && FileHeld(path_)) {
      *problem = "cannot write " + path + ": another capture is writing it";
      return false;
    }
    partial_ = path_ + "." + std::to_string(ProcessId()) + ".partial";
    bool there = false;
    file_ = OpenFile(partial_, OpenMode::kCreateNew, &there);
    if (file_ < 0) {
      *problem = there && FileHeld(partial_)
                     ? "cannot write " + path + ": another capture holds " + partial_
                 : there ? "cannot write " + path + ": " + partial_ +
                               " is in the way (left by an earlier capture?): remove it"
                         : "cannot write " + partial_ + ": " + LastError();
      partial_.clear();
      return false;
    }
    return true;
  }

  bool Write(const std::uint8_t* packets, std::size_t count) override {
    if (!error.empty()) {
      return false;
    }
    std::string problem;
    bool pipe_closed = false;
    const std::size_t done =
        WriteAll(WriteFile, file_, packets, count * kTsPacketSize, name, &problem, &pipe_closed);
    if (!problem.empty()) {
      Failed(problem, pipe_closed);
    }
    bytes_ += done;
    // The part of a packet that reached the file is cut off again: it holds whole packets.
    if (!error.empty() && bytes_ % kTsPacketSize != 0 &&
        CutFile(file_, bytes_ - bytes_ % kTsPacketSize)) {
      bytes_ -= bytes_ % kTsPacketSize;
    }
    written = bytes_ / kTsPacketSize;
    if (error.empty() && flowing_ && !partial_.empty() && bytes_ > 0) {
      TakeThePlace();
    }
    return error.empty();
  }

  void Flowing() override { flowing_ = true; }

  bool Finish(Clock::time_point /*deadline*/) override {
    if (file_ >= 0 && !CloseFile(file_)) {
      Failed("writing " + name + " failed: " + LastError());
    }
    file_ = -1;
    if (!partial_.empty()) {
      // A write failed before the partial file took the other's place: the
      // whole packets that reached it since the capture's data flowed were
      // asked for, and go there too. Without them the name stays as it was.
      if (written == 0 || !flowing_) {
        std::remove(partial_.c_str());
        written = 0;
        left_as_it_was = existed_ ? name + " left as it was" : "no " + name + " made";
      } else if (!Overtaken() && !MoveOver(partial_, path_)) {
        Failed("cannot put " + partial_ + " in place of " + path_ + ": " + LastError());
        name = partial_;  // where they are
      }
      partial_.clear();
    }
    return error.empty();
  }

 private:
  // The partial file takes the place of the one it replaces.
  void TakeThePlace() {
    if (!Overtaken() && !MoveOpenFileOver(&file_, partial_, path_)) {
      Failed("cannot put " + partial_ + " in place of " + path_ + ": " + LastError());
      std::error_code unknown;
      name = std::filesystem::exists(partial_, unknown) ? partial_ : path_;  // where they are
    }
    partial_.clear();
  }

  // Another capture has begun writing path_ meanwhile: this one's packets
  // stay in its partial file, and it stops.
  bool Overtaken() {
    if (!FileHeld(path_)) {
      return false;
    }
    Failed("another capture is writing " + path_ + "; this one's packets are in " + partial_);
    name = partial_;
    return true;
  }

  std::string path_;
  std::string partial_;   // written beside path_ until data flows
  bool existed_ = false;  // path_ was there when the capture began
  bool flowing_ = false;
  int file_ = -1;
  std::uint64_t bytes_ = 0;
};

}  // namespace

bool Sink::Failed(const std::string& problem, bool pipe_closed) {
  if (error.empty()) {
    error = problem;
    reader_gone = pipe_closed;
  }
  return false;
}

std::unique_ptr<Sink> OpenFileSink(const std::string& path, std::string* error) {
  if (path == "-") {
    StandardOutputBinary();
    return OpenQueuedStreamSink(1, "standard output", false);
  }
  std::error_code unknown;
  if (std::filesystem::is_directory(path, unknown)) {
    *error = "cannot write " + path + ": " + std::strerror(EISDIR);
    return nullptr;
  }
  // A device or a pipe is written as it is, a regular file beside the one it replaces.
  const int file = OpenFile(path, OpenMode::kExisting);
  if (file >= 0 && !IsRegularFile(file)) {
    return OpenQueuedStreamSink(file, path, true);
  }
  if (file >= 0) {
    CloseFile(file);
  }
  auto sink = std::make_unique<FileSink>();
  return sink->Open(path, error) ? std::move(sink) : nullptr;
}

std::size_t WriteAll(long (*write)(int, const void*, std::size_t), int file,
                     const std::uint8_t* data, std::size_t size, const std::string& name,
                     std::string* problem, bool* pipe_closed) {
  std::size_t done = 0;
  while (done < size) {
    const long wrote = write(file, data + done, size - done);
    if (wrote > 0) {
      done += static_cast<std::size_t>(wrote);
    } else if (wrote == 0 || errno != EINTR) {
      *problem = "writing " + name +
                 " failed: " + (wrote == 0 ? "nothing was written" : LastError(pipe_closed));
      break;
    }
  }
  return done;
}

void FinishSinks(const Sinks& sinks) {
  const Clock::time_point deadline = Clock::now() + kFinishGrace;
  for (const auto& sink : sinks) {
    sink->Finish(deadline);
  }
}

}  // namespace host
