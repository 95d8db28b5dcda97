// The device description document.
#include "satip/description.h"

#include <algorithm>
#include <iterator>

namespace satip {

namespace {

struct Entity {
  char character;
  const char* text;
};
constexpr Entity kEntities[] = {
    {'&', "&amp;"}, {'<', "&lt;"}, {'>', "&gt;"}, {'"', "&quot;"}, {'\'', "&apos;"},
};

std::string Element(const char* name, std::string_view text) {
  return "    <" + std::string(name) + ">" + XmlEscaped(text) + "</" + name + ">\r\n";
}

std::string Optional(const char* name, std::string_view text) {
  return text.empty() ? "" : Element(name, text);
}

}  // namespace

std::string XmlEscaped(std::string_view text) {
  std::string escaped;
  for (const char c : text) {
    const Entity* entity = std::find_if(std::begin(kEntities), std::end(kEntities),
                                        [c](const Entity& e) { return e.character == c; });
    if (entity != std::end(kEntities)) {
      escaped += entity->text;
    } else if (static_cast<unsigned char>(c) >= 0x20 || c == '\t' || c == '\n' || c == '\r') {
      escaped += c;
    }
  }
  return escaped;
}

std::string DescriptionXml(const DeviceDescription& description) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
         "<root xmlns=\"urn:schemas-upnp-org:device-1-0\" configId=\"" +
         std::to_string(description.config_id) +
         "\">\r\n"
         "  <specVersion><major>1</major><minor>1</minor></specVersion>\r\n"
         "  <device>\r\n" +
         Element("deviceType", kSatIpDeviceType) +
         Element("friendlyName", description.friendly_name) +
         Element("manufacturer", description.manufacturer) +
         Optional("manufacturerURL", description.manufacturer_url) +
         Optional("modelDescription", description.model_description) +
         Element("modelName", description.model_name) +
         Element("modelNumber", description.model_number) +
         Optional("modelURL", description.model_url) +
         Optional("serialNumber", description.serial_number) +
         Element("UDN", "uuid:" + description.uuid) +
         "    <satip:X_SATIPCAP xmlns:satip=\"urn:ses-com:satip\">DVBS2-" +
         std::to_string(description.tuners) +
         "</satip:X_SATIPCAP>\r\n"
         "  </device>\r\n"
         "</root>\r\n";
}

}  // namespace satip
