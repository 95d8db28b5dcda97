// How a command speaks: see report.h.
#include "host/report.h"

#include <cstdarg>

#include "host/program.h"
#include "host/terminal.h"

namespace {

bool json_mode = false;
std::FILE* report_stream = stdout;
bool closed = false;
bool status_shown = false;

std::string FormatList(const char* format, std::va_list arguments) {
  std::va_list measure;
  va_copy(measure, arguments);
  const int length = std::vsnprintf(nullptr, 0, format, measure);
  va_end(measure);
  if (length <= 0) {
    return {};
  }
  std::string text(static_cast<std::size_t>(length), '\0');
  std::vsnprintf(&text[0], text.size() + 1, format, arguments);
  return text;
}

void Write(const std::string& text) {
  if (!closed && (std::fputs(text.c_str(), report_stream) < 0 || std::fflush(report_stream) != 0)) {
    closed = true;
  }
}

}  // namespace

void SetUpReport(bool json, bool stream_on_stdout) {
  json_mode = json;
  report_stream = stream_on_stdout ? stderr : stdout;
}

bool JsonReport() { return json_mode; }
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
  if (json_mode) {
    return;
  }
  std::va_list arguments;
  va_start(arguments, format);
  Write(FormatList(format, arguments));
  va_end(arguments);
}

bool ReportClosed() { return closed; }

void ShowStatus(const std::string& line) {
  if (!IsTerminal(report_stream)) {
    Write(line + "\n");
    return;
  }
  const std::size_t width = TerminalWidth(report_stream) - 1;
  Write("\r" + line + std::string(line.size() < width ? width - line.size() : 0, ' '));
  status_shown = true;
}

void EndStatus() {
  if (status_shown) {
    Write("\n");
    status_shown = false;
  }
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
  std::fprintf(stderr, "%s: note: %s\n", kProgram, note.c_str());
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
