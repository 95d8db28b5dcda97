// How a command speaks: text lines for a person, or with --json one JSON
// object at its end (and a JSON line per streamed sample). Both go to standard
// output, or to standard error when standard output carries the stream
// (capture -o -); problems and notes always go to standard error. Status lines
// are refreshed in place on a terminal and fitted to its width.
#pragma once
#include <cstdio>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#if defined(__MINGW32__)
#define MV_PRINTF(text, first) __attribute__((format(__MINGW_PRINTF_FORMAT, text, first)))
#else
#define MV_PRINTF(text, first) __attribute__((format(printf, text, first)))
#endif

namespace host {

using Json = nlohmann::ordered_json;

// With `quiet` (-q) text mode says nothing but problems: no report lines, no
// status lines, no notes on standard error (JSON is unchanged).
void SetUpReport(bool json, bool stream_on_stdout, bool quiet = false);
bool JsonReport();
bool QuietReport();
std::FILE* ReportStream();

// The command's JSON object, printed by FinishReport; fields keep their order.
Json& Report();

// printf-like text of any length.
std::string Format(const char* format, ...) MV_PRINTF(1, 2);

// Text on the report stream, in text mode only.
void Say(const char* format, ...) MV_PRINTF(1, 2);

// True once a write to the report stream failed: its reader has gone.
bool ReportClosed();

// A status line refreshed in place on a terminal, a line of its own otherwise;
// EndStatus ends the line in place.
void ShowStatus(const std::string& line);
void EndStatus();

// One line on standard error, the program's name first; with --json also the
// object's "error" (the first problem is the one kept). Returns `status`.
int Fail(int status, const std::string& problem);

// A hint on standard error ("note: ..."); with --json also in "notes".
void Note(const std::string& note);

// With --json, prints the object with its "exit_status". Returns `status`.
int FinishReport(int status);

// One JSON line on the report stream.
void PrintJsonLine(const Json& line);

// JSON text that is valid UTF-8 whatever the strings held: bytes that are not
// UTF-8 become U+FFFD. Numbers keep their full precision.
std::string JsonText(const Json& value);

// Columns of the terminal; COLUMNS or 80 when the stream is none.
std::size_t TerminalWidth(std::FILE* stream);

// Pieces, the most important first, joined by two spaces as far as they fit
// `width`.
std::string FitPieces(const std::vector<std::string>& pieces, std::size_t width);

}  // namespace host
