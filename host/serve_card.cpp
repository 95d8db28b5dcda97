// The card's thread for the server: see serve_card.h.
#include "host/serve_card.h"

#include <chrono>

#include "host/packet_ring.h"
#include "host/report.h"

namespace host {

using dvb::DeliverySystem;
using dvb::HexBytes;
using dvb::kSymbolRateHigh;
using dvb::kSymbolRateLow;
using dvb::ResolveTransponder;
using dvb::Transponder;

namespace {

constexpr auto kSignalPoll = std::chrono::milliseconds(200);

}  // namespace

bool ServeRequest(const satip::Tuning& tuning, const Transponder& lnb, TuneRequest* request,
                  std::string* error) {
  TuneRequest made;
  Transponder& t = made.transponder;
  t = lnb;
  t.frequency_khz = tuning.frequency_khz;
  t.polarization = tuning.polarization;
  t.symbol_rate = tuning.symbol_rate_ksym * 1000;
  t.inversion = 2;  // automatic
  t.fec_code = 0;   // automatic, also for DVB-S2's rates, which the card finds as it can
  if (tuning.system == DeliverySystem::kDvbS && tuning.fec &&
      !CardFecCode(*tuning.fec, &t.fec_code)) {
    *error = std::string("fec: ") + CodeRateName(*tuning.fec) + " is not a DVB-S code rate";
    return false;
  }
  if (t.symbol_rate < kSymbolRateLow || t.symbol_rate > kSymbolRateHigh) {
    *error = "sr: " + std::to_string(tuning.symbol_rate_ksym) +
             " kSym/s is not within the card's 1000..45000";
    return false;
  }
  std::vector<std::string> notes;
  if (!ResolveTransponder(&t, error, &notes)) {
    *error = "freq: " + *error;
    return false;
  }
  made.dish.port = tuning.src;
  *request = made;
  return true;
}

satip::Signal SatipSignal(const SignalReading& reading) {
  satip::Signal signal;
  if (reading.result != kResultOk) {
    return signal;
  }
  signal.level = (Percent(reading.record.strength) * satip::kMaxLevel + 50) / 100;
  signal.quality = (Percent(reading.record.quality) * satip::kMaxQuality + 50) / 100;
  signal.lock = reading.record.locked != 0;
  return signal;
}

ServeCard::ServeCard(const DeviceInterface& entries, const Transponder& lnb)
    : entries_(entries), lnb_(lnb), thread_([this] { Run(); }) {}

std::string ServeCard::Refusal(const satip::Tuning& tuning) const {
  TuneRequest request;
  std::string error;
  return ServeRequest(tuning, lnb_, &request, &error) ? "" : error;
}

void ServeCard::Tune(const satip::Tuning& tuning,
                     std::function<void(const satipserver::TuneResult&)> done) {
  const std::lock_guard<std::mutex> lock(mutex_);
  wanted_ = Wanted{tuning, std::move(done)};  // overtakes one not yet begun
  wake_.notify_one();
}

void ServeCard::Release() {
  const std::lock_guard<std::mutex> lock(mutex_);
  wanted_.reset();
}

satip::Signal ServeCard::Signal() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return signal_;
}

void ServeCard::Stop() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
    wake_.notify_one();
  }
  if (thread_.joinable()) {
    thread_.join();
  }
}

satipserver::TuneResult ServeCard::TuneNow(const satip::Tuning& tuning) {
  satipserver::TuneResult result;
  TuneRequest request;
  if (!ServeRequest(tuning, lnb_, &request, &result.problem)) {
    return result;  // checked before it was asked for: only if the LNB changed meanwhile
  }
  TuneReport report;
  SelectAndTune(entries_, request, &report);
  tuned_at_.store(packet_ring.pushed(), std::memory_order_release);
  result.locked = Locked(report);
  result.seconds = report.seconds;
  result.text = TransponderText(request.transponder) + ", switch port " +
                std::to_string(request.dish.port) + " (" + HexBytes(report.switch_message) + ")";
  if (report.switch_result != kResultOk) {
    result.problem = "the card refused the dish selection (DeviceSendDiseqc returned " +
                     std::to_string(report.switch_result) + ")";
  }
  const std::lock_guard<std::mutex> lock(mutex_);
  signal_ = SatipSignal(report.signal);
  return result;
}

void ServeCard::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stop_) {
    if (wanted_) {
      Wanted wanted = std::move(*wanted_);
      wanted_.reset();
      lock.unlock();
      const satipserver::TuneResult result = TuneNow(wanted.tuning);
      wanted.done(result);
      lock.lock();
      continue;
    }
    lock.unlock();
    const satip::Signal signal = SatipSignal(ReadSignal(entries_));
    lock.lock();
    signal_ = signal;
    wake_.wait_for(lock, kSignalPoll, [this] { return stop_ || wanted_.has_value(); });
  }
}

}  // namespace host
