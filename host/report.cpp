// How a command speaks: see report.h.
#include "host/report.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdlib>

#include "host/program.h"
#include "host/system.h"

namespace host {

namespace {

bool json_mode = false;
bool quiet_mode = false;
std::FILE* report_stream = stdout;
bool closed = false;
bool status_shown = false;

std::string FormatList(const char* format, std::va_list arguments) {
  std::va_list measure;
  va_copy(measure, arguments);
  std::string text(
      static_cast<std::size_t>(std::max(0, std::vsnprintf(nullptr, 0, format, measure))), '\0');
  va_end(measure);
  std::vsnprintf(&text[0], text.size() + 1, format, arguments);
  return text;
}

void Write(const std::string& text) {
  if (!closed && (std::fputs(text.c_str(), report_stream) < 0 || std::fflush(report_stream) != 0)) {
    // A stop request's signal may end a write that waited for the reader:
    // that text is lost, the stream is not.
    closed = errno != EINTR;
    std::clearerr(report_stream);
  }
}

}  // namespace

void SetUpReport(bool json, bool stream_on_stdout, bool quiet) {
  json_mode = json;
  quiet_mode = quiet;
  report_stream = stream_on_stdout ? stderr : stdout;
}

bool JsonReport() { return json_mode; }
bool QuietReport() { return quiet_mode; }
std::FILE* ReportStream() { return report_stream; }

Json& Report() {
  static Json report = Json::object();
  return report;
}

std::string Format(const char* format, ...) {
  std::va_list arguments;
  va_start(arguments, format);
  std::string text = FormatList(format, arguments);
  va_end(arguments);
  return text;
}

void Say(const char* format, ...) {
  std::va_list arguments;
  va_start(arguments, format);
  Write(json_mode || quiet_mode ? "" : FormatList(format, arguments));
  va_end(arguments);
}

bool ReportClosed() { return closed; }

void ShowStatus(const std::string& line) {
  if (quiet_mode) {
    return;
  }
  if (!IsTerminal(report_stream)) {
    Write(line + "\n");
    return;
  }
  const std::size_t width = TerminalWidth(report_stream) - 1;
  // The line again after its padding: the cursor waits at its end, where
  // the terminal's echo of ^C goes, not over the summary that follows.
  Write("\r" + line + std::string(line.size() < width ? width - line.size() : 0, ' ') + "\r" +
        line);
  status_shown = true;
}

void EndStatus() {
  Write(status_shown ? "\n" : "");
  status_shown = false;
}

int Fail(int status, const std::string& problem) {
  EndStatus();
  std::fflush(stdout);
  std::fprintf(stderr, "%s: %s\n", kProgram, problem.c_str());
  if (json_mode && !Report().contains("error")) {
    Report()["error"] = problem;
  }
  return status;
}

void Note(const std::string& note) {
  if (!quiet_mode) {
    std::fprintf(stderr, "%s: note: %s\n", kProgram, note.c_str());
  }
  if (json_mode) {
    Report()["notes"].push_back(note);
  }
}

int FinishReport(int status) {
  if (json_mode) {
    Report()["exit_status"] = status;
    PrintJsonLine(Report());
  }
  return status;
}

void PrintJsonLine(const Json& line) { Write(JsonText(line) + "\n"); }

std::string JsonText(const Json& value) {
  return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::size_t TerminalWidth(std::FILE* stream) {
  if (const std::size_t terminal = TerminalColumns(stream); terminal > 0) {
    return terminal;
  }
  const char* columns = std::getenv("COLUMNS");
  const long given = columns != nullptr ? std::strtol(columns, nullptr, 10) : 0;
  return given > 0 ? static_cast<std::size_t>(given) : 80;
}

std::string FitPieces(const std::vector<std::string>& pieces, std::size_t width) {
  std::string line = pieces.empty() ? "" : pieces[0];
  for (std::size_t i = 1; i < pieces.size() && line.size() + 2 + pieces[i].size() <= width; ++i) {
    line += "  " + pieces[i];
  }
  return line.substr(0, width);
}

}  // namespace host
