// A service in the JSON report, one shape wherever a command reports one
// (scan's transponders, capture's summary, the demo's lineup): {"program",
// "name", "provider", "pmt_pid", "pcr_pid", "streams": [{"pid",
// "stream_type", "kind"}]}.
#pragma once
#include <string>

#include "dvb/psi_reader.h"
#include "host/report.h"

namespace host {

Json ServiceJson(const dvb::Service& service);
// A service known by its name alone: the other fields null.
Json NamedServiceJson(const std::string& name);

}  // namespace host
