// What comes from the server: RTP (over UDP or inside the RTSP connection)
// put back in order and into the ring, and the RTCP reports; see tuner.h.
#include "satip/rtcp.h"
#include "satip/rtp.h"
#include "satipcard/sockets.h"
#include "satipcard/tuner.h"

namespace satipcard {

namespace {

constexpr int kSocketBuffer = 8 << 20;  // the system may grant less
constexpr int kPortAttempts = 32;
constexpr int kDrainDatagrams = 64;                // read at once when they are there
constexpr std::uint32_t kSameFrequencyKhz = 1000;  // servers write MHz with 0..3 decimals

// Whether a report speaks of `tuning`, as far as it says.
bool Describes(const satip::Status& status, const satip::Tuning& tuning) {
  const satip::Query& values = status.values;
  if (values.frequency_khz) {
    const std::uint32_t a = *values.frequency_khz;
    const std::uint32_t b = tuning.frequency_khz;
    if ((a > b ? a - b : b - a) > kSameFrequencyKhz) {
      return false;
    }
  }
  return (!values.polarization || *values.polarization == tuning.polarization) &&
         (!values.src || *values.src == tuning.src);
}

}  // namespace

bool Tuner::OpenUdp(std::string* error) {
  if (rtp_.is_open() && rtcp_.is_open()) {
    return true;
  }
  CloseUdp();
  // On the addresses of the family the RTSP connection uses, a pair of
  // ports: RTP on an even one, RTCP on the next.
  const asio::ip::address any = rtsp_.remote_endpoint().address().is_v6()
                                    ? asio::ip::address(asio::ip::address_v6::any())
                                    : asio::ip::address(asio::ip::address_v4::any());
  const asio::ip::udp protocol = any.is_v6() ? asio::ip::udp::v6() : asio::ip::udp::v4();
  asio::error_code failure;
  for (int attempt = 0; attempt < kPortAttempts; ++attempt) {
    rtp_.open(protocol, failure);
    rtp_.bind({any, 0}, failure);
    const std::uint16_t port = failure ? 0 : rtp_.local_endpoint().port();
    if (!failure && port % 2 == 0 && port < 65535) {
      rtcp_.open(protocol, failure);
      rtcp_.bind({any, static_cast<std::uint16_t>(port + 1)}, failure);
      if (!failure) {
        rtp_.set_option(asio::socket_base::receive_buffer_size(kSocketBuffer), failure);
        rtp_.non_blocking(true, failure);
        return true;
      }
    }
    CloseUdp();
  }
  *error = "no pair of UDP ports for RTP and RTCP: " + Reason(failure);
  return false;
}

void Tuner::CloseUdp() {
  asio::error_code ignored;
  rtp_.close(ignored);
  rtcp_.close(ignored);
}

void Tuner::ReceiveRtp() {
  rtp_.async_receive_from(asio::buffer(rtp_buffer_), rtp_sender_,
                          [this](const asio::error_code& error, std::size_t size) {
                            if (error == asio::error::operation_aborted || !rtp_.is_open()) {
                              return;
                            }
                            // From the server only: nothing else on the network can add packets.
                            const asio::ip::address server = rtsp_.remote_endpoint().address();
                            if (!error && rtp_sender_.address() == server) {
                              OnRtp(rtp_buffer_.data(), size);
                            }
                            // What else has come, without a turn of the event loop for each.
                            asio::error_code more;
                            for (int i = 0; i < kDrainDatagrams && !more; ++i) {
                              size = rtp_.receive_from(asio::buffer(rtp_buffer_), rtp_sender_, 0,
                                                       more);
                              if (!more && rtp_sender_.address() == server) {
                                OnRtp(rtp_buffer_.data(), size);
                              }
                            }
                            ReceiveRtp();
                          });
}

void Tuner::ReceiveRtcp() {
  rtcp_.async_receive_from(
      asio::buffer(rtcp_buffer_), rtcp_sender_,
      [this](const asio::error_code& error, std::size_t size) {
        if (error == asio::error::operation_aborted || !rtcp_.is_open()) {
          return;
        }
        if (!error && rtcp_sender_.address() == rtsp_.remote_endpoint().address()) {
          OnRtcp(rtcp_buffer_.data(), size);
        }
        ReceiveRtcp();
      });
}

void Tuner::OnFrame(const satip::Frame& frame) {
  if (!session_ || !session_->tcp) {
    return;
  }
  if (frame.channel == session_->rtp_channel) {
    OnRtp(frame.data, frame.size);
  } else if (frame.channel == session_->rtcp_channel) {
    OnRtcp(frame.data, frame.size);
  }
}

void Tuner::OnRtp(const std::uint8_t* data, std::size_t size) {
  satip::RtpPacket packet;
  if (!satip::ParseRtp(data, size, &packet) ||
      packet.header.payload_type != satip::kMp2tPayloadType) {
    return;
  }
  if (ssrc_ != packet.header.ssrc) {
    sequencer_.Restart();  // another source: its numbers start a run of their own
    ssrc_ = packet.header.ssrc;
  }
  sequencer_.Take(packet.header.sequence, packet.payload, packet.payload_size, Clock::now());
  PublishCounts();
  ArmFlush();
}

void Tuner::Deliver(void* self, const std::uint8_t* payload, std::size_t size) {
  auto* tuner = static_cast<Tuner*>(self);
  PayloadPackets(payload, size, &Tuner::PutPackets, self, &tuner->payload_skipped_);
}

void Tuner::PutPackets(void* self, const std::uint8_t* packets, std::size_t count) {
  static_cast<Tuner*>(self)->ring_->Put(packets, count);
}

void Tuner::OnRtcp(const std::uint8_t* data, std::size_t size) {
  std::string text;
  satip::Status status;
  std::string error;
  if (satip::FindSes1(data, size, &text) && satip::ParseStatus(text, &status, &error)) {
    last_rtcp_ = Clock::now();
    Reported(status);
  }
}

bool Tuner::Reported(const satip::Status& status) {
  if (!tuning_ || !Describes(status, *tuning_)) {
    return false;
  }
  std::lock_guard<std::mutex> hold(shared_);
  const bool was_locked =
      report_valid_ && report_.lock && Clock::now() - report_time_ <= kReportLife;
  if (was_locked && !status.signal.lock && ring_->recording()) {
    ++counts_.lock_losses;
  }
  report_valid_ = true;
  report_time_ = Clock::now();
  report_ = status.signal;
  return true;
}

void Tuner::ArmFlush() {
  if (flush_armed_ || !sequencer_.holding()) {
    return;
  }
  // When the oldest gap has waited long enough, measured from the arrival of
  // the first datagram after it.
  flush_armed_ = true;
  flush_.expires_at(sequencer_.OldestHeld() + kHoldLimit);
  flush_.async_wait([this](const asio::error_code& error) {
    flush_armed_ = false;
    if (!error) {
      sequencer_.GiveUp(Clock::now() - kHoldLimit);
      PublishCounts();
      ArmFlush();
    }
  });
}

void Tuner::PublishCounts() {
  const Sequencer::Counts& sequence = sequencer_.counts();
  std::lock_guard<std::mutex> hold(shared_);
  counts_.datagrams = sequence.datagrams;
  counts_.missing = sequence.missing;
  counts_.reordered = sequence.reordered;
  counts_.late = sequence.late;
  counts_.skipped_bytes = payload_skipped_ + cutter_.skipped();
}

}  // namespace satipcard
