// SSDP, the discovery of UPnP as SAT>IP 1.2.2 uses it: HTTP over UDP on
// 239.255.255.250:1900. The server announces itself (NOTIFY ssdp:alive, and
// ssdp:byebye when it stops) and answers M-SEARCH for its device type; the
// client searches and reads the answers and announcements for LOCATION, the
// device description's URL. The texts are whole datagrams; the parsers take
// what ParseMessage (message.h) read from one.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "satip/message.h"

namespace satip {

constexpr char kSatIpDeviceType[] = "urn:ses-com:device:SatIPServer:1";
constexpr char kSsdpAddress[] = "239.255.255.250";
constexpr std::uint16_t kSsdpPort = 1900;

struct Device {
  std::string uuid;      // without "uuid:"
  std::string location;  // "http://192.168.1.5:8080/desc.xml"
  std::string server;    // "Linux/6.1 UPnP/1.1 Morvalind/1.0"
  int boot_id = 1;       // BOOTID.UPNP.ORG: up by one at each start
  int config_id = 1;     // CONFIGID.UPNP.ORG: up by one when the description changes
  int device_id = 1;     // DEVICEID.SES.COM
  int max_age = 1800;    // seconds
};

// The three NOTIFYs, for upnp:rootdevice, uuid:UUID and the SAT>IP device type.
std::vector<std::string> AliveNotices(const Device& device);
std::vector<std::string> ByebyeNotices(const Device& device);

struct Search {
  std::string target;     // ST
  std::optional<int> mx;  // seconds the answer may wait, 1..5 (more is taken as 5)
};

// An M-SEARCH * with MAN "ssdp:discover" and an ST; false with a reason otherwise.
bool ParseSearch(const Message& message, Search* search, std::string* error);

// The answers to a search (HTTP/1.1 200 OK datagrams): for ssdp:all one per
// NOTIFY; for upnp:rootdevice, uuid:UUID or the device type the one that
// matches; none for any other target.
std::vector<std::string> SearchAnswers(const Device& device, const Search& search);

struct Announcement {
  enum class Kind : std::uint8_t { kAlive, kByebye, kAnswer };
  Kind kind = Kind::kAlive;
  std::string target;  // NT, or an answer's ST
  std::string usn;
  std::string location;  // empty for a byebye
  std::optional<int> max_age;
  std::optional<int> boot_id;
  std::optional<int> config_id;
  std::optional<int> device_id;
};

// A NOTIFY (alive or byebye) or an answer to a search; false with a reason
// for anything else, or one without USN, or an alive or answer without LOCATION.
bool ParseAnnouncement(const Message& message, Announcement* announcement, std::string* error);

// "uuid:X::urn:..." and "uuid:X" -> "X"; "" when the USN holds no uuid.
std::string DeviceUuid(std::string_view usn);

}  // namespace satip
