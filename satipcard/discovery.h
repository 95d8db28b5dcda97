// Finding a SAT>IP server on the local network when the settings name none:
// an SSDP search for urn:ses-com:device:SatIPServer:1 (sent twice, since UDP
// may lose one), the first answer taken, and its device description fetched
// for the RTSP port (X-SATIP-RTSP-Port, 554 when the header is missing) and
// the server's friendly name.
#pragma once

#include <chrono>
#include <string>

#include "satipcard/settings.h"

namespace satipcard {

constexpr std::chrono::milliseconds kDiscoveryLimit{3000};

// The first server that answers within `limit`; false with the reason.
bool DiscoverServer(std::chrono::milliseconds limit, Server* server, std::string* name,
                    std::string* error);

}  // namespace satipcard
