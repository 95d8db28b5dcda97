// The parts of a request's URI the server acts on:
//   rtsp://192.168.1.5:554/stream=3?pids=0,17  stream 3, query "pids=0,17"
//   rtsp://192.168.1.5:554/?src=1&freq=11778   no stream, a query
//   /?src=1&freq=11778                          (HTTP) the same, as a path
//   *                                           OPTIONS for the server itself
#pragma once
#include <optional>
#include <string>
#include <string_view>

namespace satip {

struct Url {
  std::string base;           // "rtsp://192.168.1.5:554/": scheme and host; "" for a path alone
  std::string path;           // "/", "/stream=3", "/desc.xml", "*"
  std::optional<int> stream;  // 1..65535, from a path /stream=N (or /stream=N/)
  bool has_query = false;
  std::string query;  // as sent, still percent-encoded, without "?"
};

// False with a reason in *error for what is neither "*", an absolute URI nor
// an absolute path, and for /stream= with no stream number.
bool ParseUrl(std::string_view uri, Url* url, std::string* error);

}  // namespace satip
