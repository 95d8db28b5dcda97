// Outputs the capture never waits for: standard output and other devices and
// pipes, and UDP, each written by a thread of its own from a queue of 65,536
// packets (about 2.6 s of a 38 Mbit/s transponder). What the queue cannot
// take is dropped and counted. Stop requests (signals) go to the program's
// other threads, so that none cuts one of its writes. At Finish it has until
// the deadline to send what the queue holds; one still waiting then is left to
// it, with the queue and the output, which are never freed, and the packets of
// the queue, the write it waits in among them, count as dropped.
#pragma once
#include <memory>
#include <string>

#include "host/sinks.h"

namespace host {

// A device or pipe by descriptor, written in pieces of up to 2,048 packets;
// `owned`: closed at the end.
std::unique_ptr<Sink> OpenQueuedStreamSink(int file, const std::string& name, bool owned);
// (OpenNetworkSink, declared in sinks.h, is here too.)

}  // namespace host
