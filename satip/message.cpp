// Reading and writing RTSP and HTTP messages.
#include "satip/message.h"

#include <algorithm>

#include "satip/text.h"

namespace satip {

namespace {

constexpr std::uint8_t kFrameMark = '$';
constexpr std::size_t kFrameHead = 4;

struct Reason {
  int status;
  const char* text;
};
constexpr Reason kReasons[] = {
    {200, "OK"},
    {400, "Bad Request"},
    {403, "Forbidden"},
    {404, "Not Found"},
    {405, "Method Not Allowed"},
    {408, "Request Timeout"},
    {413, "Request Entity Too Large"},
    {414, "Request-URI Too Large"},
    {454, "Session Not Found"},
    {455, "Method Not Valid in This State"},
    {461, "Unsupported Transport"},
    {500, "Internal Server Error"},
    {501, "Not Implemented"},
    {503, "Service Unavailable"},
    {505, "Version Not Supported"},
};

bool IsControl(char c) { return (static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7F; }

bool IsTokenChar(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
         std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

bool IsToken(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), IsTokenChar);
}

// "RTSP/1.0", "HTTP/1.1".
bool IsVersion(std::string_view text) {
  return text.size() == 8 && (text.substr(0, 5) == "RTSP/" || text.substr(0, 5) == "HTTP/") &&
         text[5] >= '0' && text[5] <= '9' && text[6] == '.' && text[7] >= '0' && text[7] <= '9';
}

bool ParseStartLine(std::string_view line, Message* message) {
  if (line.substr(0, 5) == "RTSP/" || line.substr(0, 5) == "HTTP/") {
    // RTSP/1.0 200 OK (the reason may be empty)
    message->response = true;
    const std::size_t space = line.find(' ');
    message->version = std::string(line.substr(0, space));
    const std::string_view rest =
        space == std::string_view::npos ? std::string_view() : line.substr(space + 1);
    long status = 0;
    if (!IsVersion(message->version) || !ParseNumber(rest.substr(0, 3), 100, 999, &status) ||
        (rest.size() > 3 && rest[3] != ' ')) {
      return false;
    }
    message->status = static_cast<int>(status);
    message->reason = std::string(Trim(rest.substr(std::min<std::size_t>(rest.size(), 4))));
    return true;
  }
  // SETUP rtsp://host/?query RTSP/1.0
  const std::vector<std::string_view> parts = Split(line, ' ');
  if (parts.size() != 3 || !IsToken(parts[0]) || parts[1].empty() || !IsVersion(parts[2])) {
    return false;
  }
  message->method = std::string(parts[0]);
  message->uri = std::string(parts[1]);
  message->version = std::string(parts[2]);
  return true;
}

// The head's lines, each without its line break; the start line first.
bool ParseHead(const std::vector<std::string_view>& lines, Message* message) {
  if (lines.empty() || std::any_of(lines[0].begin(), lines[0].end(), IsControl) ||
      !ParseStartLine(lines[0], message)) {
    return false;
  }
  for (std::size_t i = 1; i < lines.size(); ++i) {
    const std::string_view line = lines[i];
    if (std::any_of(line.begin(), line.end(), IsControl)) {
      return false;
    }
    if (line.front() == ' ' || line.front() == '\t') {  // folded onto the line before
      if (message->headers.empty()) {
        return false;
      }
      std::string& value = message->headers.back().value;
      value += (value.empty() ? "" : " ") + std::string(Trim(line));
      continue;
    }
    const std::size_t colon = line.find(':');
    const std::string_view name = line.substr(0, colon);
    if (colon == std::string_view::npos || !IsToken(name)) {
      return false;
    }
    message->Add(std::string(name), std::string(Trim(line.substr(colon + 1))));
  }
  return true;
}

// The head's end in `text`: the offset just after its empty line, or npos.
// Lines end in CRLF or a bare LF.
std::size_t HeadEnd(std::string_view text, std::size_t from) {
  for (std::size_t at = text.find('\n', from); at != std::string_view::npos;
       at = text.find('\n', at + 1)) {
    if (at + 1 < text.size() && text[at + 1] == '\n') {
      return at + 2;
    }
    if (at + 2 < text.size() && text[at + 1] == '\r' && text[at + 2] == '\n') {
      return at + 3;
    }
  }
  return std::string_view::npos;
}

std::vector<std::string_view> HeadLines(std::string_view head) {
  std::vector<std::string_view> lines;
  for (std::string_view line : Split(head, '\n')) {
    if (!line.empty() && line.back() == '\r') {
      line.remove_suffix(1);
    }
    if (!line.empty()) {
      lines.push_back(line);
    }
  }
  return lines;
}

// The body's length its Content-Length headers give (every one the same); -1
// when there is none; false when one is not a length.
bool ContentLength(const Message& message, long* length) {
  *length = -1;
  for (const Header& header : message.headers) {
    long value = 0;
    if (EqualsIgnoringCase(header.name, "Content-Length")) {
      if (!ParseNumber(header.value, 0, 999999999, &value) || (*length >= 0 && value != *length)) {
        return false;
      }
      *length = value;
    }
  }
  return true;
}

}  // namespace

const std::string* Message::Find(std::string_view name) const {
  for (const Header& header : headers) {
    if (EqualsIgnoringCase(header.name, name)) {
      return &header.value;
    }
  }
  return nullptr;
}

void Message::Add(std::string name, std::string value) {
  headers.push_back({std::move(name), std::move(value)});
}

void StreamReader::Feed(const void* data, std::size_t size) {
  if (error_ != ReadError::kNone) {
    return;
  }
  buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(start_));
  start_ = 0;
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  buffer_.insert(buffer_.end(), bytes, bytes + size);
}

StreamReader::Item StreamReader::Fail(ReadError error) {
  error_ = error;
  buffer_.clear();
  start_ = 0;
  return Item::kError;
}

StreamReader::Item StreamReader::Next(Message* message, Frame* frame) {
  if (error_ != ReadError::kNone) {
    return Item::kError;
  }
  while (start_ < buffer_.size() && (buffer_[start_] == '\r' || buffer_[start_] == '\n')) {
    ++start_;
  }
  const std::uint8_t* at = buffer_.data() + start_;
  const std::size_t available = buffer_.size() - start_;
  if (available == 0) {
    return Item::kNeedMore;
  }
  if (at[0] == kFrameMark) {
    if (available < kFrameHead) {
      return Item::kNeedMore;
    }
    const std::size_t size = static_cast<std::size_t>(at[2]) << 8 | at[3];
    if (available < kFrameHead + size) {
      return Item::kNeedMore;
    }
    *frame = {at[1], at + kFrameHead, size};
    start_ += kFrameHead + size;
    return Item::kFrame;
  }
  const std::string_view text(reinterpret_cast<const char*>(at), available);
  const std::size_t head_end = HeadEnd(text, scanned_ > 3 ? scanned_ - 3 : 0);
  if (head_end == std::string_view::npos) {
    scanned_ = available;
    return available > max_message_ ? Fail(ReadError::kTooLarge) : Item::kNeedMore;
  }
  if (head_end > max_message_) {
    return Fail(ReadError::kTooLarge);
  }
  Message parsed;
  long length = 0;
  if (!ParseHead(HeadLines(text.substr(0, head_end)), &parsed) || !ContentLength(parsed, &length)) {
    return Fail(ReadError::kMalformed);
  }
  const std::size_t body = length < 0 ? 0 : static_cast<std::size_t>(length);
  if (body > max_message_ - head_end) {
    return Fail(ReadError::kTooLarge);
  }
  if (available < head_end + body) {
    scanned_ = head_end;  // the head is read again, with its body
    return Item::kNeedMore;
  }
  parsed.body = std::string(text.substr(head_end, body));
  *message = std::move(parsed);
  start_ += head_end + body;
  scanned_ = 0;
  return Item::kMessage;
}

ReadError ParseMessage(std::string_view text, Message* message, std::size_t max_message) {
  if (text.size() > max_message) {
    return ReadError::kTooLarge;
  }
  const std::size_t head_end = HeadEnd(text, 0);
  Message parsed;
  long length = 0;
  if (!ParseHead(HeadLines(text.substr(0, head_end)), &parsed) || !ContentLength(parsed, &length)) {
    return ReadError::kMalformed;
  }
  const std::string_view rest =
      head_end == std::string_view::npos ? std::string_view() : text.substr(head_end);
  if (length >= 0 && rest.size() < static_cast<std::size_t>(length)) {
    return ReadError::kMalformed;
  }
  parsed.body = std::string(length >= 0 ? rest.substr(0, static_cast<std::size_t>(length)) : rest);
  *message = std::move(parsed);
  return ReadError::kNone;
}

std::string WriteMessage(const Message& message) {
  const auto clean = [](std::string text) {
    std::replace_if(text.begin(), text.end(), IsControl, ' ');
    return text;
  };
  std::string text =
      message.response
          ? message.version + " " + std::to_string(message.status) + " " + clean(message.reason)
          : clean(message.method) + " " + clean(message.uri) + " " + message.version;
  text += "\r\n";
  for (const Header& header : message.headers) {
    text += clean(header.name) + ": " + clean(header.value) + "\r\n";
  }
  if (!message.body.empty() && message.Find("Content-Length") == nullptr) {
    text += "Content-Length: " + std::to_string(message.body.size()) + "\r\n";
  }
  return text + "\r\n" + message.body;
}

Message Respond(const Message& request, int status) {
  Message response;
  response.response = true;
  response.version = request.version.substr(0, 5) == "HTTP/" ? request.version : "RTSP/1.0";
  response.status = status;
  response.reason = ReasonPhrase(status);
  if (const std::string* cseq = request.Find("CSeq")) {
    response.Add("CSeq", *cseq);
  }
  return response;
}

std::string ReasonPhrase(int status) {
  for (const Reason& reason : kReasons) {
    if (reason.status == status) {
      return reason.text;
    }
  }
  return "Status " + std::to_string(status);
}

void WriteFrameHead(std::uint8_t channel, std::size_t size, std::uint8_t* head) {
  head[0] = kFrameMark;
  head[1] = channel;
  head[2] = static_cast<std::uint8_t>(size >> 8);
  head[3] = static_cast<std::uint8_t>(size);
}

}  // namespace satip
