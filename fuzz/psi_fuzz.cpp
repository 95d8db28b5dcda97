// Fuzz target for the table reader, the service filter and DVB text: the input
// is a choice of service and the packets of a stream, read by a PsiReader and
// filtered by a ServiceFilter piece by piece. Checked throughout:
//   - every service name and provider, the network's name (from the NIT), and
//     the name chosen by, is valid UTF-8 without control codes;
//   - the filter gives whole packets, each with its sync byte, and no more of
//     them than its own tables can account for;
//   - by a PID list it gives exactly the stream's packets of those PIDs;
//   - by service, the PAT it writes names that one program and no other.
//
// The input: a flags byte (bits 0-1: 0 by program number, 1 by name, else
// by PID list; bit 2: CRCs mended; bits 3-5: packets a piece, less one), the
// program number in two bytes, a length byte and that many bytes of DVB text
// (the name, or the PID list two bytes a PID), then the packets, 188 bytes
// each, the sync byte set on every one. With CRCs mended, every section within
// one packet gets its right CRC, so that changes to a table's fields reach
// the reader beyond the CRC check.
#include <bitstream/mpeg/psi.h>
#include <bitstream/mpeg/ts.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "dvb/dvb_text.h"
#include "dvb/psi_reader.h"
#include "dvb/service_filter.h"

namespace {

constexpr std::size_t kHeader = 4;
constexpr std::uint8_t kSync = 0x47;
// A packet can complete a large PMT section (6 packets out) and hold about
// ten small PAT sections besides, each written out again.
constexpr std::size_t kMostOutPerPacket = 20;

[[noreturn]] void Fail(const char* what, const std::string& detail) {
  std::fprintf(stderr, "psi_fuzz: %s: '%s'\n", what, detail.c_str());
  std::abort();
}

// Valid UTF-8 and no C0 or C1 control code.
bool CleanText(const std::string& text) {
  for (std::size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t extra = 0;
    std::uint32_t code = lead;
    std::uint32_t least = 0;
    if ((lead & 0xE0) == 0xC0) {
      extra = 1, code = lead & 0x1Fu, least = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
      extra = 2, code = lead & 0x0Fu, least = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
      extra = 3, code = lead & 0x07u, least = 0x10000;
    } else if (lead >= 0x80) {
      return false;
    }
    if (i + extra >= text.size()) {
      return false;
    }
    for (std::size_t k = 1; k <= extra; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) {
        return false;
      }
      code = (code << 6) | (next & 0x3Fu);
    }
    if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF) || code < 0x20 ||
        (code >= 0x7F && code <= 0x9F)) {
      return false;
    }
    i += extra + 1;
  }
  return true;
}

void CheckNames(const dvb::PsiReader& reader) {
  for (const dvb::Service& service : reader.services()) {
    if (!CleanText(service.name) || !CleanText(service.provider)) {
      Fail("a service's name or provider is not clean UTF-8",
           service.name + "' '" + service.provider);
    }
  }
  if (!CleanText(reader.network_name())) {
    Fail("the network's name is not clean UTF-8", reader.network_name());
  }
}

// Every section that begins and ends within the packet gets its right CRC.
void MendCrcs(std::uint8_t* packet) {
  if (!ts_get_unitstart(packet) || !ts_has_payload(packet)) {
    return;
  }
  std::size_t at = ts_has_adaptation(packet) ? TS_HEADER_SIZE + 1 + packet[4] : TS_HEADER_SIZE;
  if (at >= TS_SIZE) {
    return;
  }
  at += 1 + packet[at];  // the pointer field
  while (at + PSI_HEADER_SIZE <= TS_SIZE && packet[at] != 0xFF) {
    const std::size_t size = PSI_HEADER_SIZE + psi_get_length(packet + at);
    if (at + size > TS_SIZE) {
      return;
    }
    if (psi_get_syntax(packet + at) && size >= PSI_HEADER_SIZE_SYNTAX1 + PSI_CRC_SIZE) {
      psi_set_crc(packet + at);
    }
    at += size;
  }
}

std::uint16_t PidOf(const std::uint8_t* packet) {
  return static_cast<std::uint16_t>(((packet[1] & 0x1F) << 8) | packet[2]);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < kHeader || size < kHeader + data[3]) {
    return 0;
  }
  const std::uint8_t flags = data[0];
  const auto number = static_cast<std::uint16_t>((data[1] << 8) | data[2]);
  const std::uint8_t* text = data + kHeader;
  const std::size_t text_length = data[3];

  dvb::FilterChoice choice;
  const std::string name = dvb::DvbTextToUtf8(text, text_length);
  if (!CleanText(name)) {
    Fail("DVB text is not clean UTF-8", name);
  }
  const int kind = flags & 3;
  std::vector<bool> kept(0x2000, false);
  if (kind == 0) {
    choice.program = number;
  } else if (kind == 1) {
    choice.service_name = name;
  } else {
    choice.pids.push_back(number);  // any number: the filter ignores what is no PID
    for (std::size_t i = 0; i + 1 < text_length; i += 2) {
      choice.pids.push_back(static_cast<std::uint16_t>((text[i] << 8) | text[i + 1]));
    }
    for (const std::uint16_t pid : choice.pids) {
      if (pid < kept.size()) {
        kept[pid] = true;
      }
    }
  }
  const bool by_pids = choice.program == 0 && choice.service_name.empty();

  const std::uint8_t* stream = text + text_length;
  const std::size_t count = (size - kHeader - text_length) / TS_SIZE;
  std::vector<std::uint8_t> packets(stream, stream + count * TS_SIZE);
  for (std::size_t i = 0; i < count; ++i) {
    std::uint8_t* packet = &packets[i * TS_SIZE];
    packet[0] = kSync;
    if ((flags & 4) != 0) {
      MendCrcs(packet);
    }
  }

  dvb::PsiReader reader;
  dvb::ServiceFilter filter(choice, &reader);
  std::vector<std::uint8_t> out;
  std::vector<std::uint8_t> expected;
  const std::size_t piece = 1 + ((flags >> 3) & 7);
  for (std::size_t at = 0; at < count; at += piece) {
    const std::size_t n = at + piece <= count ? piece : count - at;
    const std::uint8_t* first = &packets[at * TS_SIZE];
    dvb::FilterPackets(first, n, &reader, &filter, &out);
    CheckNames(reader);
    for (std::size_t i = 0; i < n && by_pids; ++i) {
      if (kept[PidOf(first + i * TS_SIZE)]) {
        expected.insert(expected.end(), first + i * TS_SIZE, first + (i + 1) * TS_SIZE);
      }
    }
  }

  if (out.size() % TS_SIZE != 0 || out.size() / TS_SIZE > kMostOutPerPacket * count) {
    Fail("the filter gave a part packet or too many", std::to_string(out.size()));
  }
  for (std::size_t at = 0; at < out.size(); at += TS_SIZE) {
    if (out[at] != kSync) {
      Fail("the filter gave a packet without its sync byte", std::to_string(at / TS_SIZE));
    }
  }
  if (by_pids && out != expected) {
    Fail("by PIDs the filter gave other packets than the stream's of those PIDs", "");
  }
  if (!by_pids) {
    // What the filter wrote, read again: its PAT has the one program.
    dvb::PsiReader written;
    written.Add(out.data(), out.size() / TS_SIZE);
    const std::vector<dvb::Service> programs = written.services();
    dvb::Service kept_service;
    const std::uint16_t program =
        filter.service(&kept_service) ? kept_service.program : choice.program;
    if (programs.size() > 1 ||
        (!programs.empty() && program != 0 && programs[0].program != program)) {
      Fail("the filter's PAT names another program", std::to_string(programs.size()));
    }
  }
  return 0;
}
