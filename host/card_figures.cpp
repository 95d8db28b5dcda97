// The Linux DVB card library's figures and adapters: see card_figures.h.
#include "host/card_figures.h"

#include <algorithm>

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
#ifdef _WIN32
  (void)library;
  (void)adapters;
  return false;
#else
  if (library.list_adapters == nullptr) {
    return false;
  }
  std::vector<LinuxDvbAdapter> read(16);
  int count = library.list_adapters(read.data(), static_cast<int>(read.size()), sizeof read[0]);
  if (count > static_cast<int>(read.size())) {  // more than fit: once more, with room for all
    read.resize(static_cast<std::size_t>(count));
    count = library.list_adapters(read.data(), count, sizeof read[0]);
  }
  if (count < 0) {
    return false;
  }
  read.resize(std::min(read.size(), static_cast<std::size_t>(count)));
  for (const LinuxDvbAdapter& frontend : read) {
    AdapterEntry& entry = adapters->emplace_back();
    entry.adapter = frontend.adapter;
    entry.frontend = frontend.frontend;
    if (frontend.described != 0) {
      entry.name = frontend.name;
      for (const auto& system : frontend.systems) {
        if (system[0] != '\0') {
          entry.systems.emplace_back(system);
        }
      }
    }
  }
  return true;
#endif
}
