// The SAT>IP server as the card's one tuner. A thread of its own runs one
// Asio event loop with everything that talks to the server: the RTSP session
// (SETUP and PLAY, keep-alive before its timeout, TEARDOWN) or the HTTP
// stream, the receiver of the RTP datagrams, which puts their packets in
// order (sequence.h) into the ring the module's capture thread reads
// (ring.h), and the RTCP reports (or, where none come, DESCRIBE answers)
// that give lock, level and quality. The host's thread calls the public
// members; each waits for the event loop's answer, bounded in time.
#pragma once

#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <asio/ip/udp.hpp>
#include <asio/steady_timer.hpp>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "satip/query.h"
#include "satip/status.h"
#include "satipcard/http.h"
#include "satipcard/log.h"
#include "satipcard/packets.h"
#include "satipcard/ring.h"
#include "satipcard/rtsp.h"
#include "satipcard/sequence.h"
#include "satipcard/settings.h"

namespace satipcard {

// About 1.2 s of a 38 Mbit/s transponder, 6 MiB.
using Ring = PacketRing<32768>;

// What the tuner counted since it was made (the card's open).
struct TunerCounts {
  std::uint64_t datagrams = 0, missing = 0, reordered = 0, late = 0, skipped_bytes = 0,
                lock_losses = 0, stream_errors = 0;
};

class Tuner {
 public:
  using Clock = std::chrono::steady_clock;
  // A report older than this says nothing: the lock is taken as gone.
  static constexpr std::chrono::milliseconds kReportLife{1000};
  // Without an RTCP report for this long, the status is asked for by DESCRIBE.
  static constexpr std::chrono::milliseconds kDescribeAfter{500};
  // msys auto: DVB-S2 is asked for when DVB-S has not locked by then.
  static constexpr std::chrono::milliseconds kDvbS2After{1500};
  // The receiver thread's name, as the system's thread lists show it.
  static constexpr char kThreadName[] = "satip-receiver";
  // Datagrams held for one missing before them wait at most this long.
  static constexpr std::chrono::milliseconds kHoldLimit{100};

  Tuner(const Settings& settings, const Server& server, Ring* ring, Log* log);
  Tuner(const Tuner&) = delete;
  Tuner& operator=(const Tuner&) = delete;
  // Ends the session (TEARDOWN, waited for at most about a second) and the thread.
  ~Tuner();

  // Whether the server answers (OPTIONS); false with the reason.
  bool Check(std::string* reason);
  // SETUP then PLAY on the first tune, and after the session was lost; PLAY
  // with the new query after that; GET over HTTP. True only when the server
  // accepted the tuning; false with its answer or why there was none.
  bool Tune(const satip::Tuning& tuning, std::string* reason);

  struct State {
    bool locked = false;
    satip::Signal signal;
  };
  // As the latest report on this tuning gives it; none for kReportLife: not locked.
  State ReadState();

  TunerCounts Counts() const;
  // "stream 3, session 52fa1c09" or "HTTP stream", "" before the first tune.
  std::string StreamText() const;

 private:
  struct Session {
    std::string id;
    int stream = 0;
    std::chrono::seconds timeout{60};
    std::uint8_t rtp_channel = 0;  // interleaved
    std::uint8_t rtcp_channel = 1;
    bool tcp = false;
  };
  struct Outcome {
    bool accepted = false;
    std::string reason;
  };
  using Completion = std::function<void(Outcome)>;
  static constexpr std::size_t kDatagramBytes = std::size_t{64} * 1024;

  // On the event loop's thread.
  void TuneOnLoop(const satip::Tuning& tuning, const Completion& done);
  void SetUp(const satip::Tuning& tuning, bool tcp, const Completion& done);
  void Play(const satip::Tuning& tuning, bool with_query, const Completion& done);
  void StartHttp(const satip::Tuning& tuning, const Completion& done);
  void Started();  // a tuning was accepted: the session's timers run
  void Teardown(const std::function<void()>& done);
  bool OpenUdp(std::string* error);
  void CloseUdp();
  void ReceiveRtp();
  void ReceiveRtcp();
  void OnFrame(const satip::Frame& frame);
  void OnRtp(const std::uint8_t* data, std::size_t size);
  void OnRtcp(const std::uint8_t* data, std::size_t size);
  // Takes a report that speaks of the tuning asked for; false for one that does not.
  bool Reported(const satip::Status& status);
  void OnRtspClosed(const std::string& reason);
  void SessionLost(const std::string& reason);
  void KeepAlive();
  void PollStatus();
  void ArmFallback();
  void ArmFlush();
  void PublishCounts();
  std::string QueryOf(const satip::Tuning& tuning) const;
  std::vector<satip::Header> SessionHeaders() const;
  static void Deliver(void* self, const std::uint8_t* payload, std::size_t size);
  static void PutPackets(void* self, const std::uint8_t* packets, std::size_t count);

  // From the host's thread: runs `start` on the loop, waits for its outcome.
  Outcome Await(const std::function<void(Completion)>& start, std::chrono::milliseconds limit);

  const Settings settings_;
  const Server server_;
  Ring* ring_;
  Log* log_;

  asio::io_context io_;
  asio::executor_work_guard<asio::io_context::executor_type> work_;
  RtspConnection rtsp_;
  HttpStream http_;
  asio::ip::udp::socket rtp_, rtcp_;
  asio::ip::udp::endpoint rtp_sender_, rtcp_sender_;
  std::vector<std::uint8_t> rtp_buffer_, rtcp_buffer_;
  asio::steady_timer keep_alive_, status_, fallback_, flush_;
  std::optional<Session> session_;
  std::optional<satip::Tuning> tuning_;  // what the server was last asked to play
  bool http_playing_ = false;
  bool describing_ = false;
  bool flush_armed_ = false;
  Clock::time_point last_rtcp_;
  Sequencer sequencer_;
  std::optional<std::uint32_t> ssrc_;
  PacketCutter cutter_;
  std::uint64_t payload_skipped_ = 0;

  // Shared with the host's thread.
  mutable std::mutex shared_;
  bool report_valid_ = false;
  Clock::time_point report_time_;
  satip::Signal report_;
  TunerCounts counts_;
  std::string stream_text_;

  std::thread thread_;
};

}  // namespace satipcard
