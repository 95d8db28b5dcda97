// Where packets go: see sinks.h.
#include "host/sinks.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include <asio/connect.hpp>
#include <asio/io_context.hpp>
#include <asio/ip/udp.hpp>

#include "dvb/ts_packet.h"
#include "host/system.h"

namespace {

constexpr std::size_t kPacketsPerDatagram = 7;
constexpr std::size_t kPipePiece = 21 * kTsPacketSize;  // 3948 bytes: PIPE_BUF holds them

class FileSink : public Sink {
 public:
  ~FileSink() override { FileSink::Finish(); }

  bool Open(const std::string& path, std::string* problem) {
    path_ = path;
    name = path == "-" ? "standard output" : path;
    std::error_code unknown;
    if (path != "-" && std::filesystem::is_directory(path, unknown)) {
      *problem = "cannot write " + path + ": " + std::strerror(EISDIR);
      return false;
    }
    if (path == "-") {
      StandardOutputBinary();
      file_ = 1;
      owned_ = false;
    } else {
      // A device or a pipe is written as it is, a file beside the one it replaces.
      file_ = OpenFile(path, OpenMode::kExisting);
      if (file_ < 0 || IsRegularFile(file_)) {
        if (file_ >= 0) {
          CloseFile(file_);
        }
        partial_ = path + ".partial";
        file_ = OpenFile(partial_, OpenMode::kCreate);
      }
    }
    if (file_ < 0) {
      *problem = "cannot write " + (partial_.empty() ? path : partial_) + ": " + LastError();
      partial_.clear();
      return false;
    }
    // A pipe takes a write of up to 4096 bytes whole or not at all: a signal
    // that ends a write to it then never leaves part of a packet behind.
    if (!IsRegularFile(file_)) {
      piece_ = kPipePiece;
    }
    return true;
  }

  bool Write(const std::uint8_t* packets, std::size_t count) override {
    const std::size_t size = count * kTsPacketSize;
    std::size_t done = 0;
    while (error.empty() && !stopped_ && done < size) {
      const std::size_t piece = std::min(size - done, piece_);
      const long wrote = WriteFile(file_, packets + done, piece);
      done += wrote > 0 ? static_cast<std::size_t>(wrote) : 0;
      if (wrote < 0 && errno != EINTR) {
        bool pipe_closed = false;
        const std::string reason = LastError(&pipe_closed);
        Failed("writing " + name + " failed: " + reason, pipe_closed);
      } else if ((wrote < 0 || static_cast<std::size_t>(wrote) < piece) &&
                 StopRequest() != nullptr) {
        stopped_ = true;  // a stop request's signal ended a write that waited for the reader
      }
    }
    bytes_ += done;
    // The part of a packet that reached a file is cut off again: it holds whole packets.
    if ((!error.empty() || stopped_) && bytes_ % kTsPacketSize != 0 &&
        CutFile(file_, bytes_ - bytes_ % kTsPacketSize)) {
      bytes_ -= bytes_ % kTsPacketSize;
    }
    written = bytes_ / kTsPacketSize;
    // Data flows: the partial file takes the place of the one it replaces.
    if (error.empty() && !partial_.empty() && bytes_ > 0) {
      CloseFile(file_);
      file_ = -1;
      if (!MoveOver(partial_, path_)) {
        return Failed("cannot put " + partial_ + " in place of " + path_ + ": " + LastError());
      }
      partial_.clear();
      file_ = OpenFile(path_, OpenMode::kAppend);
      if (file_ < 0) {
        return Failed("cannot write " + path_ + ": " + LastError());
      }
    }
    return error.empty();
  }

  bool Finish() override {
    if (owned_ && file_ >= 0 && !CloseFile(file_)) {
      Failed("writing " + name + " failed: " + LastError());
    }
    file_ = -1;
    // A write failed before the partial file took the other's place: the
    // whole packets that reached it were asked for, and go there too.
    if (!partial_.empty()) {
      if (written == 0) {
        std::remove(partial_.c_str());
      } else if (!MoveOver(partial_, path_)) {
        Failed("cannot put " + partial_ + " in place of " + path_ + ": " + LastError());
        name = partial_;  // where they are
      }
      partial_.clear();
    }
    return error.empty();
  }

 private:
  std::string path_;
  std::string partial_;  // written beside path_ until data flows
  int file_ = -1;
  bool owned_ = true;
  std::size_t piece_ = SIZE_MAX;  // bytes a write() at most
  bool stopped_ = false;          // a stop request ended the writing
  std::uint64_t bytes_ = 0;
};

class UdpSink : public Sink {
 public:
  ~UdpSink() override { UdpSink::Finish(); }

  bool Open(const std::string& destination, std::string* problem) {
    name = "udp://" + destination;
    const std::size_t colon = destination.rfind(':');
    const std::string host = destination.substr(0, colon == std::string::npos ? 0 : colon);
    if (host.empty() || colon + 1 == destination.size()) {
      *problem = "--udp " + destination + ": give HOST:PORT, e.g. 239.1.1.1:1234";
      return false;
    }
    asio::error_code failure;
    asio::ip::udp::resolver resolver(context_);
    const auto found = resolver.resolve(host, destination.substr(colon + 1), failure);
    if (!failure) {
      asio::connect(socket_, found, failure);
    }
    if (failure) {
      *problem = "cannot send to " + destination + ": " + failure.message();
      return false;
    }
    return true;
  }

  bool Write(const std::uint8_t* packets, std::size_t count) override {
    for (std::size_t i = 0; i < count && error.empty(); ++i) {
      std::memcpy(datagram_ + held_ * kTsPacketSize, packets + i * kTsPacketSize, kTsPacketSize);
      if (++held_ == kPacketsPerDatagram) {
        Send();
      }
    }
    return error.empty();
  }

  bool Finish() override {
    if (socket_.is_open()) {
      if (held_ > 0 && error.empty()) {
        Send();
      }
      asio::error_code ignored;
      socket_.close(ignored);
    }
    return error.empty();
  }

 private:
  // A refusal reports an earlier datagram's ICMP answer and sends nothing:
  // this one is sent once more, and dropped, uncounted, at a second one.
  void Send() {
    const std::size_t size = held_ * kTsPacketSize;
    for (int refusals = 0; refusals < 2;) {
      asio::error_code failure;
      if (socket_.send(asio::buffer(datagram_, size), 0, failure) == size && !failure) {
        written += held_;
        break;
      }
      if (failure == asio::error::connection_refused || failure == asio::error::connection_reset) {
        ++refusals;
      } else if (failure != asio::error::interrupted) {
        Failed("sending to " + name + " failed: " + failure.message());
        break;
      }
    }
    held_ = 0;
  }

  asio::io_context context_;
  asio::ip::udp::socket socket_{context_};
  std::uint8_t datagram_[kPacketsPerDatagram * kTsPacketSize] = {};
  std::size_t held_ = 0;
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
  auto sink = std::make_unique<FileSink>();
  return sink->Open(path, error) ? std::move(sink) : nullptr;
}

std::unique_ptr<Sink> OpenUdpSink(const std::string& destination, std::string* error) {
  auto sink = std::make_unique<UdpSink>();
  return sink->Open(destination, error) ? std::move(sink) : nullptr;
}
