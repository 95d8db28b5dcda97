// The files the stand-in card reads, lineup files and recordings: opened only
// when they are regular files (a FIFO, a device or a folder would block the
// card's open or never end), and a recording's packets read in blocks.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace sim {

// The regular file at `path`, opened for reading; null, and *why says why
// (e.g. "cannot be opened: No such file or directory", "is a FIFO, not a
// regular file"), otherwise. Nothing that is not a regular file is opened.
std::FILE* OpenRegularFile(const std::string& path, std::string* why);

// A recording's packets one after another, `packet_size` bytes each (188, or
// 204 with parity), read a block at a time; the file is closed with it.
class PacketFile {
 public:
  PacketFile(std::FILE* file, std::size_t packet_size);  // `file` may be null: no packets
  ~PacketFile();
  PacketFile(const PacketFile&) = delete;
  PacketFile& operator=(const PacketFile&) = delete;

  bool IsOpen() const { return file_ != nullptr; }
  // The next whole packet, or null at the end of the file; valid until the
  // next call.
  std::uint8_t* Next();
  // The bytes after the last whole packet, once Next has found the end.
  std::size_t LeftOver() const { return filled_ - used_; }
  void Rewind();

 private:
  std::FILE* file_;
  std::size_t packet_size_;
  std::vector<std::uint8_t> block_;
  std::size_t used_ = 0;
  std::size_t filled_ = 0;
};

}  // namespace sim
