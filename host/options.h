// The command line as typed values: which command, and what it was asked to
// do, read once by command_line.cpp; the commands take it from there.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "host/session.h"
#include "host/tuning.h"

// A DiSEqC message to send, with the tone burst before it (or the burst alone).
struct DiseqcRequest {
  std::vector<std::uint8_t> message;
  int burst = 0;
  std::string what;  // "message", "switch port 2", "positioner to stored position 3"
};

struct Options {
  std::string command;
  bool json = false;                // --json
  SessionOptions session;           // --module
  std::optional<TuneRequest> tune;  // --freq, --pol, --sr and the rest, when given
  std::optional<double> seconds;    // capture and demo --seconds, signal --watch SECONDS
  std::string out;                  // capture -o FILE ("-" standard output), demo --out FOLDER
  std::string udp;                  // capture --udp HOST:PORT
  bool rtp = false;                 // capture --rtp
  bool watch = false;               // signal --watch
  DiseqcRequest diseqc;             // diseqc
};
