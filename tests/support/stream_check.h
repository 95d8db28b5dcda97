// Checks the packets the module hands to the host's callback, as they arrive
// on the capture thread: lengths and sync bytes, continuity counters per PID,
// the order of the numbered elementary-stream packets, and the service names
// of the SDT as the table reader reads them, every SDT section's CRC checked.
#pragma once

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

#include "abi/records.h"
#include "dvb/psi_reader.h"

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
  std::int64_t bad_sdt_sections = 0;  // the stand-in's SDT fits one packet
  dvb::PsiReader tables;              // skips a damaged section, which bad_sdt_sections counts

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
    tables.Add(packet);
    if (pid == SDT_PID && ts_get_unitstart(packet)) {
      std::uint8_t copy[188];
      std::memcpy(copy, packet, sizeof copy);
      const std::uint8_t* section = ts_section(copy);
      bad_sdt_sections += psi_validate(section) && psi_check_crc(section) ? 0 : 1;
    }
    // The stand-in's PMTs sit on consecutive PIDs from one that ends in two
    // zero nibbles, its video and audio PIDs on 0x10 (s + 1) + 1 and + 2 above
    // it; their packets end with the stream's packet number, 32 bits big-endian.
    const unsigned kind = pid & 0x0FU;
    if (pid >= 0x100 && (pid & 0xF0U) != 0 && (kind == 1 || kind == 2)) {
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

  std::set<std::string> ServiceNames() const {
    std::set<std::string> names;
    for (const dvb::Service& service : tables.services()) {
      names.insert(service.name);
    }
    return names;
  }

  bool WaitFor(std::int64_t count) {
    std::unique_lock<std::mutex> hold(mutex);
    return arrived.wait_for(hold, std::chrono::seconds(30), [&] { return packets >= count; });
  }
};
