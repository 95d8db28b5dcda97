// RTSP/1.0 and HTTP/1.x messages: read from a byte stream as they arrive
// (requests for the server, responses for the client, and the binary frames
// RTP and RTCP travel in over an RTSP connection), read from one datagram
// (SSDP), and written.
//
// The reader is strict about sizes: a message, start line, headers and body,
// is at most 8 KiB unless told otherwise; what is larger, or is not a message,
// is an error the connection does not recover from (the server answers 413
// or 400 and closes). Between messages it passes over empty lines, and takes
// '$', a channel byte, a 16-bit big-endian length and that many bytes as one
// frame.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace satip {

constexpr std::size_t kMaxMessage = 8192;

struct Header {
  std::string name;
  std::string value;
};

struct Message {
  bool response = false;
  std::string method;  // requests: "SETUP", "M-SEARCH", ...
  std::string uri;
  int status = 0;  // responses
  std::string reason;
  std::string version;  // "RTSP/1.0", "HTTP/1.1"
  std::vector<Header> headers;
  std::string body;

  // The first header of that name, in any case; nullptr when there is none.
  const std::string* Find(std::string_view name) const;
  void Add(std::string name, std::string value);
};

enum class ReadError : std::uint8_t { kNone, kMalformed, kTooLarge };

// One interleaved frame; `data` points into the reader's buffer, valid until
// the next Feed or Next.
struct Frame {
  std::uint8_t channel = 0;
  const std::uint8_t* data = nullptr;
  std::size_t size = 0;
};

class StreamReader {
 public:
  enum class Item : std::uint8_t { kNeedMore, kMessage, kFrame, kError };

  explicit StreamReader(std::size_t max_message = kMaxMessage) : max_message_(max_message) {}

  // What arrived. Nothing is taken after an error.
  void Feed(const void* data, std::size_t size);
  // The next whole message or frame of what was fed; kNeedMore until one is
  // whole, kError (for good) when the stream holds no message.
  Item Next(Message* message, Frame* frame);

  ReadError error() const { return error_; }
  // Bytes fed and not yet handed out.
  std::size_t buffered() const { return buffer_.size() - start_; }

 private:
  Item Fail(ReadError error);

  std::size_t max_message_;
  std::vector<std::uint8_t> buffer_;
  std::size_t start_ = 0;  // where the next item begins
  // Where, after start_, to look again for the end of the head (from 3 bytes
  // before: the empty line may have begun in what was there before).
  std::size_t scanned_ = 0;
  ReadError error_ = ReadError::kNone;
};

// A whole message in one piece (an SSDP datagram): without Content-Length,
// whatever follows the head is the body. kMalformed also when the body is
// shorter than its Content-Length.
ReadError ParseMessage(std::string_view text, Message* message,
                       std::size_t max_message = kMaxMessage);

// Start line, headers, Content-Length when there is a body and no such header,
// the body. Line breaks and other control characters in a header are written
// as spaces, so that nothing given to it can add a header of its own.
std::string WriteMessage(const Message& message);

// The response to `request`: its version (RTSP/1.0 unless the request is
// HTTP), `status` with its reason, the request's CSeq.
Message Respond(const Message& request, int status);

// "OK", "Session Not Found", ...; "Status N" for one it does not know.
std::string ReasonPhrase(int status);

// An interleaved frame's 4-byte head: '$', channel, length (at most 65535).
void WriteFrameHead(std::uint8_t channel, std::size_t size, std::uint8_t* head);

}  // namespace satip
