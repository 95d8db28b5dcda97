// The eight channel words of CDVBFrontend::SetChannel (sim/README.md has the
// convention) as the tuning of a SAT>IP 1.2.2 query. Pure: nothing is sent.
//
//   word 0  frequency on the dish, kHz       -> freq (MHz; the server has the LNB)
//   word 2  symbol rate, symbols/s           -> sr (kSym/s, to the nearest)
//   word 5  LNB supply, 13 or 18 V           -> pol v or h (r or l with circular = yes)
//   word 6  FEC n for n/(n+1), 0 automatic   -> fec 12 23 34 45 56 78 89; none for 0 and 6/7
//   the settings' msys policy                -> msys (dvbs first, under auto)
//   the last switch command or burst         -> src
// Words 3 and 4 (the LNB's oscillator and the 22 kHz tone) are the server's
// own business: it has the LNB. Word 1 and word 7 (inversion) have no key.
#pragma once

#include <cstdint>
#include <string>

#include "satip/query.h"
#include "satipcard/settings.h"

namespace satipcard {

// The tuning the words ask for, at switch input `src` (1..4). False with a
// reason for words that describe no DVB-S transponder: frequency or symbol
// rate 0, a modulation family other than 1 or 2, an FEC word above 8, the LNB
// supply off.
bool TuningFromChannel(const std::uint32_t (&word)[8], int src, const Settings& settings,
                       satip::Tuning* tuning, std::string* error);

}  // namespace satipcard
