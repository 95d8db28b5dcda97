// Outputs written by a thread of their own: see queued_sinks.h.
#include "host/queued_sinks.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <thread>

#include <asio/connect.hpp>
#include <asio/io_context.hpp>
#include <asio/ip/multicast.hpp>
#include <asio/ip/udp.hpp>
#include <asio/ip/unicast.hpp>

#include "dvb/ts_packet.h"
#include "host/packet_ring.h"
#include "host/system.h"
#include "satip/rtp.h"

namespace host {

using dvb::kTsPacketSize;

namespace {

constexpr std::size_t kPacketsPerDatagram = satip::kPacketsPerDatagram;
constexpr std::size_t kSendPackets = 2048;  // 385,024 bytes: a write to a device or pipe at most
constexpr unsigned kIdleWaitMs = 100;       // a queue's thread looks for its end this often
// A sink that was never finished (the capture did not start) has this long when it goes.
constexpr auto kLastGrace = std::chrono::seconds(1);

// The side of a queued output that its thread runs: it sends packets on,
// waiting as long as the destination makes it.
class Output {
 public:
  virtual ~Output() = default;
  // Sends whole packets; on an error, Fail.
  virtual void Send(const std::uint8_t* packets, std::size_t count) = 0;
  // Sends what it holds back, closes.
  virtual void End() {}

  void Fail(const std::string& problem, bool pipe_closed = false) {
    error_ = problem;
    reader_gone_ = pipe_closed;
    failed_.store(true, std::memory_order_release);
  }
  bool failed() const { return failed_.load(std::memory_order_acquire); }
  // Once failed():
  const std::string& error() const { return error_; }
  bool reader_gone() const { return reader_gone_; }

  std::atomic<std::uint64_t> sent{0};  // packets that reached the destination

 private:
  std::atomic<bool> failed_{false};
  std::string error_;
  bool reader_gone_ = false;
};

// A device or pipe (standard output among them), written in large pieces by
// a thread that no signal interrupts, so that every write goes whole.
class StreamOutput : public Output {
 public:
  StreamOutput(int file, std::string name, bool owned)
      : file_(file), name_(std::move(name)), owned_(owned) {}

  void Send(const std::uint8_t* packets, std::size_t count) override {
    std::string problem;
    bool pipe_closed = false;
    WriteAll(WriteStream, file_, packets, count * kTsPacketSize, name_, &problem, &pipe_closed);
    if (!problem.empty()) {
      Fail(problem, pipe_closed);
      return;
    }
    sent.fetch_add(count, std::memory_order_relaxed);
  }

  void End() override {
    if (owned_ && !CloseFile(file_)) {
      Fail("writing " + name_ + " failed: " + LastError());
    }
  }

 private:
  int file_;
  std::string name_;
  bool owned_;
};

// UDP datagrams of seven packets, or RTP ones (payload type 33, numbered in
// turn, the 90 kHz timestamp of when they were sent).
class UdpOutput : public Output {
 public:
  bool Open(const Destination& destination, const NetworkSending& sending, std::string* problem) {
    name_ = destination.Name();
    rtp_ = destination.kind == Destination::Kind::kRtp;
    asio::error_code failure;
    asio::ip::udp::resolver resolver(context_);
    const auto found =
        resolver.resolve(destination.host, std::to_string(destination.port), failure);
    if (!failure) {
      asio::connect(socket_, found, failure);
    }
    if (!failure) {
      SetSending(sending, &failure);
    }
    if (failure) {
      *problem = "cannot send to " + name_ + ": " + failure.message();
      return false;
    }
    const auto now = Clock::now().time_since_epoch();
    const auto seed = static_cast<std::uint32_t>(now.count() ^ (now.count() >> 32) ^ ProcessId());
    packer_.emplace(seed, static_cast<std::uint16_t>(seed >> 7));
    return true;
  }

  void Send(const std::uint8_t* packets, std::size_t count) override {
    for (std::size_t i = 0; i < count && !failed(); ++i) {
      std::memcpy(held_packets_ + held_ * kTsPacketSize, packets + i * kTsPacketSize,
                  kTsPacketSize);
      if (++held_ == kPacketsPerDatagram) {
        SendHeld();
      }
    }
  }

  void End() override {
    if (held_ > 0 && !failed()) {
      SendHeld();
    }
    asio::error_code ignored;
    socket_.close(ignored);
  }

 private:
  // The hop limit and, for multicast, the interface it leaves by.
  void SetSending(const NetworkSending& sending, asio::error_code* failure) {
    const asio::ip::address to = socket_.remote_endpoint(*failure).address();
    if (*failure) {
      return;
    }
    if (sending.ttl > 0 && to.is_multicast()) {
      socket_.set_option(asio::ip::multicast::hops(sending.ttl), *failure);
    } else if (sending.ttl > 0) {
      socket_.set_option(asio::ip::unicast::hops(sending.ttl), *failure);
    }
    if (!*failure && !sending.interface.empty() && to.is_multicast()) {
      if (to.is_v4()) {
        socket_.set_option(asio::ip::multicast::outbound_interface(
                               asio::ip::make_address_v4(sending.interface, *failure)),
                           *failure);
      } else {
        socket_.set_option(asio::ip::multicast::outbound_interface(static_cast<unsigned>(
                               std::strtoul(sending.interface.c_str(), nullptr, 10))),
                           *failure);
      }
    }
  }

  // A refusal reports an earlier datagram's ICMP answer and sends nothing:
  // this one is sent once more, and dropped, uncounted, at a second one.
  void SendHeld() {
    const std::uint8_t* datagram = held_packets_;
    std::size_t size = held_ * kTsPacketSize;
    if (rtp_) {
      const auto since =
          std::chrono::duration_cast<std::chrono::microseconds>(Clock::now().time_since_epoch());
      size = packer_->Pack(held_packets_, held_, satip::RtpTimestamp(since), rtp_datagram_);
      datagram = rtp_datagram_;
    }
    for (int refusals = 0; refusals < 2;) {
      asio::error_code failure;
      if (socket_.send(asio::buffer(datagram, size), 0, failure) == size && !failure) {
        sent.fetch_add(held_, std::memory_order_relaxed);
        break;
      }
      if (failure == asio::error::connection_refused || failure == asio::error::connection_reset) {
        ++refusals;
      } else if (failure != asio::error::interrupted) {
        Fail("sending to " + name_ + " failed: " + failure.message());
        break;
      }
    }
    held_ = 0;
  }

  std::string name_;
  bool rtp_ = false;
  asio::io_context context_;
  asio::ip::udp::socket socket_{context_};
  std::optional<satip::RtpPacker> packer_;
  std::uint8_t held_packets_[kPacketsPerDatagram * kTsPacketSize] = {};
  std::uint8_t rtp_datagram_[satip::kMaxDatagram] = {};
  std::size_t held_ = 0;
};

// What a queued sink and its thread share. Once the thread is left waiting at
// the end, it is the thread's alone and never freed: the program ends first.
struct Queue {
  explicit Queue(std::unique_ptr<Output> to) : output(std::move(to)) {}
  PacketRing<65536> packets;  // about 2.6 s of a 38 Mbit/s transponder
  std::unique_ptr<Output> output;
  std::atomic<bool> closing{false};
  std::atomic<bool> done{false};
  WakeUp finished;
};

void Run(Queue* queue) {
  LeaveStopRequestsToOthers();
  Output& output = *queue->output;
  while (!output.failed()) {
    const auto run = queue->packets.Readable();
    if (run.packets == 0) {
      if (queue->closing.load(std::memory_order_acquire)) {
        output.End();
        break;
      }
      queue->packets.WaitFor(1, kIdleWaitMs);
      continue;
    }
    const std::size_t count = std::min(run.packets, kSendPackets);
    output.Send(run.data, count);
    queue->packets.Release(count);
  }
  queue->done.store(true, std::memory_order_release);
  queue->finished.Wake();
}

class QueuedSink : public Sink {
 public:
  QueuedSink(std::string sink_name, std::unique_ptr<Output> output)
      : queue_(new Queue(std::move(output))) {
    name = std::move(sink_name);
    thread_ = std::thread(Run, queue_);
  }
  ~QueuedSink() override { QueuedSink::Finish(Clock::now() + kLastGrace); }

  bool Write(const std::uint8_t* packets, std::size_t count) override {
    const Output& output = *queue_->output;
    if (output.failed()) {
      return Failed(output.error(), output.reader_gone());
    }
    for (std::size_t i = 0; i < count; ++i) {
      queue_->packets.Push(packets + i * kTsPacketSize);
    }
    return true;
  }

  std::uint64_t DroppedSoFar() const override {
    return queue_ != nullptr ? queue_->packets.dropped() : dropped;
  }

  bool Finish(Clock::time_point deadline) override {
    if (queue_ == nullptr) {
      return error.empty();
    }
    queue_->closing.store(true, std::memory_order_release);
    queue_->packets.Wake();
    for (auto now = Clock::now(); !queue_->done.load(std::memory_order_acquire) && now < deadline;
         now = Clock::now()) {
      queue_->finished.Wait(static_cast<unsigned>(
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count() + 1));
    }
    const Output& output = *queue_->output;
    written = output.sent.load(std::memory_order_relaxed);
    dropped = queue_->packets.dropped();
    if (queue_->done.load(std::memory_order_acquire)) {
      thread_.join();
      if (output.failed()) {
        Failed(output.error(), output.reader_gone());
      }
      delete queue_;
    } else {
      // Still waiting for the destination: what it holds is not sent.
      dropped += queue_->packets.pushed() - queue_->packets.taken();
      thread_.detach();
    }
    queue_ = nullptr;
    return error.empty();
  }

 private:
  Queue* queue_;
  std::thread thread_;
};

}  // namespace

std::unique_ptr<Sink> OpenQueuedStreamSink(int file, const std::string& name, bool owned) {
  return std::make_unique<QueuedSink>(name, std::make_unique<StreamOutput>(file, name, owned));
}

std::unique_ptr<Sink> OpenNetworkSink(const Destination& destination, const NetworkSending& sending,
                                      std::string* error) {
  auto output = std::make_unique<UdpOutput>();
  if (!output->Open(destination, sending, error)) {
    return nullptr;
  }
  return std::make_unique<QueuedSink>(destination.Name(), std::move(output));
}

}  // namespace host
