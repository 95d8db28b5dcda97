// Where a capture's packets go: a file, standard output (-o -), or a UDP
// destination as datagrams of seven packets, the size the field's receivers
// expect. A file that exists is
// replaced only once data flows: the packets go to NAME.partial beside it,
// which is renamed over it at the first successful write. Every sink writes
// whole packets only and stops at its first error with the system's reason.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct Sink {
  virtual ~Sink() = default;
  // Writes whole packets; false from the first error on (`error` says why).
  virtual bool Write(const std::uint8_t* packets, std::size_t count) = 0;
  // Ends the output: sends what is held back, closes. A file that received no
  // packet is left as it was (NAME.partial removed); the packets a failed
  // write left in NAME.partial take its place.
  virtual bool Finish() = 0;
  // Keeps the first error; returns false.
  bool Failed(const std::string& problem, bool pipe_closed = false);

  std::string name;           // "out.ts", "standard output", "udp://..."
  std::string error;          // the first error
  bool reader_gone = false;   // the error was a closed pipe
  std::uint64_t written = 0;  // packets that reached the destination
};

using Sinks = std::vector<std::unique_ptr<Sink>>;

// "-" for standard output. nullptr with *error when it cannot be written.
std::unique_ptr<Sink> OpenFileSink(const std::string& path, std::string* error);
// "HOST:PORT".
std::unique_ptr<Sink> OpenUdpSink(const std::string& destination, std::string* error);
