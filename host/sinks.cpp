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

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "host/numbers.h"
#include "host/packet_ring.h"
#include "host/sinks.h"
#include "host/system_error.h"

namespace {

constexpr std::size_t kPacketsPerDatagram = 7;
constexpr std::size_t kRtpHeaderSize = 12;

// The system's reason for the last failed call, and whether it says that the
// reader of a pipe went away.
#ifdef _WIN32
constexpr int kBinary = O_BINARY;
std::string Reason(bool* pipe_closed = nullptr) {
  const DWORD code = GetLastError();
  if (pipe_closed != nullptr) {
    *pipe_closed =
        code == ERROR_BROKEN_PIPE || code == ERROR_NO_DATA || code == ERROR_PIPE_NOT_CONNECTED;
  }
  return code != 0 ? WindowsErrorText(code) : ErrnoText(errno);
}
bool Replace(const std::string& from, const std::string& to) {
  return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}
bool CutTo(int file, std::uint64_t size) {
  return _chsize_s(file, static_cast<long long>(size)) == 0;
}
#else
constexpr int kBinary = 0;
std::string Reason(bool* pipe_closed = nullptr) {
  if (pipe_closed != nullptr) {
    *pipe_closed = errno == EPIPE;
  }
  return ErrnoText(errno);
}
bool Replace(const std::string& from, const std::string& to) {
  return std::rename(from.c_str(), to.c_str()) == 0;
}
bool CutTo(int file, std::uint64_t size) { return ftruncate(file, static_cast<off_t>(size)) == 0; }
#endif

class FileSink : public Sink {
 public:
  ~FileSink() override { FileSink::Finish(); }

  bool Open(const std::string& path, std::string* error) {
    path_ = path;
    name_ = path == "-" ? "standard output" : path;
    if (path == "-") {
#ifdef _WIN32
      _setmode(1, O_BINARY);
#endif
      file_ = 1;
      owned_ = false;
      return true;
    }
    // A device or a pipe is written as it is, a file beside the one it replaces.
    file_ = open(path.c_str(), O_WRONLY | kBinary);
    struct stat status {};
    if (file_ < 0 || fstat(file_, &status) != 0 || S_ISREG(status.st_mode)) {
      if (file_ >= 0) {
        close(file_);
      }
      partial_ = path + ".partial";
      file_ = open(partial_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | kBinary, 0666);
    }
    if (file_ < 0) {
      *error = "cannot write " + (partial_.empty() ? path : partial_) + ": " + Reason();
      partial_.clear();
    }
    return file_ >= 0;
  }

  bool Write(const std::uint8_t* packets, std::size_t count) override {
    const std::size_t size = count * kTsPacketSize;
    std::size_t done = 0;
    while (error_.empty() && done < size) {
      errno = 0;
#ifdef _WIN32
      SetLastError(0);
#endif
      const auto wrote = write(file_, packets + done, static_cast<unsigned>(size - done));
      if (wrote > 0) {
        done += static_cast<std::size_t>(wrote);
      } else if (errno != EINTR) {
        bool pipe_closed = false;
        const std::string reason = Reason(&pipe_closed);
        Failed("writing " + name_ + " failed: " + reason, pipe_closed);
      }
    }
    bytes_ += done;
    // The part of a packet that reached a file is cut off again: it holds whole packets.
    if (!error_.empty() && bytes_ % kTsPacketSize != 0 &&
        CutTo(file_, bytes_ - bytes_ % kTsPacketSize)) {
      bytes_ -= bytes_ % kTsPacketSize;
    }
    written_ = bytes_ / kTsPacketSize;
    // Data flows: the partial file takes the place of the one it replaces.
    if (error_.empty() && !partial_.empty() && bytes_ > 0) {
      close(file_);
      file_ = -1;
      if (!Replace(partial_, path_)) {
        return Failed("cannot put " + partial_ + " in place of " + path_ + ": " + Reason());
      }
      partial_.clear();
      file_ = open(path_.c_str(), O_WRONLY | O_APPEND | kBinary);
      if (file_ < 0) {
        return Failed("cannot write " + path_ + ": " + Reason());
      }
    }
    return error_.empty();
  }

  bool Finish() override {
    if (owned_ && file_ >= 0 && close(file_) != 0) {
      Failed("writing " + name_ + " failed: " + Reason());
    }
    file_ = -1;
    if (!partial_.empty() && bytes_ == 0) {
      std::remove(partial_.c_str());
      partial_.clear();
    }
    return error_.empty();
  }

 private:
  std::string path_;
  std::string partial_;  // written beside path_ until data flows
  int file_ = -1;
  bool owned_ = true;
  std::uint64_t bytes_ = 0;
};

#ifdef _WIN32
using Socket = SOCKET;
using Length = int;
const Socket kNoSocket = INVALID_SOCKET;
// An earlier datagram's ICMP answer (no receiver yet) is not a fault of this one.
bool Refused() { return WSAGetLastError() == WSAECONNRESET; }
bool StartSockets() {
  static WSADATA data;
  static const bool started = WSAStartup(MAKEWORD(2, 2), &data) == 0;
  return started;
}
#else
using Socket = int;
using Length = socklen_t;
constexpr Socket kNoSocket = -1;
bool Refused() { return errno == ECONNREFUSED || errno == EINTR; }
bool StartSockets() { return true; }
void closesocket(Socket socket) { close(socket); }
#endif

class UdpSink : public Sink {
 public:
  ~UdpSink() override { UdpSink::Finish(); }

  bool Open(const std::string& destination, bool rtp, std::string* error) {
    rtp_ = rtp;
    name_ = (rtp ? "rtp://" : "udp://") + destination;
    const std::size_t colon = destination.rfind(':');
    std::string host = destination.substr(0, colon == std::string::npos ? 0 : colon);
    long port = 0;
    if (host.empty() || !ParseWhole(destination.substr(colon + 1), 1, 65535, &port)) {
      *error = "--udp " + destination + ": give HOST:PORT, e.g. 239.1.1.1:1234";
      return false;
    }
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
      host = host.substr(1, host.size() - 2);
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    const int looked_up =
        StartSockets() ? getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found)
                       : EAI_FAIL;
    if (looked_up != 0) {
      *error = "cannot send to " + destination + ": " + gai_strerror(looked_up);
      return false;
    }
    std::memcpy(&address_, found->ai_addr, found->ai_addrlen);
    address_size_ = static_cast<Length>(found->ai_addrlen);
    socket_ = socket(found->ai_family, SOCK_DGRAM, 0);
    freeaddrinfo(found);
    if (socket_ == kNoSocket) {
      *error = "cannot send to " + destination + ": " + Reason();
    }
    ssrc_ = static_cast<std::uint32_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    return socket_ != kNoSocket;
  }

  bool Write(const std::uint8_t* packets, std::size_t count) override {
    for (std::size_t i = 0; i < count && error_.empty(); ++i) {
      std::memcpy(datagram_ + kRtpHeaderSize + held_ * kTsPacketSize, packets + i * kTsPacketSize,
                  kTsPacketSize);
      if (++held_ == kPacketsPerDatagram) {
        Send();
      }
    }
    return error_.empty();
  }

  bool Finish() override {
    if (socket_ != kNoSocket) {
      if (held_ > 0 && error_.empty()) {
        Send();
      }
      closesocket(socket_);
      socket_ = kNoSocket;
    }
    return error_.empty();
  }

 private:
  // RTP: version 2, payload type 33 (MPEG-2 transport stream), the sequence
  // number, a 90 kHz timestamp and the stream's source.
  void Send() {
    const auto ticks = std::chrono::duration_cast<std::chrono::microseconds>(
                           std::chrono::steady_clock::now().time_since_epoch())
                           .count() *
                       9 / 100;
    const std::uint32_t header[3] = {0x80210000U | sequence_++, static_cast<std::uint32_t>(ticks),
                                     ssrc_};
    for (std::size_t i = 0; i < kRtpHeaderSize; ++i) {
      datagram_[i] = static_cast<std::uint8_t>(header[i / 4] >> (24 - 8 * (i % 4)));
    }
    const std::size_t start = rtp_ ? 0 : kRtpHeaderSize;
    const auto size = static_cast<int>(kRtpHeaderSize + held_ * kTsPacketSize - start);
    if (sendto(socket_, reinterpret_cast<const char*>(datagram_ + start),
               static_cast<unsigned>(size), 0, reinterpret_cast<const sockaddr*>(&address_),
               address_size_) == size ||
        Refused()) {
      written_ += held_;
    } else {
      Failed("sending to " + name_ + " failed: " + Reason());
    }
    held_ = 0;
  }

  Socket socket_ = kNoSocket;
  sockaddr_storage address_{};
  Length address_size_ = 0;
  bool rtp_ = false;
  std::uint16_t sequence_ = 0;
  std::uint32_t ssrc_ = 0;
  std::uint8_t datagram_[kRtpHeaderSize + kPacketsPerDatagram * kTsPacketSize] = {};
  std::size_t held_ = 0;
};

}  // namespace

bool Sink::Failed(const std::string& error, bool reader_gone) {
  if (error_.empty()) {
    error_ = error;
    reader_gone_ = reader_gone;
  }
  return false;
}

std::unique_ptr<Sink> OpenFileSink(const std::string& path, std::string* error) {
  auto sink = std::make_unique<FileSink>();
  return sink->Open(path, error) ? std::move(sink) : nullptr;
}

std::unique_ptr<Sink> OpenUdpSink(const std::string& destination, bool rtp, std::string* error) {
  auto sink = std::make_unique<UdpSink>();
  return sink->Open(destination, rtp, error) ? std::move(sink) : nullptr;
}
