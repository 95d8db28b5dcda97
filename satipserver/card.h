// The card behind the server, as the host program gives it: tuning done on a
// thread of the card's own (a tune takes from about 120 ms to about 3 s, and
// the loop serves everyone meanwhile), its latest signal, and its release when
// no stream holds it. The server calls these on its loop thread.
#pragma once
#include <functional>
#include <string>

#include "satip/query.h"
#include "satip/status.h"

namespace satipserver {

// What a tune did, for the log: the transponder as the card was given it and
// whether it locked. No lock is no error: the stream goes on with lock=0.
struct TuneResult {
  bool locked = false;
  std::string text;     // "11778 MHz V 27500 kSym/s FEC 3/4, switch port 1 (E0 10 38 F0)"
  std::string problem;  // the card refused the dish selection or the tune; "" if it did not
  double seconds = 0;
};

class Card {
 public:
  virtual ~Card() = default;

  // Whether the card can take the tuning at all (the LNB's range, a code rate
  // the card knows), before a stream is given it: "" or the reason.
  virtual std::string Refusal(const satip::Tuning& tuning) const = 0;
  // Starts tuning and returns at once; `done` is called once, from any
  // thread, when the card is on the transponder. A later Tune overtakes one
  // not yet begun, whose `done` is then never called.
  virtual void Tune(const satip::Tuning& tuning, std::function<void(const TuneResult&)> done) = 0;
  // The figures of the last poll (about every 200 ms): level 0..255, quality 0..15.
  virtual satip::Signal Signal() const = 0;
  // No stream holds the tuner any more: a tune not yet begun is not wanted.
  virtual void Release() = 0;
};

}  // namespace satipserver
