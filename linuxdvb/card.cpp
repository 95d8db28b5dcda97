// The adapter through libdvbv5: see card.h.
#include "linuxdvb/card.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <time.h>

// The library has the remote entries; its header shows them only when asked.
// Not every libdvbv5 header declares its functions as C.
#define HAVE_DVBV5_REMOTE
extern "C" {
#include <libdvbv5/dvb-dev.h>
#include <libdvbv5/libdvb-version.h>
}

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "linuxdvb/packets.h"
#include "linuxdvb/selector.h"
#include "linuxdvb/signal.h"
#include "linuxdvb/stream_wait.h"

namespace linuxdvb {
namespace {

constexpr std::uint16_t kWholeStream = 0x2000;  // every PID
constexpr int kStreamBufferBytes = 8 << 20;     // about 1.7 s at the highest DVB-S rate
constexpr std::size_t kDrainChunk = 64 * kPacketSize * 16;
constexpr int kDrainReadsAtMost = 1024;
// A read waits this long at most for the stream to have data (a stop ends the
// wait at once).
constexpr int kStreamWaitMs = 50;
// A close waits this long at most for a read that waits to leave.
constexpr int kLeaveWaitMs = 100;

// DiSEqC timing that switches need between tone, command and burst.
constexpr unsigned kDiseqcGapMs = 15;
constexpr unsigned kLnbPowerUpMs = 100;  // a switch powered by the cable wakes up first
constexpr std::uint8_t kNoBurst = 0xFF;
constexpr unsigned kLongestDiseqc = 6;  // bytes of a Linux master command

// libdvbv5's client of dvbv5-daemon up to this version cannot be used: it
// reads a reply's length as signed bytes, so the first reply with a length
// byte of 0x80 or more (the adapter list) aborts the process; and the daemon
// sends it no frontend description, so nothing can be tuned.
constexpr int kRemoteBrokenUpToMinor = 22;

// One object per process; fields grouped by the lock that guards them.
// NOLINTNEXTLINE(clang-analyzer-optin.performance.Padding)
struct Card {
  std::mutex control;  // open, close, the frontend and its statistics
  dvb_device* device = nullptr;
  dvb_open_descriptor* frontend = nullptr;
  dvb_open_descriptor* demux = nullptr;
  dvb_open_descriptor* stream = nullptr;  // the DVR here; the demux itself for a remote adapter
  dvb_v5_fe_parms* parms = nullptr;
  DeviceSelector selector;
  std::string where;  // the selector as text, for messages
  std::string frontend_name;
  bool remote = false;
  bool lnb_powered = false;  // a supply was set since open
  fe_sec_tone_mode tone = SEC_TONE_OFF;
  // The last poll.
  bool locked = false;
  Measure strength;
  Measure cnr;
  BitCounters counters;
  double bit_error_rate = 0;
  int ber_source = LINUXDVB_BER_NONE;
  std::uint64_t lock_losses = 0;
  bool said_no_diseqc = false;
  bool said_no_supply = false;

  std::mutex stream_lock;  // the stream device, the tail and the stream counters
  std::atomic<bool> recording{false};
  StreamWait wait;  // a read's wait for data, outside the lock
  PacketTail tail;
  std::uint64_t packets = 0;
  std::uint64_t overflows = 0;
  std::uint64_t skipped = 0;
  std::uint64_t stream_errors = 0;
  bool said_stream_failed = false;
};

Card& TheCard() {
  static Card card;
  return card;
}

bool Verbose() {
  const char* verbose = std::getenv(kVerboseVariable);
  return verbose != nullptr && *verbose != '\0' && std::strcmp(verbose, "0") != 0;
}

std::mutex said_mutex;
std::string said;  // the last line Say said, for CardLastProblem

void Say(const std::string& text) {
  std::fprintf(stderr, "linuxdvb card library: %s\n", text.c_str());
  std::lock_guard<std::mutex> hold(said_mutex);
  said = text;
}

// libdvbv5's own messages, shown with MORVALIND_DVB_VERBOSE set; otherwise the
// library says what failed itself.
void LibraryLog(void* /*context*/, int /*level*/, const char* format, ...) {
  if (!Verbose()) {
    return;
  }
  va_list arguments;
  va_start(arguments, format);
  std::fputs("libdvbv5: ", stderr);
  std::vfprintf(stderr, format, arguments);
  std::fputc('\n', stderr);
  va_end(arguments);
}

void SleepMs(unsigned milliseconds) {
  timespec delay{static_cast<time_t>(milliseconds / 1000U),
                 static_cast<long>(milliseconds % 1000U) * 1000000L};
  while (nanosleep(&delay, &delay) != 0 && errno == EINTR) {
  }
}

const char* SystemName(unsigned system) {
  const char* name = system < sizeof delivery_system_name / sizeof delivery_system_name[0]
                         ? delivery_system_name[system]
                         : nullptr;
  return name != nullptr ? name : "?";
}

std::string SystemsText(const dvb_v5_fe_parms* parms) {
  std::string text;
  for (int i = 0; i < parms->num_systems; ++i) {
    text += (text.empty() ? "" : " ") + std::string(SystemName(parms->systems[i]));
  }
  return text;
}

bool DoesDvbs(const dvb_v5_fe_parms* parms) {
  for (int i = 0; i < parms->num_systems; ++i) {
    if (parms->systems[i] == SYS_DVBS) {
      return true;
    }
  }
  return false;
}

// A device for finding adapters: this machine's, or those of the daemon the
// selector names. nullptr after saying why.
dvb_device* FindDevices(const DeviceSelector& selector, const std::string& where) {
  if (!selector.server.empty() && LIBDVBV5_VERSION_MAJOR == 1 &&
      LIBDVBV5_VERSION_MINOR <= kRemoteBrokenUpToMinor) {
    Say(where + ": adapters served by dvbv5-daemon need libdvbv5 newer than " LIBDVBV5_VERSION
                ", whose remote client cannot tune and aborts the program on some replies");
    return nullptr;
  }
  dvb_device* device = dvb_dev_alloc();
  if (device == nullptr) {
    Say(where + ": out of memory");
    return nullptr;
  }
  dvb_dev_set_logpriv(device, Verbose() ? 2 : 0, LibraryLog, nullptr);
  if (!selector.server.empty()) {
    std::string server = selector.server;
    if (dvb_dev_remote_init(device, server.data(), selector.port) < 0) {
      Say(where + ": dvbv5-daemon does not answer there");
      dvb_dev_free(device);
      return nullptr;
    }
  }
  dvb_dev_find(device, nullptr, nullptr);
  return device;
}

// The adapter's first node of a type ("dvb0.frontend0", "dvb0.dvr0"), from
// the list dvb_dev_find made.
dvb_dev_list* FindNode(dvb_device* device, unsigned adapter, dvb_dev_type type) {
  for (int i = 0; i < device->num_devices; ++i) {
    dvb_dev_list& node = device->devices[i];
    unsigned found = 0;
    unsigned number = 0;
    char kind[16];
    if (node.dvb_type == type && node.sysname != nullptr &&
        std::sscanf(node.sysname, "dvb%u.%15[a-z]%u", &found, kind, &number) == 3 &&
        found == adapter && number == 0) {
      return &node;
    }
  }
  return nullptr;
}

// "adapter0 adapter2": the adapters with a frontend, for the message about a missing one.
std::string AdaptersText(dvb_device* device) {
  std::string text;
  for (int i = 0; i < device->num_devices; ++i) {
    unsigned adapter = 0;
    unsigned number = 0;
    const dvb_dev_list& node = device->devices[i];
    if (node.dvb_type == DVB_DEVICE_FRONTEND && node.sysname != nullptr &&
        std::sscanf(node.sysname, "dvb%u.frontend%u", &adapter, &number) == 2 && number == 0) {
      text += (text.empty() ? "" : " ") + std::string("adapter") + std::to_string(adapter);
    }
  }
  return text.empty() ? "none" : text;
}

// Opens one device node of the adapter; nullptr after saying why.
dvb_open_descriptor* OpenNode(Card& card, dvb_dev_type type, int flags, const char* what) {
  dvb_dev_list* node = FindNode(card.device, card.selector.adapter, type);
  if (node == nullptr) {
    Say(card.where + (type == DVB_DEVICE_FRONTEND
                          ? ": no such adapter (found: " + AdaptersText(card.device) + ")"
                          : std::string(": the adapter has no ") + what));
    return nullptr;
  }
  dvb_open_descriptor* opened = dvb_dev_open(card.device, node->sysname, flags);
  const int error = errno;
  if (opened == nullptr) {
    Say(card.where + ": the " + what +
        (error == EBUSY ? " is busy: another program holds it" : " does not open") + " (" +
        std::strerror(error) + ")");
  }
  return opened;
}

void ReleaseAdapter(Card& card) {
  if (card.stream != nullptr && card.stream != card.demux) {
    dvb_dev_close(card.stream);
  }
  if (card.demux != nullptr) {
    dvb_dev_close(card.demux);
  }
  if (card.frontend != nullptr) {
    dvb_dev_close(card.frontend);
  }
  if (card.device != nullptr) {
    dvb_dev_free(card.device);
  }
  card.stream = card.demux = card.frontend = nullptr;
  card.device = nullptr;
  card.parms = nullptr;
}

bool OpenAdapter(Card& card) {
  std::string error;
  if (!ParseSelector(std::getenv(kSelectorVariable), &card.selector, &error)) {
    Say(error);
    return false;
  }
  card.where = SelectorText(card.selector);
  card.remote = !card.selector.server.empty();
  card.device = FindDevices(card.selector, card.where);
  if (card.device == nullptr) {
    return false;
  }
  card.frontend = OpenNode(card, DVB_DEVICE_FRONTEND, O_RDWR, "frontend");
  if (card.frontend == nullptr) {
    return false;
  }
  card.parms = card.device->fe_parms;
  card.frontend_name = card.parms->info.name;
  card.demux = OpenNode(card, DVB_DEVICE_DEMUX, O_RDWR | O_NONBLOCK, "demux");
  if (card.demux == nullptr) {
    return false;
  }
  // dvbv5-daemon streams what a demux filter gathers on the demux itself.
  card.stream =
      card.remote ? card.demux : OpenNode(card, DVB_DEVICE_DVR, O_RDONLY | O_NONBLOCK, "DVR");
  if (card.stream == nullptr) {
    return false;
  }
  dvb_dev_set_bufsize(card.stream, kStreamBufferBytes);  // the driver's default size otherwise
  return true;
}

Measure MeasureOf(const dtv_stats* stat) {
  Measure measure;
  if (stat == nullptr) {
    return measure;
  }
  if (stat->scale == FE_SCALE_DECIBEL) {
    measure = DecibelMeasure(stat->svalue);
  } else if (stat->scale == FE_SCALE_RELATIVE) {
    measure.scale = Measure::Scale::kRelative;
    measure.value = static_cast<double>(stat->uvalue);
  }
  return measure;
}

BitCounters CountersOf(dvb_v5_fe_parms* parms) {
  BitCounters counters;
  const dtv_stats* errors = dvb_fe_retrieve_stats_layer(parms, DTV_STAT_POST_ERROR_BIT_COUNT, 0);
  const dtv_stats* total = dvb_fe_retrieve_stats_layer(parms, DTV_STAT_POST_TOTAL_BIT_COUNT, 0);
  if (errors != nullptr && total != nullptr && errors->scale == FE_SCALE_COUNTER &&
      total->scale == FE_SCALE_COUNTER) {
    counters = {true, errors->uvalue, total->uvalue};
  }
  return counters;
}

// DTV_CLEAR: the frontend's parameter cache back to the delivery system's own
// defaults (for DVB-S: QPSK, roll-off 0.35), so that nothing from another
// system's tune stays in it. It touches no hardware.
void ClearParameters(Card& card) {
  const int descriptor = dvb_dev_get_fd(card.frontend);
  if (descriptor < 0) {
    return;
  }
  dtv_property clear{};
  clear.cmd = DTV_CLEAR;
  dtv_properties list{1, &clear};
  ioctl(descriptor, FE_SET_PROPERTY, &list);
}

// Reads and drops what the stream device still holds from before.
void DrainStream(Card& card) {
  std::vector<std::uint8_t> scratch(kDrainChunk);
  for (int i = 0; i < kDrainReadsAtMost; ++i) {
    if (dvb_dev_read(card.stream, scratch.data(), scratch.size()) <= 0) {
      return;
    }
  }
}

// With MORVALIND_DVB_VERBOSE set, the library's figures when the card closes.
void SayFigures();

}  // namespace

bool OpenCard() {
  Card& card = TheCard();
  std::lock_guard<std::mutex> hold(card.control);
  if (card.device != nullptr) {
    return true;
  }
  if (!OpenAdapter(card)) {
    ReleaseAdapter(card);
    return false;
  }
  card.lnb_powered = false;
  card.tone = SEC_TONE_OFF;
  card.locked = false;
  card.counters = {};
  card.lock_losses = 0;
  card.said_no_diseqc = false;
  card.said_no_supply = false;
  std::lock_guard<std::mutex> stream(card.stream_lock);
  card.tail = {};
  card.packets = card.overflows = card.skipped = card.stream_errors = 0;
  card.said_stream_failed = false;
  return true;
}

void CloseCard() {
  Card& card = TheCard();
  Record(false);
  if (Verbose()) {
    SayFigures();
  }
  std::lock_guard<std::mutex> hold(card.control);
  if (card.device == nullptr) {
    return;
  }
  if (!card.remote) {
    dvb_fe_sec_voltage(card.parms, 0, 0);  // the LNB supply off
  }
  std::lock_guard<std::mutex> stream(card.stream_lock);
  card.wait.Idle(kLeaveWaitMs);  // the descriptor a read waits on stays open until it leaves
  ReleaseAdapter(card);
}

bool CardOpen() {
  Card& card = TheCard();
  std::lock_guard<std::mutex> hold(card.control);
  return card.device != nullptr;
}

std::int32_t InitFrontend(std::uint32_t* frontend_flags) {
  Card& card = TheCard();
  std::lock_guard<std::mutex> hold(card.control);
  if (card.device == nullptr) {
    return kRefused;
  }
  if (!DoesDvbs(card.parms)) {
    Say(card.where + ": " + card.frontend_name + " is not a DVB-S frontend (it does " +
        SystemsText(card.parms) + ")");
    return kRefused;
  }
  FrontendAbilities abilities;
  abilities.inversion_auto = (card.parms->info.caps & FE_CAN_INVERSION_AUTO) != 0;
  *frontend_flags = FrontendFlags(abilities);
  return kDone;
}

std::int32_t Tune(const DvbsTuning& tuning) {
  Card& card = TheCard();
  std::lock_guard<std::mutex> hold(card.control);
  if (card.device == nullptr) {
    return kRefused;
  }
  dvb_v5_fe_parms* parms = card.parms;
  if (!card.remote) {
    // The remote frontend takes neither: dvbv5-daemon has no call for them.
    // A driver without them (an LNB with a supply of its own) still tunes.
    if ((dvb_fe_sec_voltage(parms, tuning.voltage != SEC_VOLTAGE_OFF,
                            tuning.voltage == SEC_VOLTAGE_18) != 0 ||
         dvb_fe_sec_tone(parms, tuning.tone) != 0) &&
        !card.said_no_supply) {
      Say(card.where + ": the driver refuses the LNB supply or the 22 kHz tone (" +
          std::strerror(errno) + ")");
      card.said_no_supply = true;
    }
    card.lnb_powered = tuning.voltage != SEC_VOLTAGE_OFF;
    card.tone = tuning.tone;
  }
  if (dvb_set_sys(parms, tuning.delivery_system) != 0) {
    return kRefused;
  }
  if (!card.remote) {
    ClearParameters(card);
  }
  const bool stored = dvb_fe_store_parm(parms, DTV_FREQUENCY, tuning.frequency_khz) == 0 &&
                      dvb_fe_store_parm(parms, DTV_SYMBOL_RATE, tuning.symbol_rate) == 0 &&
                      dvb_fe_store_parm(parms, DTV_INNER_FEC, tuning.fec) == 0 &&
                      dvb_fe_store_parm(parms, DTV_INVERSION, tuning.inversion) == 0;
  // Counting starts again with the new transponder.
  card.counters = {};
  card.bit_error_rate = 0;
  card.ber_source = LINUXDVB_BER_NONE;
  card.locked = false;
  return stored && dvb_fe_set_parms(parms) == 0 ? kDone : kRefused;
}

std::int32_t ReadState(std::int32_t* locked, std::uint8_t* level, double* bit_error_rate) {
  Card& card = TheCard();
  std::lock_guard<std::mutex> hold(card.control);
  if (card.device == nullptr || dvb_fe_get_stats(card.parms) != 0) {
    return kRefused;
  }
  dvb_v5_fe_parms* parms = card.parms;
  std::uint32_t status = 0;
  dvb_fe_retrieve_stats(parms, DTV_STATUS, &status);
  const bool lock = (status & FE_HAS_LOCK) != 0;
  card.strength = MeasureOf(dvb_fe_retrieve_stats_layer(parms, DTV_STAT_SIGNAL_STRENGTH, 0));
  card.cnr = MeasureOf(dvb_fe_retrieve_stats_layer(parms, DTV_STAT_CNR, 0));
  const BitCounters counters = CountersOf(parms);
  std::uint32_t v3_figure = 0;
  if (!lock) {
    card.counters = {};  // a rate spans no loss of lock
    card.bit_error_rate = kUnlockedBitErrorRate;
  } else {
    if (!card.locked) {
      card.bit_error_rate = 0;  // counted afresh from the lock; 0 while the driver counts none
    }
    if (counters.available) {
      card.bit_error_rate = BitErrorRate(card.counters, counters, card.bit_error_rate);
      card.counters = counters;
      card.ber_source = LINUXDVB_BER_COUNTERS;
    } else if (dvb_fe_retrieve_stats(parms, DTV_BER, &v3_figure) == 0) {
      card.bit_error_rate = BitErrorRateFromV3(v3_figure);
      card.ber_source = LINUXDVB_BER_V3;
    }
  }
  if (card.locked && !lock && card.recording) {
    ++card.lock_losses;
  }
  card.locked = lock;
  *locked = lock ? 1 : 0;
  *level = LevelFromStrength(card.strength);
  *bit_error_rate = card.bit_error_rate;
  return kDone;
}

std::int32_t SendDiseqc(const std::uint8_t* message, std::uint8_t count, std::uint8_t burst) {
  Card& card = TheCard();
  std::lock_guard<std::mutex> hold(card.control);
  if (card.device == nullptr || count > kLongestDiseqc || (count > 0 && message == nullptr) ||
      (burst != 0 && burst != 1 && burst != kNoBurst)) {
    return kRefused;
  }
  if (card.remote) {
    if (!card.said_no_diseqc) {
      Say(card.where + ": dvbv5-daemon passes no DiSEqC messages or tone bursts");
      card.said_no_diseqc = true;
    }
    return kRefused;
  }
  dvb_v5_fe_parms* parms = card.parms;
  if (!card.lnb_powered) {
    // Nothing on the cable hears a message without its supply.
    dvb_fe_sec_voltage(parms, 1, 0);
    card.lnb_powered = true;
    SleepMs(kLnbPowerUpMs);
  }
  // The continuous tone is off while the bus talks, and back afterwards.
  if (card.tone == SEC_TONE_ON) {
    dvb_fe_sec_tone(parms, SEC_TONE_OFF);
  }
  SleepMs(kDiseqcGapMs);
  bool sent = true;
  if (count > 0) {
    sent = dvb_fe_diseqc_cmd(parms, count, message) == 0;
    SleepMs(kDiseqcGapMs);
  }
  if (sent && burst != kNoBurst) {
    sent = dvb_fe_diseqc_burst(parms, burst) == 0;
    SleepMs(kDiseqcGapMs);
  }
  if (card.tone == SEC_TONE_ON) {
    dvb_fe_sec_tone(parms, SEC_TONE_ON);
  }
  return sent ? kDone : kRefused;
}

bool Record(bool on) {
  Card& card = TheCard();
  std::lock_guard<std::mutex> hold(card.stream_lock);
  if (card.demux == nullptr) {
    card.recording = false;
    return false;
  }
  if (!on) {
    card.recording = false;
    card.wait.Stop();
    dvb_dev_dmx_stop(card.demux);
    return true;
  }
  if (card.recording) {
    return true;
  }
  // What the device holds is from before: the stream starts afresh.
  DrainStream(card);
  card.tail = {};
  const dmx_output output = card.remote ? DMX_OUT_TSDEMUX_TAP : DMX_OUT_TS_TAP;
  card.wait.Go();
  card.recording =
      dvb_dev_dmx_set_pesfilter(card.demux, kWholeStream, DMX_PES_OTHER, output, 0) == 0;
  return card.recording;
}

namespace {

// Up to kStreamWaitMs for the stream device to have data, outside the stream
// lock. A remote adapter's stream has no descriptor here to wait on.
void WaitForData(Card& card) {
  int file = -1;
  {
    std::lock_guard<std::mutex> hold(card.stream_lock);
    if (!card.recording || card.remote || card.stream == nullptr) {
      return;
    }
    file = dvb_dev_get_fd(card.stream);
    card.wait.Enter();
  }
  card.wait.Wait(file, kStreamWaitMs);
}

}  // namespace

std::int32_t ReadStream(std::uint8_t* buffer, std::int32_t capacity) {
  Card& card = TheCard();
  if (!card.recording || buffer == nullptr || capacity < static_cast<std::int32_t>(kPacketSize)) {
    return 0;
  }
  WaitForData(card);
  std::lock_guard<std::mutex> hold(card.stream_lock);
  if (!card.recording) {
    return 0;
  }
  const std::size_t held = card.tail.size;
  std::memcpy(buffer, card.tail.bytes, held);
  const ssize_t read =
      dvb_dev_read(card.stream, buffer + held, static_cast<std::size_t>(capacity) - held);
  if (read < 0) {
    // A local read answers -errno, a remote one -1 with errno set.
    const int error = read == -1 ? errno : static_cast<int>(-read);
    if (error == EOVERFLOW) {
      // The driver's buffer ran over and was emptied: what was lost is not
      // made up, and the packet begun before it cannot be finished.
      ++card.overflows;
      card.tail.size = 0;
    } else if (error != EAGAIN && error != EWOULDBLOCK && error != EINTR) {
      ++card.stream_errors;
      if (!card.said_stream_failed) {
        Say(card.where + ": the stream stopped (" + std::strerror(error) + ")");
        card.said_stream_failed = true;
      }
    }
    return 0;
  }
  const std::size_t whole =
      WholePackets(buffer, held + static_cast<std::size_t>(read), &card.tail, &card.skipped);
  card.packets += whole / kPacketSize;
  return static_cast<std::int32_t>(whole);
}

int ReadFigures(LinuxDvbFigures* figures) {
  if (figures == nullptr || figures->size != sizeof(LinuxDvbFigures)) {
    return -1;
  }
  Card& card = TheCard();
  std::lock_guard<std::mutex> hold(card.control);
  std::lock_guard<std::mutex> stream(card.stream_lock);
  LinuxDvbFigures out{};
  out.size = sizeof out;
  out.open = card.device != nullptr ? 1 : 0;
  std::snprintf(out.device, sizeof out.device, "%s", card.where.c_str());
  std::snprintf(out.frontend, sizeof out.frontend, "%s", card.frontend_name.c_str());
  out.locked = card.locked ? 1 : 0;
  const auto scale = [](const Measure& measure) {
    return measure.scale == Measure::Scale::kDecibel    ? LINUXDVB_SCALE_DECIBEL
           : measure.scale == Measure::Scale::kRelative ? LINUXDVB_SCALE_RELATIVE
                                                        : LINUXDVB_SCALE_NONE;
  };
  out.strength_scale = scale(card.strength);
  out.strength = card.strength.value;
  out.cnr_scale = scale(card.cnr);
  out.cnr = card.cnr.value;
  out.ber_source = card.ber_source;
  out.bit_error_rate = card.bit_error_rate;
  out.packets = card.packets;
  out.overflows = card.overflows;
  out.skipped_bytes = card.skipped;
  out.lock_losses = card.lock_losses;
  out.stream_errors = card.stream_errors;
  *figures = out;
  return 0;
}

namespace {

std::string MeasureText(int scale, double value, const char* unit) {
  char text[32];
  if (scale == LINUXDVB_SCALE_DECIBEL) {
    std::snprintf(text, sizeof text, "%.1f %s", value, unit);
  } else if (scale == LINUXDVB_SCALE_RELATIVE) {
    std::snprintf(text, sizeof text, "%.0f/65535", value);
  } else {
    std::snprintf(text, sizeof text, "none");
  }
  return text;
}

void SayFigures() {
  LinuxDvbFigures figures{};
  figures.size = sizeof figures;
  ReadFigures(&figures);
  if (figures.open == 0) {
    return;
  }
  const char* const sources[] = {"none counted", "counters", "v3 figure"};
  char text[320];
  std::snprintf(text, sizeof text,
                "%s closing: %llu packets, %llu overflows, %llu bytes skipped, %llu lock losses, "
                "%llu stream errors; last poll %s, strength %s, C/N %s, BER %g (%s)",
                figures.device, static_cast<unsigned long long>(figures.packets),
                static_cast<unsigned long long>(figures.overflows),
                static_cast<unsigned long long>(figures.skipped_bytes),
                static_cast<unsigned long long>(figures.lock_losses),
                static_cast<unsigned long long>(figures.stream_errors),
                figures.locked != 0 ? "locked" : "not locked",
                MeasureText(figures.strength_scale, figures.strength, "dBm").c_str(),
                MeasureText(figures.cnr_scale, figures.cnr, "dB").c_str(), figures.bit_error_rate,
                sources[figures.ber_source]);
  Say(text);
}

}  // namespace

int ListAdapters(LinuxDvbAdapter* adapters, int capacity) {
  DeviceSelector selector;
  std::string error;
  if (!ParseSelector(std::getenv(kSelectorVariable), &selector, &error)) {
    Say(error);
    return -1;
  }
  const std::string where = selector.server.empty()
                                ? std::string("this machine")
                                : selector.server + ":" + std::to_string(selector.port);
  dvb_device* device = FindDevices(selector, where);
  if (device == nullptr) {
    return -1;
  }
  int count = 0;
  for (int i = 0; i < device->num_devices; ++i) {
    const dvb_dev_list& node = device->devices[i];
    LinuxDvbAdapter entry{};
    if (node.dvb_type != DVB_DEVICE_FRONTEND || node.sysname == nullptr ||
        std::sscanf(node.sysname, "dvb%d.frontend%d", &entry.adapter, &entry.frontend) != 2) {
      continue;
    }
    // Read-only: a frontend another program tunes can still be described.
    if (dvb_open_descriptor* opened = dvb_dev_open(device, node.sysname, O_RDONLY)) {
      const dvb_v5_fe_parms* parms = device->fe_parms;
      entry.described = 1;
      std::snprintf(entry.name, sizeof entry.name, "%s", parms->info.name);
      for (int s = 0; s < parms->num_systems && s < LINUXDVB_SYSTEMS; ++s) {
        std::snprintf(entry.systems[s], sizeof entry.systems[s], "%s",
                      SystemName(parms->systems[s]));
      }
      dvb_dev_close(opened);
    }
    if (count < capacity) {
      adapters[count] = entry;
    }
    ++count;
  }
  dvb_dev_free(device);
  return count;
}

int LastProblem(char* buffer, int capacity) {
  std::lock_guard<std::mutex> hold(said_mutex);
  if (buffer != nullptr && capacity > 0) {
    std::snprintf(buffer, static_cast<std::size_t>(capacity), "%s", said.c_str());
  }
  return static_cast<int>(said.size());
}

}  // namespace linuxdvb
