// The UPnP root device document a SAT>IP 1.2.2 server serves over HTTP
// (desc.xml, which its SSDP LOCATION names): device type, names, UDN, and
// the tuners it has as X_SATIPCAP ("DVBS2-1": one DVB-S2 tuner).
#pragma once
#include <string>
#include <string_view>

#include "satip/ssdp.h"

namespace satip {

struct DeviceDescription {
  std::string friendly_name;
  std::string manufacturer;
  std::string manufacturer_url;  // left out when empty, as the next three
  std::string model_description;
  std::string model_url;
  std::string serial_number;
  std::string model_name;
  std::string model_number;
  std::string uuid;  // without "uuid:"
  int config_id = 1;
  int tuners = 1;
};

// The document (served as text/xml), every text in it XML-escaped.
std::string DescriptionXml(const DeviceDescription& description);

// & < > " ' as entities; control characters XML cannot hold left out.
std::string XmlEscaped(std::string_view text);

}  // namespace satip
