// SSDP datagrams written and read.
#include "satip/ssdp.h"

#include <algorithm>

#include "satip/text.h"

namespace satip {

namespace {

constexpr char kRootDevice[] = "upnp:rootdevice";
constexpr int kLongestWait = 5;

// The three targets a device is found by, with the USN of each.
struct Target {
  std::string nt;
  std::string usn;
};

std::vector<Target> Targets(const Device& device) {
  const std::string uuid = "uuid:" + device.uuid;
  return {{kRootDevice, uuid + "::" + kRootDevice},
          {uuid, uuid},
          {kSatIpDeviceType, uuid + "::" + kSatIpDeviceType}};
}

void AddIds(const Device& device, Message* message) {
  message->Add("BOOTID.UPNP.ORG", std::to_string(device.boot_id));
  message->Add("CONFIGID.UPNP.ORG", std::to_string(device.config_id));
  message->Add("DEVICEID.SES.COM", std::to_string(device.device_id));
}

Message Notify(const Target& target, const char* kind) {
  Message notify;
  notify.method = "NOTIFY";
  notify.uri = "*";
  notify.version = "HTTP/1.1";
  notify.Add("HOST", std::string(kSsdpAddress) + ":" + std::to_string(kSsdpPort));
  notify.Add("NT", target.nt);
  notify.Add("NTS", kind);
  notify.Add("USN", target.usn);
  return notify;
}

std::optional<int> Number(const Message& message, std::string_view name) {
  const std::string* text = message.Find(name);
  long number = 0;
  if (text == nullptr || !ParseNumber(*text, 0, 999999999, &number)) {
    return std::nullopt;
  }
  return static_cast<int>(number);
}

// CACHE-CONTROL: max-age=1800 (among other directives, perhaps).
std::optional<int> MaxAge(const Message& message) {
  const std::string* text = message.Find("CACHE-CONTROL");
  const std::string_view directives =
      text != nullptr ? std::string_view(*text) : std::string_view();
  for (const std::string_view directive : Split(directives, ',')) {
    const std::size_t equals = directive.find('=');
    long seconds = 0;
    if (equals != std::string_view::npos &&
        EqualsIgnoringCase(Trim(directive.substr(0, equals)), "max-age") &&
        ParseNumber(Trim(directive.substr(equals + 1)), 0, 999999999, &seconds)) {
      return static_cast<int>(seconds);
    }
  }
  return std::nullopt;
}

}  // namespace

std::vector<std::string> AliveNotices(const Device& device) {
  std::vector<std::string> notices;
  for (const Target& target : Targets(device)) {
    Message notify = Notify(target, "ssdp:alive");
    notify.Add("CACHE-CONTROL", "max-age=" + std::to_string(device.max_age));
    notify.Add("LOCATION", device.location);
    notify.Add("SERVER", device.server);
    AddIds(device, &notify);
    notices.push_back(WriteMessage(notify));
  }
  return notices;
}

std::vector<std::string> ByebyeNotices(const Device& device) {
  std::vector<std::string> notices;
  for (const Target& target : Targets(device)) {
    Message notify = Notify(target, "ssdp:byebye");
    AddIds(device, &notify);
    notices.push_back(WriteMessage(notify));
  }
  return notices;
}

bool ParseSearch(const Message& message, Search* search, std::string* error) {
  const std::string* man = message.Find("MAN");
  const std::string* target = message.Find("ST");
  if (message.response || message.method != "M-SEARCH" || message.uri != "*") {
    *error = "SSDP: not an M-SEARCH *";
    return false;
  }
  if (man == nullptr || (*man != "\"ssdp:discover\"" && *man != "ssdp:discover")) {
    *error = "SSDP: MAN is not \"ssdp:discover\"";
    return false;
  }
  if (target == nullptr || target->empty()) {
    *error = "SSDP: no ST";
    return false;
  }
  Search parsed;
  parsed.target = *target;
  if (const std::optional<int> mx = Number(message, "MX")) {
    parsed.mx = std::clamp(*mx, 1, kLongestWait);
  }
  *search = parsed;
  return true;
}

std::vector<std::string> SearchAnswers(const Device& device, const Search& search) {
  std::vector<std::string> answers;
  for (const Target& target : Targets(device)) {
    if (search.target != "ssdp:all" && !EqualsIgnoringCase(search.target, target.nt)) {
      continue;
    }
    Message answer;
    answer.response = true;
    answer.version = "HTTP/1.1";
    answer.status = 200;
    answer.reason = "OK";
    answer.Add("CACHE-CONTROL", "max-age=" + std::to_string(device.max_age));
    answer.Add("EXT", "");
    answer.Add("LOCATION", device.location);
    answer.Add("SERVER", device.server);
    answer.Add("ST", target.nt);
    answer.Add("USN", target.usn);
    AddIds(device, &answer);
    answers.push_back(WriteMessage(answer));
  }
  return answers;
}

bool ParseAnnouncement(const Message& message, Announcement* announcement, std::string* error) {
  Announcement parsed;
  const std::string* nts = message.Find("NTS");
  const std::string* target = message.Find(message.response ? "ST" : "NT");
  if (message.response) {
    parsed.kind = Announcement::Kind::kAnswer;
    if (message.status != 200) {
      *error = "SSDP: an answer of status " + std::to_string(message.status);
      return false;
    }
  } else if (message.method == "NOTIFY" && nts != nullptr &&
             (*nts == "ssdp:alive" || *nts == "ssdp:byebye")) {
    parsed.kind = *nts == "ssdp:alive" ? Announcement::Kind::kAlive : Announcement::Kind::kByebye;
  } else {
    *error = "SSDP: neither an answer nor a NOTIFY alive or byebye";
    return false;
  }
  const std::string* usn = message.Find("USN");
  const std::string* location = message.Find("LOCATION");
  if (target == nullptr || usn == nullptr || usn->empty()) {
    *error =
        message.response ? "SSDP: an answer without ST or USN" : "SSDP: a NOTIFY without NT or USN";
    return false;
  }
  if (parsed.kind != Announcement::Kind::kByebye && (location == nullptr || location->empty())) {
    *error = "SSDP: no LOCATION";
    return false;
  }
  parsed.target = *target;
  parsed.usn = *usn;
  parsed.location = location != nullptr ? *location : "";
  parsed.max_age = MaxAge(message);
  parsed.boot_id = Number(message, "BOOTID.UPNP.ORG");
  parsed.config_id = Number(message, "CONFIGID.UPNP.ORG");
  parsed.device_id = Number(message, "DEVICEID.SES.COM");
  *announcement = parsed;
  return true;
}

std::string DeviceUuid(std::string_view usn) {
  if (!StartsWithIgnoringCase(usn, "uuid:")) {
    return "";
  }
  usn.remove_prefix(5);
  return std::string(usn.substr(0, usn.find("::")));
}

}  // namespace satip
