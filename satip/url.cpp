// Splitting a request's URI.
#include "satip/url.h"

#include "satip/text.h"

namespace satip {

namespace {

constexpr long kMaxStream = 65535;
constexpr std::string_view kStreamPath = "/stream=";

}  // namespace

bool ParseUrl(std::string_view uri, Url* url, std::string* error) {
  Url parsed;
  if (uri == "*") {
    parsed.path = "*";
    *url = parsed;
    return true;
  }
  const std::size_t scheme = uri.find("://");
  std::string_view rest = uri;
  if (scheme != std::string_view::npos && uri.find_first_of("/?") > scheme) {
    const std::size_t path = uri.find_first_of("/?", scheme + 3);
    parsed.base = std::string(uri.substr(0, path)) + "/";
    rest = path == std::string_view::npos ? "/" : uri.substr(path);
  }
  if (rest.empty() || (rest.front() != '/' && rest.front() != '?')) {
    *error = "the URI " + Quoted(uri) + " is neither absolute nor a path";
    return false;
  }
  const std::size_t question = rest.find('?');
  parsed.has_query = question != std::string_view::npos;
  if (parsed.has_query) {
    parsed.query = std::string(rest.substr(question + 1));
  }
  parsed.path = std::string(rest.substr(0, question));
  if (parsed.path.empty()) {
    parsed.path = "/";
  }
  std::string_view path = parsed.path;
  if (StartsWithIgnoringCase(path, kStreamPath)) {
    path.remove_prefix(kStreamPath.size());
    if (!path.empty() && path.back() == '/') {
      path.remove_suffix(1);
    }
    long stream = 0;
    if (!ParseNumber(path, 1, kMaxStream, &stream)) {
      *error = "the URI " + Quoted(uri) + " names no stream 1.." + std::to_string(kMaxStream);
      return false;
    }
    parsed.stream = static_cast<int>(stream);
  }
  *url = parsed;
  return true;
}

}  // namespace satip
