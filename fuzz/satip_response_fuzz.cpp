// Fuzz target for what a SAT>IP client reads, each parser over the whole
// input: the RTSP connection (responses and interleaved RTP and RTCP frames),
// an RTP or RTCP datagram, a status string, an SDP body, an SSDP datagram.
// Checked: what is read and written again reads the same (a status's values
// as a query, a SES1 string in a packet of our own, an RTP header), and the
// answers to a search read back as answers.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "satip/message.h"
#include "satip/rtcp.h"
#include "satip/rtp.h"
#include "satip/sdp.h"
#include "satip/ssdp.h"
#include "satip/status.h"
#include "satip/transport.h"

namespace {

void Check(bool condition) {
  if (!condition) {
    std::abort();
  }
}

void ReadStatus(std::string_view text) {
  satip::Status status;
  std::string error;
  if (!satip::ParseStatus(text, &status, &error)) {
    return;
  }
  Check(status.signal.level >= 0 && status.signal.level <= satip::kMaxLevel);
  Check(status.signal.quality >= 0 && status.signal.quality <= satip::kMaxQuality);
  satip::Query again;
  Check(satip::ParseQuery(satip::FormatQuery(status.values), &again, &error) &&
        again == status.values);
}

void ReadDatagram(const std::uint8_t* data, std::size_t size) {
  satip::RtpPacket packet;
  if (satip::ParseRtp(data, size, &packet)) {
    Check(packet.payload >= data && packet.payload + packet.payload_size <= data + size);
    std::uint8_t header[satip::kRtpHeaderSize];
    satip::WriteRtpHeader(packet.header, header);
    satip::RtpPacket again;
    Check(satip::ParseRtp(header, sizeof header, &again) &&
          again.header.sequence == packet.header.sequence &&
          again.header.timestamp == packet.header.timestamp &&
          again.header.ssrc == packet.header.ssrc && again.header.marker == packet.header.marker);
  }
  std::string status;
  if (satip::FindSes1(data, size, &status)) {
    ReadStatus(status);
    const std::vector<std::uint8_t> ours = satip::BuildRtcp({}, "fuzz", status);
    std::string again;
    Check(satip::FindSes1(ours.data(), ours.size(), &again) && again == status);
  }
}

void ReadSsdp(std::string_view text) {
  satip::Message message;
  if (satip::ParseMessage(text, &message) != satip::ReadError::kNone) {
    return;
  }
  std::string error;
  satip::Announcement announcement;
  if (satip::ParseAnnouncement(message, &announcement, &error)) {
    satip::DeviceUuid(announcement.usn);
  }
  satip::Search search;
  if (satip::ParseSearch(message, &search, &error)) {
    satip::Device device;
    device.uuid = "6b0c9c1e-53b4-4d8e-9f5a-0123456789ab";
    device.location = "http://10.0.0.5:8080/desc.xml";
    device.server = "Linux/6.1 UPnP/1.1 Morvalind/1.0";
    for (const std::string& answer : satip::SearchAnswers(device, search)) {
      satip::Message read;
      Check(satip::ParseMessage(answer, &read) == satip::ReadError::kNone &&
            satip::ParseAnnouncement(read, &announcement, &error) &&
            announcement.location == device.location);
    }
  }
}

void ReadConnection(const std::uint8_t* data, std::size_t size) {
  satip::StreamReader reader;
  reader.Feed(data, size);
  satip::Message message;
  satip::Frame frame;
  for (satip::StreamReader::Item item;
       (item = reader.Next(&message, &frame)) != satip::StreamReader::Item::kNeedMore &&
       item != satip::StreamReader::Item::kError;) {
    if (item == satip::StreamReader::Item::kFrame) {
      ReadDatagram(frame.data, frame.size);
      continue;
    }
    std::vector<satip::SdpMedia> media;
    std::string error;
    satip::ParseSdp(message.body, &media, &error);
    satip::SessionHeader session;
    if (const std::string* text = message.Find("Session")) {
      satip::ParseSessionHeader(*text, &session);
    }
    std::vector<satip::Transport> offers;
    if (const std::string* text = message.Find("Transport")) {
      satip::ParseTransports(*text, &offers, &error);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  ReadConnection(data, size);
  ReadDatagram(data, size);
  ReadStatus(text);
  std::vector<satip::SdpMedia> media;
  std::string error;
  if (satip::ParseSdp(text, &media, &error)) {
    for (const satip::SdpMedia& one : media) {
      Check(!one.status || (one.status->signal.level >= 0 && one.status->signal.level <= 255));
    }
  }
  ReadSsdp(text);
  return 0;
}
