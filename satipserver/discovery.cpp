// SSDP announcements and answers: see discovery.h.
#include "satipserver/discovery.h"

#include <asio/ip/multicast.hpp>

#include "satip/message.h"

namespace satipserver {

namespace {

constexpr int kAnswersPerSecond = 10;
constexpr int kHops = 2;

asio::ip::udp::endpoint Group() {
  return {asio::ip::make_address_v4(satip::kSsdpAddress), satip::kSsdpPort};
}

}  // namespace

Discovery::Discovery(asio::io_context& loop, DiscoverySettings settings)
    : loop_(loop), settings_(std::move(settings)), socket_(loop), timer_(loop) {}

bool Discovery::Start(std::string* error) {
  asio::error_code code;
  socket_.open(asio::ip::udp::v4(), code);
  if (!code) {
    socket_.set_option(asio::ip::udp::socket::reuse_address(true), code);
    socket_.bind({asio::ip::address_v4::any(), satip::kSsdpPort}, code);
  }
  if (!code) {
    socket_.set_option(asio::ip::multicast::join_group(Group().address()), code);
  }
  if (code) {
    *error = "SSDP on UDP port 1900: " + code.message();
    socket_.close(code);
    return false;
  }
  socket_.set_option(asio::ip::multicast::hops(kHops), code);
  socket_.set_option(asio::ip::multicast::enable_loopback(true), code);
  socket_.non_blocking(true, code);
  running_ = true;
  window_ = std::chrono::steady_clock::now();
  Receive();
  Announce();
  return true;
}

void Discovery::Stop() {
  if (!running_) {
    return;
  }
  running_ = false;
  timer_.cancel();
  SendAll(satip::ByebyeNotices(settings_.device), Group());
  asio::error_code ignored;
  socket_.close(ignored);
}

std::string Discovery::Location(const asio::ip::udp::endpoint& toward) {
  asio::ip::address address;
  if (settings_.address && !settings_.address->is_unspecified()) {
    address = *settings_.address;
  } else {
    // The address a datagram to there leaves from: the route's, nothing is sent.
    asio::ip::udp::socket probe(loop_);
    asio::error_code code;
    probe.connect(toward, code);
    address = code ? asio::ip::address(asio::ip::address_v4::loopback())
                   : probe.local_endpoint(code).address();
  }
  const std::string host = address.is_v6() ? "[" + address.to_string() + "]" : address.to_string();
  return "http://" + host + ":" + std::to_string(settings_.http_port) + "/desc.xml";
}

void Discovery::SendAll(const std::vector<std::string>& texts, const asio::ip::udp::endpoint& to) {
  for (const std::string& text : texts) {
    asio::error_code ignored;  // a full buffer loses the datagram, as the network may
    socket_.send_to(asio::buffer(text), to, 0, ignored);
  }
}

void Discovery::Announce() {
  settings_.device.location = Location(Group());
  SendAll(satip::AliveNotices(settings_.device), Group());
  timer_.expires_after(std::chrono::seconds(settings_.device.max_age / 3));
  timer_.async_wait([this](const asio::error_code& error) {
    if (!error && running_) {
      Announce();
    }
  });
}

void Discovery::Receive() {
  socket_.async_receive_from(
      asio::buffer(incoming_), from_, [this](const asio::error_code& error, std::size_t size) {
        if (!running_ || error == asio::error::operation_aborted) {
          return;
        }
        satip::Message message;
        satip::Search search;
        std::string problem;
        const auto now = std::chrono::steady_clock::now();
        if (now - window_ >= std::chrono::seconds(1)) {
          window_ = now;
          answers_ = 0;
        }
        if (!error && Admitted(settings_.allow, from_.address()) &&
            satip::ParseMessage({incoming_.data(), size}, &message) == satip::ReadError::kNone &&
            satip::ParseSearch(message, &search, &problem) && answers_ < kAnswersPerSecond) {
          satip::Device device = settings_.device;
          device.location = Location(from_);
          const std::vector<std::string> answers = satip::SearchAnswers(device, search);
          answers_ += answers.empty() ? 0 : 1;
          SendAll(answers, from_);
        }
        Receive();
      });
}

}  // namespace satipserver
