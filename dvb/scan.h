// The services of one transponder, read from its stream: the PAT, the SDT
// and the PMT of every program, until all are read or the time is up. Each
// service becomes a channel-file entry with the transponder's parameters, so
// that the `scan` command can tune every transponder of a dvbv5 file in turn,
// feeding ScanTransponder from the card's capture, and write what it found
// with WriteChannelFile (channel_file.h).
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "dvb/channel_file.h"
#include "dvb/psi_reader.h"

namespace dvb {

// Where a scan's packets come from: the card's capture while it is tuned to
// the transponder, or a generated stream in the tests.
class PacketSource {
 public:
  virtual ~PacketSource() = default;
  // Appends the whole 188-byte packets that arrive within `wait`: some, or
  // none when the time passes first. False when no more can come (the
  // capture has ended).
  virtual bool Read(std::chrono::milliseconds wait, std::vector<std::uint8_t>* packets) = 0;
  // The source's clock: the real one for the card, a virtual one in tests.
  virtual std::chrono::milliseconds Now() const = 0;
};

struct TransponderScan {
  bool complete = false;  // the PAT, the SDT, every PMT (and a NIT wanted) were read
  // One entry per program of the PAT, in program number order, named as the
  // SDT names it ("Service 3001" where it does not); a program whose PMT
  // was not read has no PIDs.
  std::vector<ChannelEntry> services;
  std::vector<Service> programs;  // the same services as the tables give them
  std::string missing;            // when not complete: "the SDT", "the PMTs of 2 programs", ...
  std::uint64_t packets = 0;
  // The NIT actual, when it was read: the network and its satellite transponders.
  bool network_read = false;
  std::uint16_t network_id = 0;
  std::string network_name;
  std::vector<NetworkTransponder> network;
};

// Reads `source` for at most `limit` of its time; with `want_network` also
// the NIT, where the PAT announces one.
TransponderScan ScanTransponder(const ChannelEntry& transponder, PacketSource* source,
                                std::chrono::milliseconds limit, bool want_network = true);

// Whether two entries are the same transponder: the same polarisation, and
// frequencies closer than half the larger symbol rate (two carriers on one
// polarisation lie at least their bandwidths apart, and a NIT's frequency
// may differ from a transponder file's by some MHz).
bool SameTransponder(const TransponderParameters& a, const TransponderParameters& b);

// The transponders of the scan's NIT that are not among `known`, nor listed
// twice: entries with `from`'s dish (SAT_NUMBER, LNB), in the NIT's order.
std::vector<ChannelEntry> NewTransponders(const TransponderScan& scan, const ChannelEntry& from,
                                          const std::vector<ChannelEntry>& known);

}  // namespace dvb
