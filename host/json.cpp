// JSON output: see json.h.
#include "host/json.h"

#include <cstdio>

std::string JsonText(const std::string& text) {
  std::string quoted = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') {
      quoted += '\\';
      quoted += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
      quoted += escaped;
    } else {
      quoted += c;
    }
  }
  return quoted + "\"";
}

std::string JsonObject(const JsonFields& fields) {
  std::string text = "{";
  for (const auto& field : fields) {
    text += (text.size() > 1 ? ", " : "") + JsonText(field.first) + ": " + field.second;
  }
  return text + "}";
}

std::string JsonArray(const std::vector<std::string>& items) {
  std::string text = "[";
  for (const std::string& item : items) {
    text += (text.size() > 1 ? ", " : "") + item;
  }
  return text + "]";
}

std::string JsonNumber(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.6g", value);
  return text;
}

std::string JsonNumber(std::uint64_t value) { return std::to_string(value); }
std::string JsonNumber(int value) { return std::to_string(value); }
std::string JsonBool(bool value) { return value ? "true" : "false"; }

void PrintJson(const JsonFields& fields) { std::printf("%s\n", JsonObject(fields).c_str()); }
