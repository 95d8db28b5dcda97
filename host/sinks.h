// Where a capture's packets go: a file, standard output (-o -) or another
// device or pipe, or a UDP or RTP destination as datagrams of seven packets,
// the size the field's receivers expect. Every sink writes whole packets only and stops
// at its first error with the system's reason.
//
// A regular file is written in the capture loop. One that exists is replaced
// only once the capture's data flows: the packets go to a partial file of this
// capture's own beside it, NAME.PID.partial, created exclusively and held while
// it is written, which takes NAME's place at the first write after Flowing(). A
// capture never writes over a file that another capture holds: it says so.
//
// Standard output, other devices and pipes, and UDP are written by a thread of
// their own from a queue of about 2.6 s of a transponder, so that the capture
// never waits for them: what the queue cannot take is dropped and counted. At
// the end the thread has until a deadline to send what it holds; one still
// waiting then is left to it, and what it did not send counts as dropped.
#pragma once
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "host/destination.h"
#include "host/program.h"

namespace host {

struct Sink {
  virtual ~Sink() = default;
  // Writes or queues whole packets; false from the first error on (`error` says why).
  virtual bool Write(const std::uint8_t* packets, std::size_t count) = 0;
  // The capture's own data flows: a file takes the place of the one it replaces
  // at the next write. Before that, the packets go to the partial file alone.
  virtual void Flowing() {}
  // Ends the output by `deadline`: sends what is held back, closes. A file
  // that received no packet, or none since Flowing, is left as it was (its
  // partial file removed); the packets a failed write left in the partial
  // file since Flowing take its place.
  virtual bool Finish(Clock::time_point deadline) = 0;
  // Packets dropped so far, while the output runs (`dropped` once finished).
  virtual std::uint64_t DroppedSoFar() const { return dropped; }
  // Keeps the first error; returns false.
  bool Failed(const std::string& problem, bool pipe_closed = false);

  std::string name;           // "out.ts", "standard output", "udp://..."
  std::string error;          // the first error
  bool reader_gone = false;   // the error was a closed pipe
  std::uint64_t written = 0;  // packets that reached the destination
  std::uint64_t dropped = 0;  // packets the output did not take in time
  // A file: this capture left its name as it was, "out.ts left as it was" or
  // "no out.ts made"; empty otherwise.
  std::string left_as_it_was;
};

using Sinks = std::vector<std::unique_ptr<Sink>>;

// "-" for standard output. nullptr with *error when it cannot be written.
std::unique_ptr<Sink> OpenFileSink(const std::string& path, std::string* error);
// A UDP or RTP destination (queued_sinks.cpp).
std::unique_ptr<Sink> OpenNetworkSink(const Destination& destination, const NetworkSending& sending,
                                      std::string* error);

// Writes the `size` bytes to `file` with `write` (WriteFile, WriteStream), on
// after a signal's interruption: the bytes written, fewer only when a write
// failed, with "writing NAME failed: reason" in *problem.
std::size_t WriteAll(long (*write)(int, const void*, std::size_t), int file,
                     const std::uint8_t* data, std::size_t size, const std::string& name,
                     std::string* problem, bool* pipe_closed);

// Finishes every sink, giving those written by a thread of their own one
// second in all to send what they hold.
void FinishSinks(const Sinks& sinks);

}  // namespace host
