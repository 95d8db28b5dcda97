// The words the command line took, settled into the typed requests of
// Options: the transponder and its LNB (from the tune options or a channel
// file's entry), the scan's transponders, the outputs, the DiSEqC message,
// the service or PIDs kept. command_line.cpp reads and checks each word;
// what belongs together is settled here.
#pragma once
#include <string>
#include <vector>

#include "host/options.h"

namespace host {

// The words the options took, each checked; empty when not given.
struct Given {
  std::string freq, pol, sr, fec, lnb, lof, tone, inversion, port, burst, goto_position, seconds;
  std::string card, adapter;  // --card, -a N
  std::string channels, channel, service, pids;
  std::string listen, http_port, allow, max_sessions, session_timeout;
  std::string named;  // the channel as a plain word (tune, signal, capture NAME)
  std::vector<std::string> bytes, watch;
  std::vector<std::string> outputs;  // capture --output WHAT=DEST
  std::string ttl, interface;        // capture --ttl, --multicast-if
};

// Settles `g` into `options` for its command; `error` says what does not fit.
void Settle(const Given& g, Options* options, std::string* error);

// Where a channel is looked up when no channel file is given:
// channels.conf in the morvalind folder of the user's settings
// (system.h: ConfigFolder), e.g. ~/.config/morvalind/channels.conf.
std::string DefaultChannelFile();

}  // namespace host
