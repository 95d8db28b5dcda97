// The table reader: the stand-in's lineup read from its generated streams,
// sections packed several to a packet and over packets, damaged sections
// passed over, and names decoded by their character table.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <string>
#include <vector>

#include <bitstream/dvb/si/desc_48.h>
#include <bitstream/dvb/si/sdt.h>
#include <bitstream/mpeg/psi.h>
#include <bitstream/mpeg/ts.h>

#include "dvb/dvb_text.h"
#include "dvb/psi_reader.h"
#include "sim/lineup.h"
#include "tests/support/lineup_stream.h"
#include "tests/support/psi_tables.h"

using namespace dvb;

namespace {

TEST(PsiReader, ReadsEveryServiceOfTheStandInsLineup) {
  for (const sim::LineupTransponder& transponder : sim::Lineup()) {
    const auto index = static_cast<int>(&transponder - sim::Lineup().data());
    sim::TransportStreamGenerator generator = LineupGenerator(index);
    const std::vector<std::uint8_t> packets = NextPackets(&generator, 3000);
    PsiReader reader;
    reader.Add(packets.data(), packets.size() / TS_SIZE);
    EXPECT_TRUE(reader.complete()) << "transponder " << index;
    EXPECT_EQ(reader.transport_stream_id(), transponder.multiplex.transport_stream_id);
    // The NIT: the satellite's transponders (satellite 1's with a DVB-S2 one besides).
    const sim::NetworkDescription& network = transponder.multiplex.network;
    ASSERT_TRUE(reader.network_announced() && reader.nit_read()) << "transponder " << index;
    EXPECT_EQ(reader.network_id(), transponder.multiplex.original_network_id);
    EXPECT_EQ(reader.network_name(), transponder.satellite == 0 ? "Kestrava 1" : "Lumenor 4");
    const std::vector<NetworkTransponder>& listed = reader.network_transponders();
    ASSERT_EQ(listed.size(), transponder.satellite == 0 ? 4u : 3u);
    for (std::size_t t = 0; t < listed.size(); ++t) {
      const sim::NetworkEntry& expected = network.transponders[t];
      const TransponderParameters& p = listed[t].parameters;
      EXPECT_EQ(listed[t].transport_stream_id, expected.transport_stream_id);
      EXPECT_EQ(p.frequency_khz, expected.frequency_mhz * 1000);
      EXPECT_EQ(p.symbol_rate, expected.symbol_rate_ksps * 1000);
      EXPECT_EQ(p.polarization,
                expected.polarity == 'H' ? Polarization::kHorizontal : Polarization::kVertical);
      EXPECT_EQ(p.delivery_system,
                expected.dvb_s2 ? DeliverySystem::kDvbS2 : DeliverySystem::kDvbS);
      EXPECT_EQ(listed[t].orbital_tenths, transponder.satellite == 0 ? 114 : 176);
    }
    EXPECT_EQ(listed[0].parameters.fec,
              transponder.satellite == 0 ? CodeRate::k5_6 : CodeRate::k3_4);

    const std::vector<Service> services = reader.services();
    ASSERT_EQ(services.size(), transponder.multiplex.services.size());
    for (std::size_t s = 0; s < services.size(); ++s) {
      const sim::ServiceDescription& expected = transponder.multiplex.services[s];
      const Service& service = services[s];
      const bool radio = expected.video_pid == 0;
      EXPECT_EQ(service.program, expected.service_id);
      EXPECT_EQ(service.pmt_pid, expected.pmt_pid);
      EXPECT_EQ(service.name, expected.name);
      EXPECT_EQ(service.provider, expected.provider);
      EXPECT_EQ(service.service_type, radio ? 2 : 1);
      EXPECT_TRUE(service.pmt_read);
      EXPECT_EQ(service.pcr_pid, radio ? expected.audio_pid : expected.video_pid);
      ASSERT_EQ(service.streams.size(), radio ? 1u : 2u) << expected.name;
      EXPECT_EQ(service.streams.back().pid, expected.audio_pid);
      EXPECT_EQ(service.streams.back().kind, StreamKind::kAudio);
      if (!radio) {
        EXPECT_EQ(service.streams.front().pid, expected.video_pid);
        EXPECT_EQ(service.streams.front().kind, StreamKind::kVideo);
      }
    }
  }
}

// A lineup file's transponder with no services (tables and null packets), and
// one with 300 of the longest names, whose PAT and SDT take several sections;
// a name longer than the SDT holds is cut between characters.
TEST(PsiReader, ReadsATransponderOfNoServicesOrOfMany) {
  for (const int count : {0, 300}) {
    std::string list;
    for (int i = 0; i < count; ++i) {
      std::string name = "Service " + std::to_string(i) + (i == 7 ? ":" : "");
      name += i == 7 ? std::string() : std::string(64 - name.size(), '.');
      for (int k = 0; i == 7 && k < 40; ++k) {
        name += "\xC3\x96";  // U+00D6, two bytes
      }
      list += (i == 0 ? "" : ",") + std::string("{\"id\": ") + std::to_string(i + 1) +
              ", \"name\": \"" + name + "\", \"pmt\": " + std::to_string(0x100 + i) +
              ", \"video\": " + std::to_string(0x800 + 2 * i) +
              ", \"audio\": " + std::to_string(0x801 + 2 * i) + "}";
    }
    const std::string path = "psi-reader-lineup.json";
    std::FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    std::fprintf(file,
                 R"({"transponders": [{"frequency": 11778, "polarity": "V",
                     "provider": "Pr\u00f6vider", "services": [%s]}]})",
                 list.c_str());
    std::fclose(file);
    sim::CardSettings settings;
    std::string error;
    ASSERT_TRUE(sim::LoadSettings(path, "", &settings, &error)) << error;
    std::remove(path.c_str());
    const sim::MultiplexDescription& multiplex = settings.transponders.at(2).multiplex;
    sim::TransportStreamGenerator generator(multiplex, sim::kDefaultBitsPerSecond);
    const std::vector<std::uint8_t> packets = NextPackets(&generator, 3000);
    PsiReader reader;
    reader.Add(packets.data(), packets.size() / TS_SIZE);
    EXPECT_TRUE(reader.complete()) << count << " services";

    const std::vector<Service> services = reader.services();
    ASSERT_EQ(services.size(), static_cast<std::size_t>(count));
    for (std::size_t s = 0; s < services.size(); ++s) {
      const sim::ServiceDescription& expected = multiplex.services[s];
      EXPECT_EQ(services[s].program, expected.service_id);
      // Behind the table byte, 10 bytes and 26 of the 40 characters fit.
      EXPECT_EQ(services[s].name, s == 7 ? expected.name.substr(0, 10 + 26 * 2) : expected.name);
      EXPECT_EQ(services[s].provider, "Pr\xC3\xB6vider");
      EXPECT_TRUE(services[s].pmt_read);
    }
  }
}

// ---- Tables built here, packed as a multiplexer may pack them.

using Packet = std::array<std::uint8_t, TS_SIZE>;

// Sections one after another on `pid`, a new one starting in the same packet
// where the last ended (biTStream sets the pointer field).
std::vector<Packet> Packed(std::uint16_t pid, const std::vector<Section>& sections,
                           std::uint8_t first_continuity = 0) {
  std::vector<Packet> packets;
  Packet packet{};
  std::uint8_t filled = 0;
  auto ship = [&] {
    ts_set_pid(packet.data(), pid);
    ts_set_cc(packet.data(), static_cast<std::uint8_t>((first_continuity + packets.size()) & 0xF));
    packets.push_back(packet);
    filled = 0;
  };
  for (const Section& section : sections) {
    std::uint16_t done = 0;
    while (done < section.size()) {
      psi_split_section(packet.data(), &filled, section.data(), &done);
      if (filled == TS_SIZE) {
        ship();
      }
    }
  }
  if (filled != 0) {
    psi_split_end(packet.data(), &filled);
    ship();
  }
  return packets;
}

void Feed(PsiReader* reader, const std::vector<Packet>& packets) {
  for (const Packet& packet : packets) {
    reader->Add(packet.data());
  }
}

TEST(PsiReader, SectionsPackedTogetherAndAcrossPacketsAreAllRead) {
  PsiReader reader;
  const std::string long_name(150, 'L');  // the SDT runs over into a second packet
  Feed(&reader, Packed(PAT_PID, {Pat({{0, 0x10}, {1, 0x100}, {2, 0x100}})}));
  // Both programs' PMTs on one PID, in one packet.
  const std::vector<Packet> pmts =
      Packed(0x100, {Pmt(1, {{0x1B, 0x101}}), Pmt(2, {{0x06, 0x102, 0x6A}})});  // 0x6A: AC-3
  ASSERT_EQ(pmts.size(), 1u);
  Feed(&reader, pmts);
  // The SDT repeated, the repetition starting inside its first copy's last packet.
  const Section sdt = Sdt({{1, long_name}, {2, "Zwei"}, {3, "Drei"}});
  const std::vector<Packet> sdts = Packed(SDT_PID, {sdt, sdt});
  ASSERT_EQ(sdts.size(), 3u);
  Feed(&reader, {sdts[0], sdts[1]});
  EXPECT_TRUE(reader.complete());

  const std::vector<Service> services = reader.services();
  ASSERT_EQ(services.size(), 3u);
  EXPECT_EQ(services[0].name, long_name);
  ASSERT_EQ(services[0].streams.size(), 1u);
  EXPECT_EQ(services[0].streams[0].kind, StreamKind::kVideo);
  ASSERT_EQ(services[1].streams.size(), 1u);
  EXPECT_EQ(services[1].streams[0].kind, StreamKind::kAudio);  // by its AC-3 descriptor
  EXPECT_EQ(services[2].name, "Drei");                         // named by the SDT, not in the PAT
  EXPECT_EQ(services[2].pmt_pid, 0);
  EXPECT_EQ(reader.pmts_missing(), 0u);
}

TEST(PsiReader, DamagedSectionsAndInterruptedOnesArePassedOver) {
  PsiReader reader;
  Section broken = Pat({{1, 0x100}});
  broken[9] ^= 0x01;  // a program number bit: the CRC no longer holds
  Feed(&reader, Packed(PAT_PID, {broken}));
  EXPECT_FALSE(reader.pat_read());

  // The SDT's middle packet lost: neither copy may be read from the rest.
  const Section sdt = Sdt({{1, std::string(150, 'L')}, {2, "Zwei"}});
  std::vector<Packet> sdts = Packed(SDT_PID, {sdt, sdt});
  ASSERT_EQ(sdts.size(), 3u);
  Feed(&reader, {sdts[0], sdts[2]});
  EXPECT_FALSE(reader.sdt_read());
  EXPECT_TRUE(reader.services().empty());

  Feed(&reader, Packed(PAT_PID, {Pat({{1, 0x100}})}, 1));
  EXPECT_TRUE(reader.pat_read());
  EXPECT_EQ(reader.pmts_missing(), 1u);
}

TEST(DvbText, NamesAreDecodedByTheirCharacterTable) {
  const struct {
    std::string bytes;
    std::string text;
  } cases[] = {
      // The default table: the accent before its letter, the euro sign at 0xA4.
      {"Caf\xC2"
       "e V\xC8"
       "ogel \xA4"
       "5 \xC8x",
       "Caf\u00E9 V\u00F6gel \u20AC5 x\u0308"},
      {std::string("\x10\x00\x01\xC4rger", 8), "\u00C4rger"},  // ISO-8859-1 by number
      {"\x05\xC7"
       "ay \xF0",
       "\u00C7ay \u011F"},  // 0x05: ISO-8859-9
      {std::string("\x10\x00\x02\xB3\xF3"
                   "d\xBC",
                   7),
       "\u0142\u00F3d\u017A"},                                       // ISO-8859-2
      {"\x01\xB6\xD0", "\u0416\u0430"},                              // 0x01: ISO-8859-5
      {std::string("\x11\x04\x16\x00\x41", 5), "\u0416A"},           // 0x11: UCS-2
      {"\x15\xD0\x9D\xD1\x83 \xE2\x82\xAC", "\u041D\u0443 \u20AC"},  // 0x15: UTF-8
      {"\x15"
       "Bad \xFF",
       "Bad \uFFFD"},                             // not UTF-8 after all
      {"\x86News\x87 at\x8Aten", "News at ten"},  // emphasis and line break
      {"", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DvbTextToUtf8(reinterpret_cast<const std::uint8_t*>(c.bytes.data()), c.bytes.size()),
              c.text)
        << c.bytes;
  }
}

// Whatever the bytes, a unit that does not decode costs one U+FFFD and the rest
// is read in step; a NUL is a control code like the others, cutting nothing.
TEST(DvbText, BadUnitsAndNulsCostNothingAfterThem) {
  const struct {
    std::string bytes;
    std::string text;
  } cases[] = {
      {std::string("\x11\x00"
                   "A\xD8\x00\x00"
                   "B\x00"
                   "C",
                   9),
       "A\uFFFDBC"},  // a lone surrogate
      {std::string("\x11\x00"
                   "A\x00\x00\x00"
                   "B\x00",
                   8),
       "AB\uFFFD"},                                            // U+0000, an odd byte
      {std::string("\x11\xD8\x3D\xDE\x00", 5), "\U0001F600"},  // a whole pair
      {std::string("A\x00"
                   "B",
                   3),
       "AB"},  // the default table
      {std::string("\x15"
                   "A\x00"
                   "B\xED\xA0\x80",
                   7),
       "AB\uFFFD\uFFFD\uFFFD"},  // UTF-8, a surrogate
      {"\x08"
       "Caf\xE9",
       "Caf\u00E9"},  // a reserved table, read as Latin-1
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DvbTextToUtf8(reinterpret_cast<const std::uint8_t*>(c.bytes.data()), c.bytes.size()),
              c.text)
        << c.bytes;
  }
  // EUC-KR's unassigned C9A1 is one character, whichever sign the platform
  // gives it: the two syllables after it stay whole.
  const std::uint8_t euc[] = {0x12, 0xC9, 0xA1, 0xB0, 0xA1, 0xB0, 0xA1};
  const std::string text = DvbTextToUtf8(euc, sizeof euc);
  ASSERT_EQ(text.size(), 9u) << text;
  EXPECT_EQ(text.substr(3), "\uAC00\uAC00");
}

}  // namespace
