// The Linux DVB card library's figures and adapters: see card_figures.h.
#include "host/card_figures.h"

#include <algorithm>
#include <cstdio>

#ifndef _WIN32
#include "linuxdvb/figures.h"
#endif

bool ReadCardFigures(const CardLibrary& library, CardFigures* figures) {
#ifdef _WIN32
  (void)library;
  (void)figures;
  return false;
#else
  LinuxDvbFigures read{};
  read.size = sizeof read;
  if (library.read_figures == nullptr || library.read_figures(&read) != 0) {
    return false;
  }
  const auto measure = [](std::int32_t scale, double value, std::optional<double>* decibel,
                          std::optional<double>* relative) {
    if (scale == LINUXDVB_SCALE_DECIBEL) {
      *decibel = value;
    } else if (scale == LINUXDVB_SCALE_RELATIVE) {
      *relative = value;
    }
  };
  CardFigures& out = *figures;
  out = CardFigures();
  out.device = read.device;
  out.frontend = read.frontend;
  out.locked = read.locked != 0;
  measure(read.strength_scale, read.strength, &out.level_dbm, &out.level_relative);
  measure(read.cnr_scale, read.cnr, &out.cnr_db, &out.cnr_relative);
  if (read.ber_source != LINUXDVB_BER_NONE) {
    out.bit_error_rate = read.bit_error_rate;
    out.ber_source = read.ber_source == LINUXDVB_BER_COUNTERS ? "counters" : "v3";
  }
  out.packets = read.packets;
  out.overflows = read.overflows;
  out.skipped_bytes = read.skipped_bytes;
  out.lock_losses = read.lock_losses;
  out.stream_errors = read.stream_errors;
  return true;
#endif
}

Json CardFiguresJson(const CardFigures& figures) {
  const auto figure = [](const std::optional<double>& value) {
    return value.has_value() ? Json(*value) : Json();
  };
  return {{"device", figures.device},
          {"frontend", figures.frontend},
          {"locked", figures.locked},
          {"level_dbm", figure(figures.level_dbm)},
          {"level_relative", figure(figures.level_relative)},
          {"cnr_db", figure(figures.cnr_db)},
          {"cnr_relative", figure(figures.cnr_relative)},
          {"bit_error_rate", figure(figures.bit_error_rate)},
          {"ber_source", *figures.ber_source != '\0' ? Json(figures.ber_source) : Json()},
          {"packets", figures.packets},
          {"overflows", figures.overflows},
          {"skipped_bytes", figures.skipped_bytes},
          {"lock_losses", figures.lock_losses},
          {"stream_errors", figures.stream_errors}};
}

std::string CardSignalText(const CardFigures& figures) {
  const auto relative = [](double value) { return Format("%.0f%%", value * 100 / 65535); };
  const std::string level = figures.level_dbm.has_value() ? Format("%.1f dBm", *figures.level_dbm)
                            : figures.level_relative.has_value() ? relative(*figures.level_relative)
                                                                 : "no level";
  const std::string cnr = figures.cnr_db.has_value() ? Format("C/N %.1f dB", *figures.cnr_db)
                          : figures.cnr_relative.has_value()
                              ? "C/N " + relative(*figures.cnr_relative)
                              : "no C/N";
  const std::string ber = figures.bit_error_rate.has_value()
                              ? Format("BER %.1e", *figures.bit_error_rate)
                              : "no BER yet";
  return level + "  " + cnr + "  " + ber;
}

void SayCardFigures(const CardFigures& figures) {
  const auto count = [](std::uint64_t value) { return static_cast<unsigned long long>(value); };
  Say("Card figures      %s; %llu packets, %llu overflows, %llu lock losses, %llu stream errors"
      " (%s)\n",
      CardSignalText(figures).c_str(), count(figures.packets), count(figures.overflows),
      count(figures.lock_losses), count(figures.stream_errors), figures.device.c_str());
}

std::uint64_t CardStreamErrors() {
  CardFigures figures;
  return ReadCardFigures(CardLibraryInUse(), &figures) ? figures.stream_errors : 0;
}

bool ListAdapters(const CardLibrary& library, std::vector<AdapterEntry>* adapters) {
  if (library.list_adapters == nullptr) {
    return false;
  }
  std::string text(4096, '\0');
  int length = library.list_adapters(&text[0], static_cast<int>(text.size()));
  if (length >= static_cast<int>(text.size())) {  // a longer list: once more, all of it
    text.resize(static_cast<std::size_t>(length) + 1);
    length = library.list_adapters(&text[0], static_cast<int>(text.size()));
  }
  if (length < 0) {
    return false;
  }
  text.resize(std::min(static_cast<std::size_t>(length), text.size() - 1));
  // "adapter0 frontend0: NAME (DVBS DVBS2)", or without ": ..." when it could not be described.
  for (std::size_t start = 0; start < text.size();) {
    std::size_t end = text.find('\n', start);
    end = end == std::string::npos ? text.size() : end;
    const std::string line = text.substr(start, end - start);
    start = end + 1;
    AdapterEntry entry;
    if (std::sscanf(line.c_str(), "adapter%d frontend%d", &entry.adapter, &entry.frontend) != 2) {
      continue;
    }
    const std::size_t colon = line.find(": ");
    const std::size_t open = line.rfind(" (");
    if (colon != std::string::npos && open != std::string::npos && open > colon &&
        line.back() == ')') {
      entry.name = line.substr(colon + 2, open - colon - 2);
      const std::string systems = line.substr(open + 2, line.size() - open - 3);
      for (std::size_t at = 0; at < systems.size();) {
        std::size_t space = systems.find(' ', at);
        space = space == std::string::npos ? systems.size() : space;
        if (space > at) {
          entry.systems.push_back(systems.substr(at, space - at));
        }
        at = space + 1;
      }
    }
    adapters->push_back(entry);
  }
  return true;
}
