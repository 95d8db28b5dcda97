// The stand-in card's files: regular files only, and a recording's packets.
#include "sim/packet_file.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace sim {
namespace {

constexpr std::size_t kBlockPackets = 1024;

std::string CannotOpen() { return std::string("cannot be opened: ") + std::strerror(errno); }

std::string NotRegular(const char* kind) {
  return kind != nullptr ? std::string("is ") + kind + ", not a regular file"
                         : std::string("is not a regular file");
}

}  // namespace

#ifdef _WIN32

// Opening does not block here whatever the file is (a pipe's open connects or
// fails at once); its type is checked before anything is read.
std::FILE* OpenRegularFile(const std::string& path, std::string* why) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    *why = CannotOpen();
    return nullptr;
  }
  const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
  const DWORD type = GetFileType(handle);
  if (type != FILE_TYPE_DISK) {
    std::fclose(file);
    *why = NotRegular(type == FILE_TYPE_CHAR   ? "a character device"
                      : type == FILE_TYPE_PIPE ? "a pipe"
                                               : nullptr);
    return nullptr;
  }
  return file;
}

#else

// Looked at before it is opened: opening a FIFO waits for a writer, and
// opening a device may do something to it. Opened without blocking all the
// same, should it have been replaced since, and looked at again.
std::FILE* OpenRegularFile(const std::string& path, std::string* why) {
  const auto kind = [](const struct stat& status) {
    return S_ISDIR(status.st_mode)    ? "a folder"
           : S_ISFIFO(status.st_mode) ? "a FIFO"
           : S_ISCHR(status.st_mode)  ? "a character device"
           : S_ISBLK(status.st_mode)  ? "a block device"
           : S_ISSOCK(status.st_mode) ? "a socket"
                                      : nullptr;
  };
  struct stat status {};
  if (stat(path.c_str(), &status) != 0) {
    *why = CannotOpen();
    return nullptr;
  }
  if (!S_ISREG(status.st_mode)) {
    *why = NotRegular(kind(status));
    return nullptr;
  }
  const int descriptor = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (descriptor < 0) {
    *why = CannotOpen();
    return nullptr;
  }
  if (fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
    close(descriptor);
    *why = NotRegular(kind(status));
    return nullptr;
  }
  fcntl(descriptor, F_SETFL, fcntl(descriptor, F_GETFL) & ~O_NONBLOCK);
  std::FILE* file = fdopen(descriptor, "rb");
  if (file == nullptr) {
    *why = CannotOpen();
    close(descriptor);
  }
  return file;
}

#endif

PacketFile::PacketFile(std::FILE* file, std::size_t packet_size)
    : file_(file), packet_size_(packet_size), block_(kBlockPackets * packet_size) {}

PacketFile::~PacketFile() {
  if (file_ != nullptr) {
    std::fclose(file_);
  }
}

std::uint8_t* PacketFile::Next() {
  if (filled_ - used_ < packet_size_) {
    std::memmove(block_.data(), block_.data() + used_, filled_ - used_);
    filled_ -= used_;
    used_ = 0;
    if (file_ != nullptr) {
      filled_ += std::fread(block_.data() + filled_, 1, block_.size() - filled_, file_);
    }
    if (filled_ < packet_size_) {
      return nullptr;
    }
  }
  std::uint8_t* packet = block_.data() + used_;
  used_ += packet_size_;
  return packet;
}

void PacketFile::Rewind() {
  if (file_ != nullptr) {
    std::rewind(file_);
  }
  used_ = 0;
  filled_ = 0;
}

}  // namespace sim
