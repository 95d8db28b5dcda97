// RTSP and HTTP messages from a byte stream as clients and servers send them,
// however the stream is cut; interleaved frames between them; the errors the
// server answers 400 or 413 to; responses written; URLs taken apart.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "satip/message.h"
#include "satip/url.h"

namespace {

using satip::Frame;
using satip::Message;
using satip::ReadError;
using satip::StreamReader;
using Item = StreamReader::Item;

// As VLC 3.0.24 and ffmpeg 5.1 send them.
const char kVlcSetup[] =
    "SETUP rtsp://127.0.0.1:8554/?src=1&freq=11778&pol=v&msys=dvbs&sr=27500&fec=34&pids=0,17 "
    "RTSP/1.0\r\n"
    "CSeq: 0\r\n"
    "Transport: RTP/AVP;unicast;client_port=40000-40001\r\n"
    "\r\n";
const char kFfmpegPlay[] =
    "PLAY rtsp://127.0.0.1:8554/ RTSP/1.0\r\n"
    "Range: npt=0.000-\r\n"
    "CSeq: 4\r\n"
    "User-Agent: Lavf59.27.100\r\n"
    "Session: 1234567890123456\r\n"
    "\r\n";

// Everything the reader hands out for `stream` fed in pieces of `piece` bytes.
struct Read {
  std::vector<Message> messages;
  std::vector<std::string> frames;  // "channel:data"
  ReadError error = ReadError::kNone;
};

Read ReadAll(const std::string& stream, std::size_t piece) {
  StreamReader reader;
  Read read;
  for (std::size_t at = 0; at < stream.size(); at += piece) {
    reader.Feed(stream.data() + at, std::min(piece, stream.size() - at));
    Message message;
    Frame frame;
    for (Item item; (item = reader.Next(&message, &frame)) != Item::kNeedMore;) {
      if (item == Item::kError) {
        read.error = reader.error();
        return read;
      }
      if (item == Item::kMessage) {
        read.messages.push_back(message);
      } else {
        read.frames.push_back(std::to_string(frame.channel) + ":" +
                              std::string(reinterpret_cast<const char*>(frame.data), frame.size));
      }
    }
  }
  return read;
}

TEST(SatipMessage, RequestsAndFramesReadAlikeHoweverTheStreamIsCut) {
  // RTCP from a TCP client between requests, an empty line, a body.
  const std::string rtcp("$\x01\x00\x04RTCP", 8);
  const std::string announce =
      "SET_PARAMETER rtsp://h/ RTSP/1.0\r\nCSeq: 5\r\ncontent-length: 5\r\n\r\nhello";
  const std::string stream = std::string(kVlcSetup) + rtcp + "\r\n" + kFfmpegPlay + announce;
  for (const std::size_t piece : {1u, 7u, 4096u}) {
    const Read read = ReadAll(stream, piece);
    ASSERT_EQ(read.error, ReadError::kNone);
    ASSERT_EQ(read.messages.size(), 3u) << piece;
    ASSERT_EQ(read.frames, std::vector<std::string>{"1:RTCP"});
    const Message& setup = read.messages[0];
    EXPECT_EQ(setup.method, "SETUP");
    EXPECT_EQ(setup.version, "RTSP/1.0");
    EXPECT_EQ(*setup.Find("cseq"), "0");
    EXPECT_EQ(*setup.Find("TRANSPORT"), "RTP/AVP;unicast;client_port=40000-40001");
    EXPECT_EQ(read.messages[1].uri, "rtsp://127.0.0.1:8554/");
    EXPECT_EQ(read.messages[2].body, "hello");
  }
}

TEST(SatipMessage, ResponsesReadWithFoldedHeadersAndAnEmptyReason) {
  const Read read = ReadAll(
      "RTSP/1.0 200\r\nCSeq: 1\r\nPublic: OPTIONS,\r\n  DESCRIBE \r\n\r\n"
      "HTTP/1.1 404 Not Found\nContent-Length: 0\n\n",
      3);
  ASSERT_EQ(read.messages.size(), 2u);
  EXPECT_TRUE(read.messages[0].response);
  EXPECT_EQ(read.messages[0].status, 200);
  EXPECT_EQ(read.messages[0].reason, "");
  EXPECT_EQ(*read.messages[0].Find("Public"), "OPTIONS, DESCRIBE");
  EXPECT_EQ(read.messages[1].status, 404);
  EXPECT_EQ(read.messages[1].reason, "Not Found");
}

TEST(SatipMessage, WhatIsTooLargeOrNotAMessageEndsTheStream) {
  const std::string eight_k(8192, 'a');
  const struct {
    std::string stream;
    ReadError error;
  } cases[] = {
      {"OPTIONS * RTSP/1.0\r\nX: " + eight_k, ReadError::kTooLarge},
      {"OPTIONS * RTSP/1.0\r\nContent-Length: 8000\r\nX: " + std::string(300, 'a') + "\r\n\r\n",
       ReadError::kTooLarge},
      {"OPTIONS * RTSP/1.0\r\nContent-Length: 1048576\r\n\r\n", ReadError::kTooLarge},
      {"OPTIONS *  RTSP/1.0\r\n\r\n", ReadError::kMalformed},
      {"OPTIONS * RTSP/1\r\n\r\n", ReadError::kMalformed},
      {"GET / HTTP/1.1\r\nno colon\r\n\r\n", ReadError::kMalformed},
      {"GET / HTTP/1.1\r\n folded first\r\n\r\n", ReadError::kMalformed},
      {std::string("GET / HTTP/1.1\r\nX: a\0b\r\n\r\n", 26), ReadError::kMalformed},
      {"GET / HTTP/1.1\r\nContent-Length: 1\r\nContent-Length: 2\r\n\r\n", ReadError::kMalformed},
      {"GET / HTTP/1.1\r\nContent-Length: -1\r\n\r\n", ReadError::kMalformed},
      {"RTSP/1.0 20 OK\r\n\r\n", ReadError::kMalformed},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ReadAll(c.stream, 1000).error, c.error) << c.stream.substr(0, 60);
  }
  // A message of exactly 8 KiB is whole; the reader's limit can be set.
  const std::string head = "OPTIONS * RTSP/1.0\r\nX: ";
  const std::string exact = head + std::string(8192 - head.size() - 4, 'a') + "\r\n\r\n";
  EXPECT_EQ(ReadAll(exact, 1000).messages.size(), 1u);
  StreamReader small(64);
  small.Feed(kVlcSetup, sizeof kVlcSetup - 1);
  Message message;
  Frame frame;
  EXPECT_EQ(small.Next(&message, &frame), Item::kError);
  small.Feed(kFfmpegPlay, sizeof kFfmpegPlay - 1);  // nothing more after an error
  EXPECT_EQ(small.Next(&message, &frame), Item::kError);
  EXPECT_EQ(small.buffered(), 0u);
}

TEST(SatipMessage, AResponseEchoesCSeqAndCarriesItsBodysLength) {
  Message request;
  ASSERT_EQ(satip::ParseMessage(kVlcSetup, &request), ReadError::kNone);
  Message response = satip::Respond(request, 454);
  response.Add("Session", "1\r\nX-Injected: 1");
  response.body = "v=0\r\n";
  const std::string text = satip::WriteMessage(response);
  EXPECT_EQ(text,
            "RTSP/1.0 454 Session Not Found\r\nCSeq: 0\r\nSession: 1  X-Injected: 1\r\n"
            "Content-Length: 5\r\n\r\nv=0\r\n");
  Message again;
  ASSERT_EQ(satip::ParseMessage(text, &again), ReadError::kNone);
  EXPECT_EQ(again.body, "v=0\r\n");
  EXPECT_EQ(again.headers.size(), 3u);
}

TEST(SatipMessage, UrlsGiveTheirStreamAndQuery) {
  const struct {
    const char* uri;
    const char* base;
    const char* path;
    int stream;  // 0: none
    const char* query;
  } cases[] = {
      {"rtsp://10.0.0.1:554/?src=1&freq=11778", "rtsp://10.0.0.1:554/", "/", 0, "src=1&freq=11778"},
      {"rtsp://10.0.0.1:554/stream=3?pids=0", "rtsp://10.0.0.1:554/", "/stream=3", 3, "pids=0"},
      {"rtsp://10.0.0.1/stream=12/", "rtsp://10.0.0.1/", "/stream=12/", 12, ""},
      {"rtsp://[::1]:8554", "rtsp://[::1]:8554/", "/", 0, ""},
      {"rtsp://h?pids=all", "rtsp://h/", "/", 0, "pids=all"},
      {"/?freq=11778", "", "/", 0, "freq=11778"},
      {"/desc.xml", "", "/desc.xml", 0, ""},
      {"*", "", "*", 0, ""},
  };
  for (const auto& c : cases) {
    satip::Url url;
    std::string error;
    ASSERT_TRUE(satip::ParseUrl(c.uri, &url, &error)) << c.uri << ": " << error;
    EXPECT_EQ(url.base, c.base) << c.uri;
    EXPECT_EQ(url.path, c.path) << c.uri;
    EXPECT_EQ(url.stream.value_or(0), c.stream) << c.uri;
    EXPECT_EQ(url.query, c.query) << c.uri;
  }
  satip::Url url;
  std::string error;
  for (const char* bad :
       {"", "stream=1", "rtsp://h/stream=", "rtsp://h/stream=0", "/stream=70000"}) {
    EXPECT_FALSE(satip::ParseUrl(bad, &url, &error)) << bad;
  }
}

}  // namespace
