// The card as the SAT>IP server sees it (satipserver/card.h): a thread of its
// own owns the module's entries while serving (they are never called at the
// same time), tunes there, since DeviceTune takes from about 120 ms to about
// 3 s, and between tunes reads the signal about every 200 ms. The server's
// tunings become the module's requests as the tune command's options would:
// src=N is switch port N (its committed DiSEqC message), freq is on the dish
// and goes through the LNB chosen on the command line, msys=dvbs2 is tuned as
// DVB-S (the module's record has no modulation), where it finds no lock.
#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "abi/records.h"
#include "dvb/transponder.h"
#include "host/tuning.h"
#include "satipserver/card.h"

namespace host {

// The request for a tuning through `lnb` (its type, oscillator and tone, as
// the command line gave them); false with the reason when the card cannot
// take it.
bool ServeRequest(const satip::Tuning& tuning, const dvb::Transponder& lnb, TuneRequest* request,
                  std::string* error);

// The signal in SAT>IP's scales, from the module's percentages: level 0..255
// as strength x 255 / 100, quality 0..15 as quality x 15 / 100 (rounded);
// lock as the module's record says, none when the card gave no figures.
satip::Signal SatipSignal(const SignalReading& reading);

class ServeCard : public satipserver::Card {
 public:
  ServeCard(const DeviceInterface& entries, const dvb::Transponder& lnb);
  ~ServeCard() override { Stop(); }
  ServeCard(const ServeCard&) = delete;
  ServeCard& operator=(const ServeCard&) = delete;

  std::string Refusal(const satip::Tuning& tuning) const override;
  void Tune(const satip::Tuning& tuning,
            std::function<void(const satipserver::TuneResult&)> done) override;
  satip::Signal Signal() const override;
  // The card stays open and tuned, ready for the next; a tune not yet begun
  // is dropped, so that the next stream's tune does not wait behind it.
  void Release() override;
  // Ends the thread: no entry is called after it returns.
  void Stop();
  // The packet ring's count when the last tune ended: the packets before it
  // are of the transponder before, or of none.
  std::uint64_t tuned_at() const { return tuned_at_.load(std::memory_order_acquire); }

 private:
  struct Wanted {
    satip::Tuning tuning;
    std::function<void(const satipserver::TuneResult&)> done;
  };

  void Run();
  satipserver::TuneResult TuneNow(const satip::Tuning& tuning);

  const DeviceInterface& entries_;
  dvb::Transponder lnb_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::optional<Wanted> wanted_;
  bool stop_ = false;
  satip::Signal signal_;
  std::atomic<std::uint64_t> tuned_at_{0};
  std::thread thread_;
};

}  // namespace host
