// The command line as typed values: which command, and what it was asked to
// do, read once by command_line.cpp with CLI11; and the commands, one
// function and one file each, which take it from there. Each returns the
// program's exit status and leaves its JSON fields in Report().
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "dvb/channel_file.h"
#include "dvb/service_filter.h"
#include "host/destination.h"
#include "host/session.h"
#include "host/tuning.h"
#include "satipserver/networks.h"

namespace host {

// A DiSEqC message to send (hex bytes, a switch port's or a positioner's), with
// the tone burst before it (or the burst alone).
struct DiseqcRequest {
  std::vector<std::uint8_t> message;
  int burst = 0;
};

// A transponder of the file scan reads (or of a NIT), and how it is tuned.
struct ScanTarget {
  dvb::ChannelEntry entry;
  TuneRequest request;
};

// An entry of the scan's file (or of a NIT) this card cannot tune, and why.
struct ScanSkip {
  dvb::ChannelEntry entry;
  std::string reason;
  bool dvb_s2 = false;
};

// The server: where it listens, whom it admits, its bounds, and the LNB that
// every client's frequency goes through.
struct ServeOptions {
  satipserver::ListenAddress listen;        // --listen ADDR[:PORT]
  std::uint16_t http_port = 8080;           // --http-port
  std::vector<satipserver::Network> allow;  // --allow, or the local networks
  int max_sessions = 8;                     // --max-sessions
  int session_timeout = 60;                 // --session-timeout, seconds
  bool discovery = true;                    // --no-discovery
  dvb::Transponder lnb;                     // --lnb, --lof, --tone
};

// An output of capture: where it goes, and what of the transponder it keeps
// (none: all of it).
struct CaptureOutput {
  Destination to;
  std::optional<dvb::FilterChoice> keep;
};

struct Options {
  std::string command;
  bool json = false;                   // --json
  SessionOptions session;              // --module, --card, --replay
  std::optional<TuneRequest> tune;     // --freq, --pol, --sr and the rest, or --channel, when given
  std::optional<double> seconds;       // capture and demo --seconds, signal --watch SECONDS
  std::string out;                     // capture -o FILE ("-" standard output), demo --out FOLDER
  std::string udp;                     // capture --udp HOST:PORT
  std::vector<CaptureOutput> outputs;  // capture -o, --udp and each --output WHAT=DEST
  NetworkSending sending;              // capture --ttl, --multicast-if
  bool watch = false;                  // signal --watch
  DiseqcRequest diseqc;                // diseqc
  std::optional<dvb::FilterChoice> keep;  // capture --service or --pids
  std::uint16_t channel_program = 0;      // the channel's service, by name from the channel file
  std::vector<ScanTarget> scan;           // scan: the file's transponders that this card can tune
  std::vector<ScanSkip> scan_skipped;     // and those it cannot
  bool file_frequencies_only = false;     // scan -F: no transponders from the NIT
  bool quiet = false;                     // -q
  ServeOptions serve;                     // serve
};

// False when the program ends here, with *status: 0 after the help, the
// version or the LNB list were printed, 2 after a bad command line (reported).
bool ReadCommandLine(std::vector<std::string> words, Options* options, int* status);

int RunInfo(const Options& options);     // command_info.cpp
int RunOpen(const Options& options);     // command_open.cpp
int RunSignal(const Options& options);   // command_signal.cpp: signal, and tune
int RunDiseqc(const Options& options);   // command_diseqc.cpp
int RunCapture(const Options& options);  // command_capture.cpp
int RunDemo(const Options& options);     // command_demo.cpp
int RunScan(const Options& options);     // command_scan.cpp
int RunServe(const Options& options);    // command_serve.cpp

// command_adapters.cpp, a command of the Linux build
int RunAdapters(const Options& options);

}  // namespace host
