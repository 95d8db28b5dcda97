// A stream over HTTP: see http.h.
#include "satipcard/http.h"

#include <asio/write.hpp>
#include <chrono>

#include "satip/message.h"
#include "satipcard/connect.h"
#include "satipcard/sockets.h"

namespace satipcard {

namespace {

constexpr std::size_t kReadBytes = std::size_t{256} * 1024;
constexpr std::chrono::seconds kStartLimit{5};

}  // namespace

HttpStream::HttpStream(asio::io_context& io, Server server, Bytes on_bytes, Ended on_ended)
    : server_(std::move(server)),
      on_bytes_(std::move(on_bytes)),
      on_ended_(std::move(on_ended)),
      resolver_(io),
      socket_(io),
      timer_(io),
      buffer_(kReadBytes) {}

void HttpStream::Get(const std::string& target, Started started) {
  Close();
  started_ = std::move(started);
  const std::shared_ptr<int> generation = generation_;
  request_ = "GET " + target + " HTTP/1.1\r\nHost: " + ServerText(server_) +
             "\r\nUser-Agent: Morvalind SAT>IP card library\r\nConnection: close\r\n\r\n";
  timer_.expires_after(kStartLimit);
  timer_.async_wait([this, generation](const asio::error_code& error) {
    if (generation == generation_ && !error) {
      Fail("no answer from " + ServerText(server_) + " within " +
           std::to_string(kStartLimit.count()) + " s");
    }
  });
  ConnectTo(
      resolver_, socket_, server_, [this, generation] { return generation == generation_; },
      [this](const std::string& reason) { Fail(reason); },
      [this, generation] {
        asio::async_write(socket_, asio::buffer(request_),
                          [this, generation](const asio::error_code& written, std::size_t) {
                            if (generation == generation_ && written) {
                              Fail("the request could not be sent: " + Reason(written));
                            }
                          });
        ReadHead();
      });
}

void HttpStream::Close() {
  generation_ = std::make_shared<int>(0);
  streaming_ = false;
  started_ = nullptr;
  head_.clear();
  asio::error_code ignored;
  socket_.close(ignored);
  timer_.cancel();
  resolver_.cancel();
}

void HttpStream::Fail(const std::string& reason) {
  const Started started = std::move(started_);
  const bool streaming = streaming_;
  Close();
  if (started) {
    started(false, reason);
  } else if (streaming && on_ended_) {
    on_ended_(reason);
  }
}

void HttpStream::ReadHead() {
  const std::shared_ptr<int> generation = generation_;
  ReadSome(
      socket_, buffer_, [this, generation] { return generation == generation_; },
      [this](const asio::error_code&) {
        Fail("the server closed the connection before it answered");
      },
      [this, generation](std::size_t size) {
        head_.append(reinterpret_cast<const char*>(buffer_.data()), size);
        const std::size_t end = head_.find("\r\n\r\n");
        if (end == std::string::npos) {
          if (head_.size() > satip::kMaxMessage) {
            Fail("the server's answer is not HTTP");
            return;
          }
          ReadHead();
          return;
        }
        satip::Message answer;
        if (satip::ParseMessage(head_.substr(0, end + 4), &answer) != satip::ReadError::kNone ||
            !answer.response) {
          Fail("the server's answer is not HTTP");
          return;
        }
        if (answer.status != 200) {
          Fail(std::to_string(answer.status) + " " + answer.reason);
          return;
        }
        timer_.cancel();
        streaming_ = true;
        const Started started = std::move(started_);
        started_ = nullptr;
        const std::string rest = head_.substr(end + 4);
        head_.clear();
        started(true, "");
        if (generation != generation_) {
          return;
        }
        if (!rest.empty()) {
          on_bytes_(reinterpret_cast<const std::uint8_t*>(rest.data()), rest.size());
        }
        ReadBody();
      });
}

void HttpStream::ReadBody() {
  const std::shared_ptr<int> generation = generation_;
  ReadSome(
      socket_, buffer_, [this, generation] { return generation == generation_; },
      [this](const asio::error_code& error) {
        Fail(ReadFailure(error, "the server ended the stream", "the stream failed: "));
      },
      [this, generation](std::size_t size) {
        on_bytes_(buffer_.data(), size);
        if (generation == generation_) {
          ReadBody();
        }
      });
}

}  // namespace satipcard
