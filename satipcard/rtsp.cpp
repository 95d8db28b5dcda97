// The RTSP connection: see rtsp.h.
#include "satipcard/rtsp.h"

#include <asio/write.hpp>

#include "satipcard/connect.h"
#include "satipcard/sockets.h"

namespace satipcard {

namespace {

constexpr std::size_t kReadBytes = std::size_t{256} * 1024;
constexpr char kUserAgent[] = "Morvalind SAT>IP card library";

}  // namespace

RtspConnection::RtspConnection(asio::io_context& io, Server server, FrameHandler on_frame,
                               ClosedHandler on_closed)
    : server_(std::move(server)),
      on_frame_(std::move(on_frame)),
      on_closed_(std::move(on_closed)),
      resolver_(io),
      socket_(io),
      timer_(io),
      buffer_(kReadBytes) {}

std::string RtspConnection::BaseUri() const { return "rtsp://" + ServerText(server_) + "/"; }

void RtspConnection::Send(const std::string& method, const std::string& uri,
                          std::vector<satip::Header> headers, Done done) {
  Pending pending;
  pending.request.method = method;
  pending.request.uri = uri;
  pending.request.version = "RTSP/1.0";
  pending.request.Add("CSeq", std::to_string(++cseq_));
  for (satip::Header& header : headers) {
    pending.request.Add(std::move(header.name), std::move(header.value));
  }
  pending.request.Add("User-Agent", kUserAgent);
  pending.done = std::move(done);
  queue_.push_back(std::move(pending));
  Pump();
}

void RtspConnection::Close(const std::string& reason) {
  const ClosedHandler keep = std::move(on_closed_);
  on_closed_ = nullptr;  // a close asked for is not news
  Lost(reason);
  on_closed_ = keep;
}

void RtspConnection::Pump() {
  if (in_flight_ || queue_.empty()) {
    return;
  }
  if (!connected_) {
    if (!connecting_) {
      Connect();
    }
    return;
  }
  in_flight_ = true;
  written_ = satip::WriteMessage(queue_.front().request);
  const std::shared_ptr<int> generation = generation_;
  asio::async_write(socket_, asio::buffer(written_),
                    [this, generation](const asio::error_code& error, std::size_t) {
                      if (generation == generation_ && error) {
                        Lost("the request could not be sent: " + Reason(error));
                      }
                    });
  timer_.expires_after(kAnswerLimit);
  timer_.async_wait([this, generation](const asio::error_code& error) {
    if (generation == generation_ && !error) {
      Lost("no answer within " + std::to_string(kAnswerLimit.count()) + " s");
    }
  });
}

void RtspConnection::Connect() {
  connecting_ = true;
  const std::shared_ptr<int> generation = generation_;
  timer_.expires_after(kConnectLimit);
  timer_.async_wait([this, generation](const asio::error_code& error) {
    if (generation == generation_ && !error) {
      Lost("no connection to " + ServerText(server_) + " within " +
           std::to_string(kConnectLimit.count()) + " s");
    }
  });
  ConnectTo(
      resolver_, socket_, server_, [this, generation] { return generation == generation_; },
      [this](const std::string& reason) { Lost(reason); },
      [this] {
        asio::error_code ignored;
        local_ = socket_.local_endpoint(ignored);
        remote_ = socket_.remote_endpoint(ignored);
        socket_.set_option(asio::ip::tcp::no_delay(true), ignored);
        connecting_ = false;
        connected_ = true;
        timer_.cancel();
        reader_ = std::make_unique<satip::StreamReader>();
        Read();
        Pump();
      });
}

void RtspConnection::Read() {
  const std::shared_ptr<int> generation = generation_;
  ReadSome(
      socket_, buffer_, [this, generation] { return generation == generation_; },
      [this](const asio::error_code& error) {
        Lost(ReadFailure(error, "the server closed the connection", "the connection failed: "));
      },
      [this, generation](std::size_t size) {
        reader_->Feed(buffer_.data(), size);
        for (;;) {
          satip::Message message;
          satip::Frame frame;
          const satip::StreamReader::Item item = reader_->Next(&message, &frame);
          if (item == satip::StreamReader::Item::kNeedMore) {
            break;
          }
          if (item == satip::StreamReader::Item::kError) {
            Lost("the server's answer is not RTSP");
            return;
          }
          if (item == satip::StreamReader::Item::kFrame) {
            on_frame_(frame);
          } else if (message.response) {
            Answer(message);
          }
          if (generation != generation_) {
            return;  // a handler closed the connection
          }
        }
        Read();
      });
}

void RtspConnection::Answer(const satip::Message& response) {
  if (!in_flight_ || queue_.empty()) {
    return;  // nothing was asked
  }
  const std::string* cseq = response.Find("CSeq");
  const std::string* asked = queue_.front().request.Find("CSeq");
  if (cseq != nullptr && asked != nullptr && *cseq != *asked) {
    return;  // an answer to another request
  }
  const Done done = std::move(queue_.front().done);
  queue_.pop_front();
  in_flight_ = false;
  timer_.cancel();
  done(&response, "");
  Pump();
}

void RtspConnection::Lost(const std::string& reason) {
  const bool was_open = connected_;
  generation_ = std::make_shared<int>(0);
  connected_ = connecting_ = in_flight_ = false;
  asio::error_code ignored;
  socket_.close(ignored);
  timer_.cancel();
  resolver_.cancel();
  std::deque<Pending> waiting = std::move(queue_);
  queue_.clear();
  for (Pending& pending : waiting) {
    pending.done(nullptr, reason);
  }
  if (was_open && on_closed_) {
    on_closed_(reason);
  }
}

}  // namespace satipcard
