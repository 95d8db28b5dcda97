// The Linux DVB card library's figures and adapters: see card_figures.h.
#include "host/card_figures.h"

#include <algorithm>

#include "host/linux_card.h"

bool ReadCardFigures(const CardLibrary& library, CardFigures* figures) {
  return ReadLinuxFigures(library, figures);
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
