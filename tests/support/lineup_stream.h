// The stand-in card's generated stream for a transponder of its lineup,
// without the card: packets for the table reader, the service filter and the
// scan, and a packet source that delivers them in virtual time.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

#include "dvb/scan.h"
#include "sim/frontend.h"
#include "sim/stream.h"

// A generator of transponder `index`'s multiplex at the stand-in's bit rate.
inline sim::TransportStreamGenerator LineupGenerator(int index) {
  return sim::TransportStreamGenerator(sim::Lineup().at(static_cast<std::size_t>(index)).multiplex,
                                       sim::kDefaultBitsPerSecond);
}

// The next `count` packets of a generator.
inline std::vector<std::uint8_t> NextPackets(sim::TransportStreamGenerator* generator,
                                             std::size_t count) {
  std::vector<std::uint8_t> packets(count * sim::kPacketSize);
  for (std::size_t i = 0; i < count; ++i) {
    generator->Next(&packets[i * sim::kPacketSize]);
  }
  return packets;
}

// Each read gives what the bit rate produces in its wait, and the clock
// moves on by that wait; a source without a transponder gives nothing.
class GeneratedSource : public dvb::PacketSource {
 public:
  explicit GeneratedSource(int index)
      : generator_(index >= 0
                       ? std::make_unique<sim::TransportStreamGenerator>(LineupGenerator(index))
                       : nullptr) {}

  bool Read(std::chrono::milliseconds wait, std::vector<std::uint8_t>* packets) override {
    now_ += wait;
    if (generator_ != nullptr) {
      const auto count = static_cast<std::size_t>(std::uint64_t{sim::kDefaultBitsPerSecond} *
                                                  static_cast<std::uint64_t>(wait.count()) / 1000 /
                                                  (8 * sim::kPacketSize));
      const std::vector<std::uint8_t> more = NextPackets(generator_.get(), count);
      packets->insert(packets->end(), more.begin(), more.end());
    }
    return true;
  }
  std::chrono::milliseconds Now() const override { return now_; }

 private:
  std::unique_ptr<sim::TransportStreamGenerator> generator_;
  std::chrono::milliseconds now_{0};
};
