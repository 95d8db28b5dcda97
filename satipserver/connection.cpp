// A client's TCP connection: see connection.h.
#include "satipserver/connection.h"

#include <asio/write.hpp>

#include "satipserver/networks.h"

namespace satipserver {

namespace {

using Clock = std::chrono::steady_clock;

// A client that reads none of its answers is not read from until it does.
constexpr std::size_t kMostQueuedResponses = 8;
// After the last answer, how long the client may take to close its side.
constexpr std::chrono::seconds kClosingWait{2};

}  // namespace

Connection::Connection(asio::ip::tcp::socket socket, Kind kind, std::uint64_t id,
                       const Limits& limits, Owner* owner)
    : socket_(std::move(socket)),
      timer_(socket_.get_executor()),
      kind_(kind),
      id_(id),
      limits_(limits),
      owner_(owner),
      opened_(Clock::now()),
      last_request_(opened_) {
  asio::error_code error;
  peer_ = Plain(socket_.remote_endpoint(error).address());
  local_ = Plain(socket_.local_endpoint(error).address());
  socket_.set_option(asio::ip::tcp::no_delay(true), error);
}

void Connection::Start() {
  Arm();
  Read();
}

void Connection::Read() {
  if (reading_ || closed_ || (responses_.size() >= kMostQueuedResponses && !draining_)) {
    return;
  }
  reading_ = true;
  socket_.async_read_some(
      asio::buffer(incoming_),
      [self = shared_from_this()](const asio::error_code& error, std::size_t size) {
        self->reading_ = false;
        if (self->closed_) {
          return;
        }
        if (error) {
          self->Close();  // the client went away (or closed after our last answer)
          return;
        }
        self->Take(size);
        self->Read();
      });
}

void Connection::Take(std::size_t size) {
  if (draining_ || finishing_ || (stream_open_ && kind_ == Kind::kHttp)) {
    return;  // nothing more is read: what comes is passed over until the client closes
  }
  reader_.Feed(incoming_.data(), size);
  for (;;) {
    satip::Message message;
    satip::Frame frame;
    switch (reader_.Next(&message, &frame)) {
      case satip::StreamReader::Item::kNeedMore:
        if (reader_.buffered() == 0) {
          request_began_.reset();
        } else if (!request_began_) {
          request_began_ = Clock::now();
        }
        Arm();
        return;
      case satip::StreamReader::Item::kFrame:
        continue;  // the client's own RTCP inside RTSP: not needed
      case satip::StreamReader::Item::kError:
        Reject(reader_.error());
        return;
      case satip::StreamReader::Item::kMessage:
        spoke_ = true;
        last_request_ = Clock::now();
        request_began_.reset();
        owner_->Received(*this, message);
        if (closed_ || finishing_ || (stream_open_ && kind_ == Kind::kHttp)) {
          Arm();
          return;
        }
        continue;
    }
  }
}

void Connection::Reject(satip::ReadError error) {
  satip::Message response;
  response.response = true;
  response.version = kind_ == Kind::kHttp ? "HTTP/1.1" : "RTSP/1.0";
  response.status = error == satip::ReadError::kTooLarge ? 413 : 400;
  response.reason = satip::ReasonPhrase(response.status);
  response.Add("Content-Type", "text/plain");
  response.body = error == satip::ReadError::kTooLarge
                      ? "a request is at most " + std::to_string(satip::kMaxMessage) + " bytes\r\n"
                      : "not a request\r\n";
  Send(satip::WriteMessage(response));
  Finish();
}

void Connection::Send(std::string text) {
  if (closed_) {
    return;
  }
  responses_.push_back(std::move(text));
  Pump();
}

void Connection::Finish() {
  finishing_ = true;
  Pump();
}

void Connection::OpenStream(std::size_t capacity) {
  if (!stream_) {
    stream_.emplace(capacity);
  }
  stream_open_ = true;
  Arm();
}

void Connection::CloseStream() {
  // A run being sent stays until its write completes; nothing more is taken.
  if (!writing_stream_) {
    stream_.reset();
  }
  stream_open_ = false;
  Arm();
}

std::uint8_t* Connection::Reserve(std::size_t size) {
  return stream_ && stream_open_ && !closed_ ? stream_->Reserve(size) : nullptr;
}

void Connection::Commit(std::size_t size) { stream_->Commit(size); }

void Connection::Pump() {
  if (writing_ || closed_) {
    return;
  }
  const auto done = [self = shared_from_this()](bool response, std::size_t size) {
    return [self, response, size](const asio::error_code& error, std::size_t) {
      self->writing_ = false;
      self->writing_stream_ = false;
      if (self->closed_) {
        return;
      }
      if (error) {
        self->Close();
        return;
      }
      if (response) {
        self->responses_.pop_front();
        self->Read();  // it may have waited for room among the answers
      } else if (self->stream_open_) {
        self->stream_->Consume(size);
      } else {
        self->stream_.reset();
      }
      self->Pump();
    };
  };
  if (!responses_.empty()) {
    writing_ = true;
    asio::async_write(socket_, asio::buffer(responses_.front()),
                      done(true, responses_.front().size()));
  } else if (stream_ && stream_open_ && stream_->readable() > 0) {
    writing_ = true;
    writing_stream_ = true;
    const std::size_t size = stream_->readable();
    asio::async_write(socket_, asio::buffer(stream_->data(), size), done(false, size));
  } else if (finishing_ && !draining_) {
    // All said: our side closes, and the client's is awaited a short while.
    draining_ = true;
    asio::error_code ignored;
    socket_.shutdown(asio::ip::tcp::socket::shutdown_send, ignored);
    deadline_ = Clock::now() + kClosingWait;
    Arm();
    Read();
  }
}

void Connection::Arm() {
  if (closed_) {
    return;
  }
  // While closing, the deadline set as the last answer went stands.
  if (!draining_ && (!spoke_ || request_began_)) {
    deadline_ = (spoke_ ? *request_began_ : opened_) + limits_.request;
  } else if (!draining_) {
    deadline_ = stream_open_ ? Clock::time_point::max() : last_request_ + limits_.idle;
  }
  timer_.expires_at(deadline_);
  timer_.async_wait([self = shared_from_this()](const asio::error_code& error) {
    if (!error && !self->closed_ && Clock::now() >= self->deadline_) {
      self->Close();
    }
  });
}

void Connection::Close() {
  if (closed_) {
    return;
  }
  closed_ = true;
  asio::error_code ignored;
  timer_.cancel();
  socket_.close(ignored);
  owner_->Closed(*this);
}

}  // namespace satipserver
