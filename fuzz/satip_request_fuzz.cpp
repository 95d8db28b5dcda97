// Fuzz target for what a SAT>IP server reads: a byte stream cut into pieces
// for the message reader, each request taken apart (URL, query, Transport,
// Session) and handled by the server's session logic, with time passing,
// sessions expiring and connections closing between requests. Checked:
//   - a query, Transport and Session header written back read the same;
//   - every response writes as a message that reads back with its status;
//   - never more streams than allowed, and every stream that holds a tuning
//     is on the transponder the card holds; the card is free when none does.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "satip/message.h"
#include "satip/query.h"
#include "satip/sessions.h"
#include "satip/transport.h"
#include "satip/url.h"

namespace {

void Check(bool condition) {
  if (!condition) {
    std::abort();
  }
}

void CheckRoundTrips(const satip::Message& request) {
  satip::Url url;
  std::string error;
  satip::Query query;
  if (satip::ParseUrl(request.uri, &url, &error) && satip::ParseQuery(url.query, &query, &error)) {
    satip::Query again;
    Check(satip::ParseQuery(satip::FormatQuery(query), &again, &error) && again == query);
  }
  std::vector<satip::Transport> offers;
  if (const std::string* transport = request.Find("Transport");
      transport != nullptr && satip::ParseTransports(*transport, &offers, &error)) {
    for (const satip::Transport& offer : offers) {
      std::vector<satip::Transport> again;
      Check(satip::ParseTransports(satip::FormatTransport(offer), &again, &error));
      Check(again.size() == 1 && again[0].tcp == offer.tcp &&
            again[0].multicast == offer.multicast && again[0].client_port == offer.client_port &&
            again[0].interleaved == offer.interleaved &&
            again[0].destination == offer.destination && again[0].ttl == offer.ttl);
    }
  }
  satip::SessionHeader session;
  if (const std::string* text = request.Find("Session");
      text != nullptr && satip::ParseSessionHeader(*text, &session)) {
    satip::SessionHeader again;
    Check(satip::ParseSessionHeader(satip::FormatSessionHeader(session), &again) &&
          again.id == session.id && again.timeout == session.timeout);
  }
}

void CheckState(const satip::Sessions& sessions, const satip::Settings& settings) {
  Check(sessions.streams().size() <= static_cast<std::size_t>(settings.max_sessions));
  bool held = false;
  for (const satip::Stream& stream : sessions.streams()) {
    if (stream.tuning) {
      held = true;
      Check(sessions.card().has_value() &&
            satip::SameTransponder(*sessions.card(), *stream.tuning));
    }
  }
  Check(held == sessions.card().has_value());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  satip::Settings settings;
  settings.max_sessions = 3;
  settings.rtp_port = 6970;
  satip::Sessions sessions(settings);
  satip::StreamReader reader;
  satip::Time now;
  std::uint32_t cut = static_cast<std::uint32_t>(size) * 2654435761u;
  std::uint64_t requests = 0;
  for (std::size_t at = 0; at < size;) {
    cut = cut * 1103515245u + 12345u;
    const std::size_t piece = std::min<std::size_t>(1 + (cut >> 16) % 300, size - at);
    reader.Feed(data + at, piece);
    at += piece;
    satip::Message request;
    satip::Frame frame;
    for (satip::StreamReader::Item item;
         (item = reader.Next(&request, &frame)) != satip::StreamReader::Item::kNeedMore &&
         item != satip::StreamReader::Item::kError;) {
      if (item != satip::StreamReader::Item::kMessage) {
        continue;
      }
      CheckRoundTrips(request);
      ++requests;
      satip::Context context;
      context.peer_address = requests % 7 == 0 ? "10.0.0.3" : "10.0.0.2";
      context.local_address = "10.0.0.5";
      context.connection = requests % 4;
      context.now = now;
      context.random = requests * 0x9E3779B97F4A7C15u;
      context.signal = {static_cast<int>(requests * 37 % 300), requests % 2 == 0, 7};
      const satip::Outcome outcome = request.version.substr(0, 5) == "HTTP/"
                                         ? sessions.HandleHttp(request, context)
                                         : sessions.Handle(request, context);
      satip::Message written;
      Check(satip::ParseMessage(satip::WriteMessage(outcome.response), &written,
                                64 * satip::kMaxMessage) == satip::ReadError::kNone &&
            written.status == outcome.response.status);
      CheckState(sessions, settings);
      now += std::chrono::seconds(requests % 7 * 5);
      sessions.Expire(now);
      if (requests % 5 == 0) {
        sessions.ConnectionClosed(requests % 4);
      }
      CheckState(sessions, settings);
    }
  }
  return 0;
}
