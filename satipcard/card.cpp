// The SAT>IP card: see card.h.
#include "satipcard/card.h"

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>

#include "cardlib/library_file.h"
#include "satip/query.h"
#include "satipcard/channel.h"
#include "satipcard/discovery.h"
#include "satipcard/diseqc.h"
#include "satipcard/signal.h"
#include "satipcard/sockets.h"
#include "satipcard/tuner.h"

namespace satipcard {

namespace {

struct Card {
  std::mutex control;  // the host's thread's calls
  Log log;
  Settings settings;
  std::string where;  // "SAT>IP 127.0.0.1:554 over UDP"
  std::unique_ptr<Tuner> tuner;
  int src = 1;  // the next tune's switch input
  bool locked = false;
  satip::Signal signal;
  TunerCounts closed;  // the counts of the tuner closed last
  std::uint64_t dropped_at_open = 0;
  std::atomic<std::uint64_t> packets{0};
  // The ring outlives every tuner: the capture thread may read it at any time.
  Ring ring;
};

Card& TheCard() {
  static Card* card = new Card;  // never destroyed: threads may reach it to the end
  return *card;
}

// The settings file and the environment over the built-in settings; false
// with the reason.
bool ReadSettings(Settings* settings, std::string* settings_file, std::string* error) {
  std::string named;
  const bool given = cardlib::Environment(kSettingsVariable, &named) && !named.empty();
  *settings_file = given ? named : cardlib::FolderOf(cardlib::LibraryPath()) + kSettingsFileName;
  std::ifstream file(*settings_file, std::ios::binary);
  if (file) {
    std::stringstream text;
    text << file.rdbuf();
    if (!ParseSettings(text.str(), settings, error)) {
      *error = *settings_file + ": " + *error;
      return false;
    }
  } else if (given) {
    *error = *settings_file + " (" + kSettingsVariable + ") cannot be read";
    return false;
  }
  std::string server;
  if (cardlib::Environment(kServerVariable, &server) && !server.empty()) {
    Server read;
    if (!ParseServer(server, &read, error)) {
      *error = std::string(kServerVariable) + ": " + *error;
      return false;
    }
    settings->server = read;
  }
  if (cardlib::FolderOf(settings->log).empty() && !settings->log.empty()) {
    settings->log = cardlib::FolderOf(*settings_file) + settings->log;
  }
  return true;
}

// The log the settings name; by default beside the library, or in the
// system's folder for temporary files where the library's may not be written
// (an installed program's).
void OpenLog(const std::string& named, Log* log) {
  if (!named.empty()) {
    if (!log->Open(named)) {
      std::fprintf(stderr, "satipcard card library: the log %s cannot be written\n", named.c_str());
    }
    return;
  }
  std::error_code unknown;
  const std::filesystem::path temporary = std::filesystem::temp_directory_path(unknown);
  if (!log->Open(cardlib::FolderOf(cardlib::LibraryPath()) + kLogFileName) &&
      (unknown || !log->Open((temporary / kLogFileName).string()))) {
    std::fprintf(stderr, "satipcard card library: no log file can be written\n");
  }
}

std::string TuningText(const satip::Tuning& tuning) {
  satip::Query query = satip::TuningQuery(tuning);
  return satip::FormatQuery(query);
}

}  // namespace

bool OpenCard() {
  Card& card = TheCard();
  std::lock_guard<std::mutex> hold(card.control);
  if (card.tuner) {
    return true;
  }
  Settings settings;
  std::string settings_file;
  std::string error;
  const bool read = ReadSettings(&settings, &settings_file, &error);
  OpenLog(read ? settings.log : std::string(), &card.log);
  if (!read || !StartSockets(&error)) {
    card.log.Fail(error + "; the card does not open");
    return false;
  }
  std::string name;
  if (!settings.server) {
    Server found;
    if (!DiscoverServer(kDiscoveryLimit, &found, &name, &error)) {
      card.log.Fail(error + "; name one in " + settings_file + " or " + kServerVariable +
                    "=HOST[:PORT]; the card does not open");
      return false;
    }
    card.log.Note("SSDP: " + (name.empty() ? std::string("a server") : name) + " at " +
                  ServerText(found));
    settings.server = found;
  }
  card.where =
      "SAT>IP " + ServerText(*settings.server) + " over " + TransportName(settings.transport);
  auto tuner = std::make_unique<Tuner>(settings, *settings.server, &card.ring, &card.log);
  if (!tuner->Check(&error)) {
    card.log.Fail(ServerText(*settings.server) + ": " + error + "; the card does not open");
    return false;
  }
  card.log.Note("opened: " + card.where + ", msys " + PolicyName(settings.system) +
                (settings.circular ? ", circular polarisation" : "") + " (settings " +
                settings_file + ")");
  card.settings = settings;
  card.tuner = std::move(tuner);
  card.src = 1;
  card.locked = false;
  card.signal = {};
  card.closed = {};
  card.dropped_at_open = card.ring.dropped();
  card.packets = 0;
  card.ring.SetRecording(false);
  return true;
}

void CloseCard() {
  Card& card = TheCard();
  std::lock_guard<std::mutex> hold(card.control);
  card.ring.SetRecording(false);
  if (card.tuner) {
    card.closed = card.tuner->Counts();
    card.tuner.reset();
    card.log.Note(
        "closed: " + std::to_string(card.packets.load()) + " packets, " +
        std::to_string(card.closed.datagrams) + " datagrams, " +
        std::to_string(card.closed.missing) + " missing, " + std::to_string(card.closed.reordered) +
        " reordered, " + std::to_string(card.closed.late) + " late, " +
        std::to_string(card.ring.dropped() - card.dropped_at_open) + " dropped in a full ring, " +
        std::to_string(card.closed.stream_errors) + " streams lost");
  }
}

bool CardOpen() {
  Card& card = TheCard();
  std::lock_guard<std::mutex> hold(card.control);
  return card.tuner != nullptr;
}

std::int32_t Tune(const std::uint32_t (&word)[8]) {
  Card& card = TheCard();
  std::lock_guard<std::mutex> hold(card.control);
  if (!card.tuner) {
    return kRefused;
  }
  satip::Tuning tuning;
  std::string error;
  if (!TuningFromChannel(word, card.src, card.settings, &tuning, &error)) {
    card.log.Fail("tune refused: " + error);
    return kRefused;
  }
  if (!card.tuner->Tune(tuning, &error)) {
    card.log.Fail("the server refused " + TuningText(tuning) + ": " + error);
    return kRefused;
  }
  return kDone;
}

std::int32_t ReadState(std::int32_t* locked, std::uint8_t* level, double* bit_error_rate) {
  Card& card = TheCard();
  std::lock_guard<std::mutex> hold(card.control);
  if (!card.tuner) {
    return kRefused;
  }
  const Tuner::State state = card.tuner->ReadState();
  card.locked = state.locked;
  card.signal = state.signal;
  *locked = state.locked ? 1 : 0;
  *level = state.locked ? LevelByte(state.signal.level) : 0;
  *bit_error_rate = state.locked ? BitErrorRate(state.signal.quality) : kUnlockedBitErrorRate;
  return kDone;
}

std::int32_t SendDiseqc(const std::uint8_t* message, std::uint8_t count, std::uint8_t burst) {
  Card& card = TheCard();
  std::lock_guard<std::mutex> hold(card.control);
  if (!card.tuner) {
    return kRefused;
  }
  const SwitchChoice choice = SwitchFromDiseqc(message, count, burst);
  switch (choice.kind) {
    case SwitchChoice::Kind::kSource:
      card.src = choice.src;
      card.log.Note("switch: src=" + std::to_string(choice.src) + " from the next tune");
      return kDone;
    case SwitchChoice::Kind::kNothing:
      return kDone;
    case SwitchChoice::Kind::kCannot:
      break;
  }
  card.log.Fail("DiSEqC: " + choice.reason + "; SAT>IP carries only switch inputs (src)");
  return kRefused;
}

bool Record(bool on) {
  Card& card = TheCard();
  card.ring.SetRecording(on && CardOpen());
  return true;
}

std::int32_t ReadStream(std::uint8_t* buffer, std::int32_t capacity) {
  if (buffer == nullptr || capacity <= 0) {
    return 0;
  }
  Card& card = TheCard();
  const std::size_t bytes = card.ring.Take(buffer, static_cast<std::size_t>(capacity));
  card.packets.fetch_add(bytes / kPacketSize, std::memory_order_relaxed);
  return static_cast<std::int32_t>(bytes);
}

int ReadFigures(CardFiguresRecord* figures) {
  if (figures == nullptr || figures->size != sizeof(CardFiguresRecord)) {
    return -1;
  }
  Card& card = TheCard();
  std::lock_guard<std::mutex> hold(card.control);
  CardFiguresRecord out{};
  out.size = sizeof out;
  out.open = card.tuner != nullptr ? 1 : 0;
  std::snprintf(out.device, sizeof out.device, "%s", card.where.c_str());
  const TunerCounts counts = card.tuner ? card.tuner->Counts() : card.closed;
  std::snprintf(out.frontend, sizeof out.frontend, "%s",
                card.tuner ? card.tuner->StreamText().c_str() : "");
  out.locked = card.locked ? 1 : 0;
  if (card.locked) {
    out.strength_scale = CARD_SCALE_SATIP;
    out.strength = card.signal.level;
    out.cnr_scale = CARD_SCALE_SATIP;
    out.cnr = card.signal.quality;
    out.ber_source = CARD_BER_QUALITY;
    out.bit_error_rate = BitErrorRate(card.signal.quality);
  }
  const std::uint64_t values[CARD_COUNTS] = {
      card.packets.load(std::memory_order_relaxed),
      0,
      counts.skipped_bytes,
      counts.lock_losses,
      counts.stream_errors,
      counts.datagrams,
      counts.missing,
      counts.reordered,
      counts.late,
      card.ring.dropped() - card.dropped_at_open,
  };
  for (unsigned n = 0; n < CARD_COUNTS; ++n) {
    if (n != CARD_COUNT_OVERFLOWS) {
      out.counted |= 1U << n;
      out.counts[n] = values[n];
    }
  }
  *figures = out;
  return 0;
}

int LastProblem(char* buffer, int capacity) {
  const std::string said = TheCard().log.LastProblem();
  if (buffer != nullptr && capacity > 0) {
    std::snprintf(buffer, static_cast<std::size_t>(capacity), "%s", said.c_str());
  }
  return static_cast<int>(said.size());
}

}  // namespace satipcard
