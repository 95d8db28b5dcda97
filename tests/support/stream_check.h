// Checks the packets the module hands to the host's callback, as they arrive
// on the capture thread: lengths and sync bytes, continuity counters per PID,
// the order of the numbered elementary-stream packets, and the service names
// of the SDT.
#pragma once

#include <bitstream/dvb/si/desc_48.h>
#include <bitstream/dvb/si/sdt.h>
#include <bitstream/mpeg/psi.h>
#include <bitstream/mpeg/ts.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <string>

#include "plugin/records.h"

struct StreamCheck {
  std::mutex mutex;
  std::condition_variable arrived;
  std::int64_t packets = 0;
  std::int64_t bad_packets = 0;  // wrong length or no sync byte
  std::int64_t continuity_errors = 0;
  std::int64_t order_errors = 0;
  std::int64_t numbered = 0;  // elementary-stream packets, which carry their number
  std::int64_t last_number = -1;
  std::map<std::uint16_t, std::uint8_t> last_continuity;
  std::set<std::string> service_names;
  bool pat_seen = false;

  // The one check the callback below feeds.
  static StreamCheck*& Current() {
    static StreamCheck* current = nullptr;
    return current;
  }
  static std::int32_t MV_STDCALL Callback(const std::uint8_t* packet, std::int32_t length) {
    Current()->Take(packet, length);
    return 0;
  }

  void Take(const std::uint8_t* packet, std::int32_t length) {
    std::lock_guard<std::mutex> hold(mutex);
    ++packets;
    if (length != 188 || packet[0] != 0x47) {
      ++bad_packets;
      return;
    }
    const std::uint16_t pid = ts_get_pid(packet);
    const auto last = last_continuity.find(pid);
    if (last != last_continuity.end() && ts_get_cc(packet) != ((last->second + 1) & 0x0F)) {
      ++continuity_errors;
    }
    last_continuity[pid] = ts_get_cc(packet);
    // The stand-in's PMTs sit on consecutive PIDs from one that ends in two
    // zero nibbles, its video and audio PIDs on 0x10 (s + 1) + 1 and + 2 above
    // it; their packets end with the stream's packet number, 32 bits big-endian.
    const unsigned kind = pid & 0x0FU;
    if (pid == PAT_PID) {
      pat_seen = true;
    } else if (pid == SDT_PID) {
      ReadServiceNames(packet);
    } else if (pid >= 0x100 && (pid & 0xF0U) != 0 && (kind == 1 || kind == 2)) {
      std::int64_t number = 0;
      for (int i = 184; i < 188; ++i) {
        number = (number << 8) | packet[i];
      }
      if (number <= last_number) {
        ++order_errors;
      }
      last_number = number;
      ++numbered;
    }
    arrived.notify_all();
  }

  // The stand-in's SDT fits one packet.
  void ReadServiceNames(const std::uint8_t* packet) {
    std::uint8_t copy[188];
    std::memcpy(copy, packet, sizeof copy);
    std::uint8_t* section = ts_section(copy);
    if (!ts_get_unitstart(copy) || !psi_validate(section) || !psi_check_crc(section) ||
        !sdt_validate(section)) {
      service_names.insert("(invalid SDT)");
      return;
    }
    for (std::uint8_t n = 0; std::uint8_t* service = sdt_get_service(section, n); ++n) {
      std::uint8_t* descriptor = sdtn_get_descs(service) + DESCS_HEADER_SIZE;
      std::uint8_t name_length = 0;
      const std::uint8_t* name = desc48_get_service(descriptor, &name_length);
      service_names.emplace(reinterpret_cast<const char*>(name), name_length);
    }
  }

  bool WaitFor(std::int64_t count) {
    std::unique_lock<std::mutex> hold(mutex);
    return arrived.wait_for(hold, std::chrono::seconds(30), [&] { return packets >= count; });
  }
};
