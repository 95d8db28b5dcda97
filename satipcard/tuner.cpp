// The SAT>IP server as the card's tuner: the session (or the HTTP stream), its
// keep-alive and the status it reports; see tuner.h. What comes from the server
// is tuner_receive.cpp's.
#include "satipcard/tuner.h"

#include <asio/post.hpp>
#include <future>

#include "cardlib/library_file.h"
#include "satip/sdp.h"
#include "satip/text.h"
#include "satip/transport.h"

namespace satipcard {

namespace {

using Clock = Tuner::Clock;

constexpr std::chrono::milliseconds kStatusTick{250};
constexpr std::chrono::milliseconds kCheckLimit{9000};  // a connect and an answer
constexpr std::chrono::milliseconds kTuneLimit{25000};  // SETUP and PLAY, a fallback to TCP
constexpr std::chrono::milliseconds kTeardownLimit{1000};

std::string ReasonOf(const satip::Message& answer) {
  std::string reason = std::to_string(answer.status) + " " + answer.reason;
  if (!answer.body.empty() && answer.body.size() < 200) {
    std::string body = answer.body;
    while (!body.empty() && (body.back() == '\n' || body.back() == '\r')) {
      body.pop_back();
    }
    reason += ": " + body;
  }
  return reason;
}

}  // namespace

Tuner::Tuner(const Settings& settings, const Server& server, Ring* ring, Log* log)
    : settings_(settings),
      server_(server),
      ring_(ring),
      log_(log),
      work_(io_.get_executor()),
      rtsp_(
          io_, server, [this](const satip::Frame& frame) { OnFrame(frame); },
          [this](const std::string& reason) { OnRtspClosed(reason); }),
      http_(
          io_, Server{server.host, settings.http_port},
          [this](const std::uint8_t* data, std::size_t size) {
            cutter_.Feed(data, size, &Tuner::PutPackets, this);
            PublishCounts();
          },
          [this](const std::string& reason) {
            http_playing_ = false;
            SessionLost(reason);
          }),
      rtp_(io_),
      rtcp_(io_),
      rtp_buffer_(kDatagramBytes),
      rtcp_buffer_(kDatagramBytes),
      keep_alive_(io_),
      status_(io_),
      fallback_(io_),
      flush_(io_),
      sequencer_(&Tuner::Deliver, this),
      thread_([this] {
        cardlib::NameThisThread(kThreadName);
        io_.run();
      }) {}

Tuner::~Tuner() {
  Await([this](const Completion& done) { Teardown([done] { done({true, ""}); }); }, kTeardownLimit);
  Await(
      [this](const Completion& done) {
        rtsp_.Close("the card closed");
        http_.Close();
        CloseUdp();
        for (asio::steady_timer* timer : {&keep_alive_, &status_, &fallback_, &flush_}) {
          timer->cancel();
        }
        done({true, ""});
      },
      kTeardownLimit);
  work_.reset();
  io_.stop();
  thread_.join();
}

Tuner::Outcome Tuner::Await(const std::function<void(Completion)>& start,
                            std::chrono::milliseconds limit) {
  auto promise = std::make_shared<std::promise<Outcome>>();
  auto once = std::make_shared<std::atomic<bool>>(false);
  std::future<Outcome> future = promise->get_future();
  asio::post(io_, [start, promise, once] {
    start([promise, once](Outcome outcome) {
      if (!once->exchange(true)) {
        promise->set_value(std::move(outcome));
      }
    });
  });
  if (future.wait_for(limit) != std::future_status::ready) {
    return {false, "the server did not answer in time"};
  }
  return future.get();
}

bool Tuner::Check(std::string* reason) {
  const Outcome outcome = Await(
      [this](const Completion& done) {
        rtsp_.Send("OPTIONS", rtsp_.BaseUri(), {},
                   [done](const satip::Message* answer, const std::string& error) {
                     done({answer != nullptr, error});
                   });
      },
      kCheckLimit);
  *reason = outcome.reason;
  return outcome.accepted;
}

bool Tuner::Tune(const satip::Tuning& tuning, std::string* reason) {
  {
    std::lock_guard<std::mutex> hold(shared_);
    report_valid_ = false;  // what was said of the last tuning says nothing of this one
  }
  const Outcome outcome =
      Await([this, tuning](const Completion& done) { TuneOnLoop(tuning, done); }, kTuneLimit);
  *reason = outcome.reason;
  return outcome.accepted;
}

Tuner::State Tuner::ReadState() {
  std::lock_guard<std::mutex> hold(shared_);
  State state;
  if (report_valid_ && Clock::now() - report_time_ <= kReportLife) {
    state.signal = report_;
    state.locked = report_.lock;
  }
  return state;
}

TunerCounts Tuner::Counts() const {
  std::lock_guard<std::mutex> hold(shared_);
  return counts_;
}

std::string Tuner::StreamText() const {
  std::lock_guard<std::mutex> hold(shared_);
  return stream_text_;
}

// The event loop's side.

std::string Tuner::QueryOf(const satip::Tuning& tuning) const {
  satip::Query query = satip::TuningQuery(tuning);
  query.pids = satip::PidSet::All();
  return satip::FormatQuery(query);
}

std::vector<satip::Header> Tuner::SessionHeaders() const {
  if (!session_) {
    return {};
  }
  return {{"Session", session_->id}};
}

void Tuner::TuneOnLoop(const satip::Tuning& tuning, const Completion& done) {
  fallback_.cancel();
  tuning_ = tuning;
  {
    std::lock_guard<std::mutex> hold(shared_);
    report_valid_ = false;
  }
  const Completion finish = [this, done](Outcome outcome) {
    if (outcome.accepted) {
      Started();
    }
    done(std::move(outcome));
  };
  if (settings_.transport == Transport::kHttp) {
    StartHttp(tuning, finish);
    return;
  }
  if (!session_) {
    SetUp(tuning, settings_.transport == Transport::kTcp, finish);
    return;
  }
  Play(tuning, true, [this, tuning, finish](Outcome outcome) {
    if (outcome.accepted || session_) {
      finish(std::move(outcome));
      return;
    }
    // The server no longer knew the session: a new one.
    SetUp(tuning, settings_.transport == Transport::kTcp, finish);
  });
}

void Tuner::SetUp(const satip::Tuning& tuning, bool tcp, const Completion& done) {
  satip::Transport offer;
  offer.tcp = tcp;
  std::string error;
  if (tcp) {
    offer.interleaved = satip::PortPair{0, 1};
  } else if (!OpenUdp(&error)) {
    done({false, error});
    return;
  } else {
    offer.client_port =
        satip::PortPair{rtp_.local_endpoint().port(), rtcp_.local_endpoint().port()};
  }
  // "RTP/AVP;unicast;client_port=a-b" or "RTP/AVP/TCP;unicast;interleaved=0-1".
  const std::string transport = satip::FormatTransport(offer);
  const std::string uri = rtsp_.BaseUri() + "?" + QueryOf(tuning);
  rtsp_.Send("SETUP", uri, {{"Transport", transport}},
             [this, tuning, tcp, transport, uri, done](const satip::Message* answer,
                                                       const std::string& failure) {
               if (answer == nullptr) {
                 done({false, failure});
                 return;
               }
               if (answer->status == 461 && !tcp) {
                 log_->Note("SETUP: the server takes no RTP over UDP (" + ReasonOf(*answer) +
                            "); asking for RTP in the RTSP connection");
                 CloseUdp();
                 SetUp(tuning, true, done);
                 return;
               }
               satip::SessionHeader header;
               const std::string* session = answer->Find("Session");
               if (answer->status != 200 || session == nullptr ||
                   !satip::ParseSessionHeader(*session, &header)) {
                 done({false, answer->status != 200 ? "SETUP: " + ReasonOf(*answer)
                                                    : "SETUP: the answer names no session"});
                 return;
               }
               Session made;
               made.id = header.id;
               made.timeout = std::chrono::seconds(header.timeout.value_or(60));
               made.tcp = tcp;
               long stream = 0;
               const std::string* id = answer->Find("com.ses.streamID");
               if (id != nullptr && satip::ParseNumber(satip::Trim(*id), 0, 65535, &stream)) {
                 made.stream = static_cast<int>(stream);
               }
               std::vector<satip::Transport> answered;
               std::string ignored;
               const std::string* given = answer->Find("Transport");
               if (tcp && given != nullptr && satip::ParseTransports(*given, &answered, &ignored) &&
                   answered.front().interleaved) {
                 made.rtp_channel = static_cast<std::uint8_t>(answered.front().interleaved->first);
                 made.rtcp_channel =
                     static_cast<std::uint8_t>(answered.front().interleaved->second);
               }
               session_ = made;
               ssrc_.reset();
               sequencer_.Restart();
               log_->Note("SETUP " + uri + " (" + transport + "): session " + made.id +
                          ", stream " + std::to_string(made.stream) + ", timeout " +
                          std::to_string(made.timeout.count()) + " s");
               {
                 std::lock_guard<std::mutex> hold(shared_);
                 stream_text_ = "stream " + std::to_string(made.stream) + ", session " + made.id +
                                (tcp ? ", RTP in RTSP" : "");
               }
               if (!tcp) {
                 ReceiveRtp();
                 ReceiveRtcp();
               }
               Play(tuning, false, done);
             });
}

void Tuner::Play(const satip::Tuning& tuning, bool with_query, const Completion& done) {
  const std::string uri = rtsp_.BaseUri() + "stream=" + std::to_string(session_->stream) +
                          (with_query ? "?" + QueryOf(tuning) : "");
  rtsp_.Send("PLAY", uri, SessionHeaders(),
             [this, uri, done, id = session_->id](const satip::Message* answer,
                                                  const std::string& failure) {
               if (answer == nullptr) {
                 SessionLost("PLAY: " + failure);
                 done({false, failure});
                 return;
               }
               if (answer->status == 454) {
                 log_->Note("PLAY: the server no longer knows session " + id);
                 session_.reset();
                 CloseUdp();
                 done({false, "PLAY: " + ReasonOf(*answer)});
                 return;
               }
               if (answer->status != 200) {
                 done({false, "PLAY: " + ReasonOf(*answer)});
                 return;
               }
               log_->Note("PLAY " + uri + ": accepted");
               done({true, ""});
             });
}

void Tuner::StartHttp(const satip::Tuning& tuning, const Completion& done) {
  const std::string target = "/?" + QueryOf(tuning);
  http_playing_ = false;
  cutter_.Reset();
  http_.Get(target, [this, target, done](bool accepted, const std::string& reason) {
    if (!accepted) {
      done({false, "GET " + target + ": " + reason});
      return;
    }
    http_playing_ = true;
    log_->Note("GET http://" + server_.host + ":" + std::to_string(settings_.http_port) + target +
               ": streaming");
    {
      std::lock_guard<std::mutex> hold(shared_);
      stream_text_ = "HTTP stream";
    }
    done({true, ""});
  });
}

void Tuner::Started() {
  last_rtcp_ = Clock::now() - kDescribeAfter;  // until RTCP comes, DESCRIBE tells
  describing_ = false;
  status_.cancel();
  PollStatus();
  if (session_) {
    keep_alive_.cancel();
    KeepAlive();
  }
  ArmFallback();
}

void Tuner::Teardown(const std::function<void()>& done) {
  if (!session_) {
    done();
    return;
  }
  const std::string uri = rtsp_.BaseUri() + "stream=" + std::to_string(session_->stream);
  rtsp_.Send(
      "TEARDOWN", uri, SessionHeaders(),
      [this, done, uri](const satip::Message* answer, const std::string& failure) {
        log_->Note("TEARDOWN " + uri + ": " + (answer != nullptr ? ReasonOf(*answer) : failure));
        session_.reset();
        done();
      });
}

void Tuner::OnRtspClosed(const std::string& reason) {
  // RTP in the connection ends with it; over UDP a server may close an idle
  // connection, and the next request opens another.
  if (session_ && session_->tcp) {
    SessionLost(reason);
  }
}

void Tuner::SessionLost(const std::string& reason) {
  if (session_ || http_playing_) {
    log_->Fail("the stream from " + ServerText(server_) + " ended: " + reason +
               "; the next tune sets up a new one");
    std::lock_guard<std::mutex> hold(shared_);
    ++counts_.stream_errors;
    stream_text_.clear();
  }
  session_.reset();
  http_playing_ = false;
  http_.Close();
  CloseUdp();
  keep_alive_.cancel();
  status_.cancel();
  fallback_.cancel();
  sequencer_.Restart();
  std::lock_guard<std::mutex> hold(shared_);
  report_valid_ = false;
}

void Tuner::KeepAlive() {
  // Well before the session's timeout: half of it, at least every second.
  const auto every = std::max<std::chrono::milliseconds>(
      std::chrono::milliseconds(1000), std::chrono::milliseconds(session_->timeout) / 2);
  keep_alive_.expires_after(every);
  keep_alive_.async_wait([this](const asio::error_code& error) {
    if (error || !session_) {
      return;
    }
    rtsp_.Send("OPTIONS", rtsp_.BaseUri(), SessionHeaders(),
               [this](const satip::Message* answer, const std::string& failure) {
                 if (answer == nullptr) {
                   SessionLost("keep-alive: " + failure);
                 } else if (answer->status == 454) {
                   SessionLost("keep-alive: " + ReasonOf(*answer));
                 }
               });
    KeepAlive();
  });
}

void Tuner::PollStatus() {
  status_.expires_after(kStatusTick);
  status_.async_wait([this](const asio::error_code& error) {
    if (error || (!session_ && !http_playing_)) {
      return;
    }
    PollStatus();
    const bool http = !session_;
    if (describing_ || (!http && Clock::now() - last_rtcp_ < kDescribeAfter)) {
      return;
    }
    describing_ = true;
    const std::string uri =
        rtsp_.BaseUri() + (http ? "" : "stream=" + std::to_string(session_->stream));
    std::vector<satip::Header> headers = SessionHeaders();
    headers.push_back({"Accept", "application/sdp"});
    rtsp_.Send("DESCRIBE", uri, headers,
               [this, http](const satip::Message* answer, const std::string& failure) {
                 describing_ = false;
                 if (answer == nullptr) {
                   if (!http) {
                     SessionLost("the server does not answer: " + failure);
                   }
                   return;
                 }
                 if (answer->status == 454 && !http) {
                   SessionLost("DESCRIBE: " + ReasonOf(*answer));
                   return;
                 }
                 std::vector<satip::SdpMedia> media;
                 std::string unread;
                 if (answer->status != 200 || !satip::ParseSdp(answer->body, &media, &unread)) {
                   return;
                 }
                 for (const satip::SdpMedia& stream : media) {
                   const bool ours =
                       http || !session_ || !stream.stream || *stream.stream == session_->stream;
                   if (ours && stream.status && Reported(*stream.status)) {
                     return;
                   }
                 }
               });
  });
}

void Tuner::ArmFallback() {
  if (settings_.system != SystemPolicy::kAuto || !tuning_ ||
      tuning_->system != dvb::DeliverySystem::kDvbS) {
    return;
  }
  fallback_.expires_after(kDvbS2After);
  fallback_.async_wait([this](const asio::error_code& error) {
    if (error || !tuning_ || ReadState().locked) {
      return;
    }
    satip::Tuning dvbs2 = *tuning_;
    dvbs2.system = dvb::DeliverySystem::kDvbS2;
    log_->Note("no lock on DVB-S within " + std::to_string(kDvbS2After.count()) +
               " ms: asking for DVB-S2");
    TuneOnLoop(dvbs2, [this](const Outcome& outcome) {
      if (!outcome.accepted) {
        log_->Note("DVB-S2 refused: " + outcome.reason);
      }
    });
  });
}

}  // namespace satipcard
