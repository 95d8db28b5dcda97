// A card library's own figures: see card_figures.h.
#include "host/card_figures.h"

#include <algorithm>
#include <cstring>

namespace host {

namespace {

// Each count: its JSON name and its words in the text line, in the line's
// order (nullptr: in the JSON only).
struct CountName {
  CardCount count;
  const char* json;
  const char* text;
};
constexpr CountName kCountNames[] = {
    {CARD_COUNT_PACKETS, "packets", "packets"},
    {CARD_COUNT_DATAGRAMS, "datagrams", "datagrams"},
    {CARD_COUNT_MISSING, "missing", "missing"},
    {CARD_COUNT_REORDERED, "reordered", "reordered"},
    {CARD_COUNT_LATE, "late", "late"},
    {CARD_COUNT_RING_FULL, "ring_full", "dropped in a full ring"},
    {CARD_COUNT_OVERFLOWS, "overflows", "overflows"},
    {CARD_COUNT_SKIPPED_BYTES, "skipped_bytes", nullptr},
    {CARD_COUNT_LOCK_LOSSES, "lock_losses", "lock losses"},
    {CARD_COUNT_STREAM_ERRORS, "stream_errors", "stream errors"},
};
static_assert(sizeof kCountNames / sizeof kCountNames[0] == CARD_COUNTS, "a name for every count");

}  // namespace

bool ReadCardFigures(const CardLibrary& library, CardFigures* figures) {
  CardFiguresRecord read{};
  read.size = sizeof read;
  if (library.read_figures == nullptr || library.read_figures(&read) != 0) {
    return false;
  }
  CardFigures& out = *figures;
  out = CardFigures();
  out.device = std::string(read.device, strnlen(read.device, sizeof read.device));
  out.frontend = std::string(read.frontend, strnlen(read.frontend, sizeof read.frontend));
  out.locked = read.locked != 0;
  const auto measure = [](std::int32_t scale, double value, std::optional<double>* decibel,
                          std::optional<double>* relative, std::optional<int>* satip) {
    if (scale == CARD_SCALE_DECIBEL) {
      *decibel = value;
    } else if (scale == CARD_SCALE_RELATIVE) {
      *relative = value;
    } else if (scale == CARD_SCALE_SATIP) {
      *satip = static_cast<int>(value);
    }
  };
  measure(read.strength_scale, read.strength, &out.level_dbm, &out.level_relative, &out.level);
  measure(read.cnr_scale, read.cnr, &out.cnr_db, &out.cnr_relative, &out.quality);
  const char* const sources[] = {"", "counters", "v3", "quality"};
  if (read.ber_source > CARD_BER_NONE && read.ber_source <= CARD_BER_QUALITY) {
    out.bit_error_rate = read.bit_error_rate;
    out.ber_source = sources[read.ber_source];
  }
  for (unsigned n = 0; n < CARD_COUNTS; ++n) {
    if ((read.counted & (1U << n)) != 0) {
      out.counts[n] = read.counts[n];
    }
  }
  return true;
}

Json CardFiguresJson(const CardFigures& figures) {
  const auto figure = [](const std::optional<double>& value) {
    return value.has_value() ? Json(*value) : Json();
  };
  const auto step = [](const std::optional<int>& value) {
    return value.has_value() ? Json(*value) : Json();
  };
  Json json = {{"device", figures.device},
               {"frontend", figures.frontend},
               {"locked", figures.locked},
               {"level_dbm", figure(figures.level_dbm)},
               {"level_relative", figure(figures.level_relative)},
               {"cnr_db", figure(figures.cnr_db)},
               {"cnr_relative", figure(figures.cnr_relative)},
               {"level", step(figures.level)},
               {"quality", step(figures.quality)},
               {"bit_error_rate", figure(figures.bit_error_rate)},
               {"ber_source", *figures.ber_source != '\0' ? Json(figures.ber_source) : Json()}};
  for (const CountName& name : kCountNames) {
    if (figures.counts[name.count].has_value()) {
      json[name.json] = *figures.counts[name.count];
    }
  }
  return json;
}

std::string CardSignalText(const CardFigures& figures) {
  const auto relative = [](double value) { return Format("%.0f%%", value * 100 / 65535); };
  const std::string ber = figures.bit_error_rate.has_value()
                              ? Format("BER %.1e", *figures.bit_error_rate)
                              : "no BER yet";
  if (figures.level.has_value() || figures.quality.has_value()) {
    return Format("level %d/255  quality %d/15  ", figures.level.value_or(0),
                  figures.quality.value_or(0)) +
           ber;
  }
  const std::string level = figures.level_dbm.has_value() ? Format("%.1f dBm", *figures.level_dbm)
                            : figures.level_relative.has_value() ? relative(*figures.level_relative)
                                                                 : "no level";
  const std::string cnr = figures.cnr_db.has_value() ? Format("C/N %.1f dB", *figures.cnr_db)
                          : figures.cnr_relative.has_value()
                              ? "C/N " + relative(*figures.cnr_relative)
                              : "no C/N";
  return level + "  " + cnr + "  " + ber;
}

void SayCardFigures(const CardFigures& figures) {
  std::string counts;
  for (const CountName& name : kCountNames) {
    if (name.text != nullptr && figures.counts[name.count].has_value()) {
      counts += Format("%s%llu %s", counts.empty() ? "" : ", ",
                       static_cast<unsigned long long>(*figures.counts[name.count]), name.text);
    }
  }
  Say("Card figures      %s; %s (%s)\n", CardSignalText(figures).c_str(), counts.c_str(),
      figures.device.c_str());
}

std::uint64_t CardStreamErrors() {
  CardFigures figures;
  return ReadCardFigures(CardLibraryInUse(), &figures) ? figures.Count(CARD_COUNT_STREAM_ERRORS)
                                                       : 0;
}

}  // namespace host
