// JSON output: objects built from fields whose values are JSON already.
#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

using JsonFields = std::vector<std::pair<std::string, std::string>>;

// A string, quoted and escaped.
std::string JsonText(const std::string& text);
std::string JsonObject(const JsonFields& fields);
std::string JsonArray(const std::vector<std::string>& items);
std::string JsonNumber(double value);
std::string JsonNumber(std::uint64_t value);
std::string JsonNumber(int value);
std::string JsonBool(bool value);

// The object on one line of standard output.
void PrintJson(const JsonFields& fields);
