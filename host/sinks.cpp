// Where packets go: see sinks.h.
#ifdef _WIN32
// The sockets' header before the rest of the system's.
#include <winsock2.h>
#include <ws2tcpip.h>
// And then the rest.
#include <io.h>
#include <windows.h>
#else
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>
#endif
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "dvb/transponder.h"
#include "host/packet_ring.h"
#include "host/sinks.h"
#include "host/stop.h"
#include "loader/system_error.h"

#ifdef _WIN32
std::string Reason(bool* pipe_closed) {
  const DWORD code = GetLastError();
  if (pipe_closed != nullptr) {
    *pipe_closed =
        code == ERROR_BROKEN_PIPE || code == ERROR_NO_DATA || code == ERROR_PIPE_NOT_CONNECTED;
  }
  return code != 0 ? WindowsErrorText(code) : std::strerror(errno);
}
bool MoveOver(const std::string& from, const std::string& to) {
  return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}
#else
std::string Reason(bool* pipe_closed) {
  if (pipe_closed != nullptr) {
    *pipe_closed = errno == EPIPE;
  }
  return std::strerror(errno);
}
bool MoveOver(const std::string& from, const std::string& to) {
  return std::rename(from.c_str(), to.c_str()) == 0;
}
#endif

namespace {

constexpr std::size_t kPacketsPerDatagram = 7;
constexpr std::size_t kPipePiece = 21 * kTsPacketSize;  // 3948 bytes: PIPE_BUF holds them

#ifdef _WIN32
constexpr int kBinary = O_BINARY;
bool CutTo(int file, std::uint64_t size) {
  return _chsize_s(file, static_cast<long long>(size)) == 0;
}
#else
constexpr int kBinary = 0;
bool CutTo(int file, std::uint64_t size) { return ftruncate(file, static_cast<off_t>(size)) == 0; }
#endif

class FileSink : public Sink {
 public:
  ~FileSink() override { FileSink::Finish(); }

  bool Open(const std::string& path, std::string* problem) {
    path_ = path;
    name = path == "-" ? "standard output" : path;
    struct stat status {};
    if (stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode)) {
      *problem = "cannot write " + path + ": " + std::strerror(EISDIR);
      return false;
    }
    if (path == "-") {
#ifdef _WIN32
      _setmode(1, O_BINARY);
#endif
      file_ = 1;
      owned_ = false;
    } else {
      // A device or a pipe is written as it is, a file beside the one it replaces.
      file_ = open(path.c_str(), O_WRONLY | kBinary);
      if (file_ < 0 || fstat(file_, &status) != 0 || S_ISREG(status.st_mode)) {
        close(file_);  // nothing to close when the open failed
        partial_ = path + ".partial";
        file_ = open(partial_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | kBinary, 0666);
      }
    }
    if (file_ < 0) {
      *problem = "cannot write " + (partial_.empty() ? path : partial_) + ": " + Reason();
      partial_.clear();
      return false;
    }
    // A pipe takes a write of up to 4096 bytes whole or not at all: a signal
    // that ends a write to it then never leaves part of a packet behind.
    if (fstat(file_, &status) == 0 && !S_ISREG(status.st_mode)) {
      piece_ = kPipePiece;
    }
    return true;
  }

  bool Write(const std::uint8_t* packets, std::size_t count) override {
    const std::size_t size = count * kTsPacketSize;
    std::size_t done = 0;
    while (error.empty() && !stopped_ && done < size) {
      errno = 0;
#ifdef _WIN32
      SetLastError(0);
#endif
      const std::size_t piece = std::min(size - done, piece_);
      const auto wrote = write(file_, packets + done, static_cast<unsigned>(piece));
      done += wrote > 0 ? static_cast<std::size_t>(wrote) : 0;
      if (wrote < 0 && errno != EINTR) {
        bool pipe_closed = false;
        const std::string reason = Reason(&pipe_closed);
        Failed("writing " + name + " failed: " + reason, pipe_closed);
      } else if ((wrote < 0 || static_cast<std::size_t>(wrote) < piece) &&
                 StopRequest() != nullptr) {
        stopped_ = true;  // a stop request's signal ended a write that waited for the reader
      }
    }
    bytes_ += done;
    // The part of a packet that reached a file is cut off again: it holds whole packets.
    if ((!error.empty() || stopped_) && bytes_ % kTsPacketSize != 0 &&
        CutTo(file_, bytes_ - bytes_ % kTsPacketSize)) {
      bytes_ -= bytes_ % kTsPacketSize;
    }
    written = bytes_ / kTsPacketSize;
    // Data flows: the partial file takes the place of the one it replaces.
    if (error.empty() && !partial_.empty() && bytes_ > 0) {
      close(file_);
      file_ = -1;
      if (!MoveOver(partial_, path_)) {
        return Failed("cannot put " + partial_ + " in place of " + path_ + ": " + Reason());
      }
      partial_.clear();
      file_ = open(path_.c_str(), O_WRONLY | O_APPEND | kBinary);
      if (file_ < 0) {
        return Failed("cannot write " + path_ + ": " + Reason());
      }
    }
    return error.empty();
  }

  bool Finish() override {
    if (owned_ && file_ >= 0 && close(file_) != 0) {
      Failed("writing " + name + " failed: " + Reason());
    }
    file_ = -1;
    // A write failed before the partial file took the other's place: the
    // whole packets that reached it were asked for, and go there too.
    if (!partial_.empty()) {
      if (written == 0) {
        std::remove(partial_.c_str());
      } else if (!MoveOver(partial_, path_)) {
        Failed("cannot put " + partial_ + " in place of " + path_ + ": " + Reason());
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

#ifdef _WIN32
using Socket = SOCKET;
const Socket kNoSocket = INVALID_SOCKET;
// An earlier datagram's ICMP answer (no receiver yet) is not a fault of this one.
bool Refused() {
  return WSAGetLastError() == WSAECONNRESET || WSAGetLastError() == WSAECONNREFUSED;
}
bool Interrupted() { return WSAGetLastError() == WSAEINTR; }
bool StartSockets() {
  static WSADATA data;
  static const bool started = WSAStartup(MAKEWORD(2, 2), &data) == 0;
  return started;
}
#else
using Socket = int;
constexpr Socket kNoSocket = -1;
bool Refused() { return errno == ECONNREFUSED; }
bool Interrupted() { return errno == EINTR; }
bool StartSockets() { return true; }
void closesocket(Socket socket) { close(socket); }
#endif

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
    addrinfo hints{};  // any address family
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    const int looked_up =
        StartSockets() ? getaddrinfo(host.c_str(), destination.c_str() + colon + 1, &hints, &found)
                       : EAI_FAIL;
    if (looked_up != 0) {
      *problem = "cannot send to " + destination + ": " + gai_strerror(looked_up);
      return false;
    }
    socket_ = socket(found->ai_family, SOCK_DGRAM, 0);
    if (socket_ != kNoSocket &&
        connect(socket_, found->ai_addr, static_cast<int>(found->ai_addrlen)) != 0) {
      closesocket(socket_);
      socket_ = kNoSocket;
    }
    freeaddrinfo(found);
    if (socket_ == kNoSocket) {
      *problem = "cannot send to " + destination + ": " + Reason();
    }
    return socket_ != kNoSocket;
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
    if (socket_ != kNoSocket) {
      if (held_ > 0 && error.empty()) {
        Send();
      }
      closesocket(socket_);
      socket_ = kNoSocket;
    }
    return error.empty();
  }

 private:
  // A refusal reports an earlier datagram's ICMP answer and sends nothing:
  // this one is sent once more, and dropped, uncounted, at a second one.
  void Send() {
    const auto size = static_cast<int>(held_ * kTsPacketSize);
    for (int refusals = 0; refusals < 2;) {
      if (send(socket_, reinterpret_cast<const char*>(datagram_), static_cast<unsigned>(size), 0) ==
          size) {
        written += held_;
        break;
      }
      if (Refused()) {
        ++refusals;
      } else if (!Interrupted()) {
        Failed("sending to " + name + " failed: " + Reason());
        break;
      }
    }
    held_ = 0;
  }

  Socket socket_ = kNoSocket;
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
