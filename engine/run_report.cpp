#include "engine/run_report.h"

#include <sys/stat.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <system_error>

#include "db/connection_string.h"
#include "engine/destination_file.h"
#include "engine/parameters.h"
#include "engine/project_check.h"
#include "engine/project_loader.h"
#include "engine/run_callbacks.h"
#include "engine/streams.h"
#include "text/error.h"
#include "text/stream.h"
#include "text/utf.h"

namespace morvex {

namespace {

constexpr std::string_view kTotalsEnd = " record(s) processed.";
constexpr std::string_view kMasked = "********";

// The count of a totals line ("5 record(s) processed.", "orders: 5 record(s)
// processed."), or nothing for any other line.
std::optional<int64_t> TotalOf(std::string_view line) {
  if (!line.ends_with(kTotalsEnd)) return std::nullopt;
  line.remove_suffix(kTotalsEnd.size());
  const size_t space = line.rfind(' ');
  const std::string_view digits = space == std::string_view::npos ? line : line.substr(space + 1);
  if (space != std::string_view::npos && !line.substr(0, space).ends_with(':')) return std::nullopt;
  if (digits.empty() || digits.size() > 18) return std::nullopt;
  int64_t count = 0;
  for (const char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    count = count * 10 + (c - '0');
  }
  return count;
}

std::string_view OutcomeName(TScriptOutcome outcome) {
  switch (outcome) {
    case TScriptOutcome::Ok:
      return "ok";
    case TScriptOutcome::Skipped:
      return "skipped";
    case TScriptOutcome::Failed:
      return "failed";
    case TScriptOutcome::NotRun:
      break;
  }
  return "not run";
}

std::string JsonOrNull(const std::optional<std::string>& text) {
  return text ? JsonString(*text) : std::string("null");
}

template <typename T>
std::string NumberOrNull(const std::optional<T>& number) {
  return number ? std::to_string(*number) : std::string("null");
}

std::string Seconds(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", seconds < 0 ? 0.0 : seconds);
  return text;
}

}  // namespace

TRunReport::TRunReport(const std::string& project)
    : project_(ProjectLabel(project)), start_(std::chrono::system_clock::now()), end_(start_) {}

void TRunReport::ProjectLoaded(const TProject& project) {
  if (!project.Name.empty()) name_ = project.Name;
  scripts_.clear();
  int number = 0;
  for (const TScript& script : project.Scripts) {
    TScriptReport report;
    report.Number = ++number;
    report.Name = script.Name;
    scripts_.push_back(std::move(report));
  }
}

void TRunReport::ParametersSettled(const TParameterList& parameters) {
  parameters_.clear();
  for (int i = 0; i < parameters.Count(); ++i) {
    const std::string name = parameters.Name(i);
    parameters_.emplace_back(name, ReportedParameterValue(name, parameters.Value(i)));
  }
}

void TRunReport::ScriptStarted(int number) {
  running_ = number;
  runningRecords_.reset();
}

void TRunReport::ScriptEnded(const TScriptReport& report) {
  if (report.Number >= 1 && static_cast<size_t>(report.Number) <= scripts_.size()) {
    TScriptReport& entry = scripts_[report.Number - 1];
    entry = report;
    entry.Records = runningRecords_;
  }
  running_ = 0;
  runningRecords_.reset();
}

void TRunReport::Output(const std::string& text, int64_t level) {
  if (level == LevelError) errors_.push_back(text);
  if (running_ == 0) return;
  if (const std::optional<int64_t> total = TotalOf(text)) {
    runningRecords_ = runningRecords_.value_or(0) + *total;
  }
}

void TRunReport::Finish(int exitCode, const std::string& fatalError) {
  exitCode_ = exitCode;
  if (!fatalError.empty()) errors_.push_back(fatalError);
  end_ = std::chrono::system_clock::now();
}

std::string TRunReport::Json() const {
  std::string json = "{\n";
  json += "  \"project\": " + JsonString(project_) + ",\n";
  json += "  \"name\": " + JsonOrNull(name_) + ",\n";
  json += "  \"parameters\": {";
  for (size_t i = 0; i < parameters_.size(); ++i) {
    json += i == 0 ? "\n" : ",\n";
    json += "    " + JsonString(parameters_[i].first) + ": " + JsonString(parameters_[i].second);
  }
  json += parameters_.empty() ? "},\n" : "\n  },\n";
  json += "  \"start\": " + JsonString(IsoTime(start_)) + ",\n";
  json += "  \"end\": " + JsonString(IsoTime(end_)) + ",\n";
  json += "  \"exit_code\": " + std::to_string(exitCode_) + ",\n";
  std::optional<std::string> error;
  for (const std::string& line : errors_) error = error ? *error + "\n" + line : line;
  json += "  \"error\": " + JsonOrNull(error) + ",\n";
  json += "  \"scripts\": [";
  for (size_t i = 0; i < scripts_.size(); ++i) {
    const TScriptReport& script = scripts_[i];
    json += i == 0 ? "\n" : ",\n";
    json += "    {\n";
    json += "      \"number\": " + std::to_string(script.Number) + ",\n";
    json += "      \"name\": " +
            JsonOrNull(script.Name.empty() ? std::nullopt : std::optional(script.Name)) + ",\n";
    json += "      \"outcome\": " + JsonString(std::string(OutcomeName(script.Outcome))) + ",\n";
    json += "      \"error\": " +
            JsonOrNull(script.Outcome == TScriptOutcome::Failed ? std::optional(script.Error)
                                                                : std::nullopt) +
            ",\n";
    json += "      \"source\": " + JsonOrNull(script.Source) + ",\n";
    json += "      \"destination\": " + JsonOrNull(script.Destination) + ",\n";
    json += "      \"records\": " + NumberOrNull(script.Records) + ",\n";
    json += "      \"bytes_written\": " + NumberOrNull(script.BytesWritten) + ",\n";
    json += "      \"duration_seconds\": " + Seconds(script.Seconds) + "\n";
    json += "    }";
  }
  json += scripts_.empty() ? "]\n" : "\n  ]\n";
  return json + "}\n";
}

std::string ReportedParameterValue(const std::string& name, const std::string& value) {
  const std::string lowered = AsciiLower(name);
  for (const std::string_view secret : {"password", "passwd", "pwd", "secret"}) {
    if (lowered.find(secret) != std::string::npos) return std::string(kMasked);
  }
  return MaskConnectionPasswords(value);
}

std::optional<uint64_t> DestinationBytes(const TXSourceInfo& destination,
                                         TStreamRegistry& streams) {
  if (destination.Kind == skStream) {
    TStream* stream = streams.FindStream(destination.Location);
    if (!stream) return std::nullopt;
    return static_cast<uint64_t>(stream->Size());
  }
  if (destination.Kind != skFile || IsStandardOutput(destination.Location)) return std::nullopt;
  struct stat info;
  if (::stat(destination.Location.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
    return std::nullopt;
  }
  return static_cast<uint64_t>(info.st_size);
}

std::string JsonString(const std::string& text) {
  std::string json = "\"";
  for (const char c : SanitizeUtf8(text)) {
    const auto byte = static_cast<unsigned char>(c);
    switch (c) {
      case '"':
        json += "\\\"";
        break;
      case '\\':
        json += "\\\\";
        break;
      case '\n':
        json += "\\n";
        break;
      case '\r':
        json += "\\r";
        break;
      case '\t':
        json += "\\t";
        break;
      default:
        if (byte < 0x20) {
          char escape[8];
          std::snprintf(escape, sizeof escape, "\\u%04x", byte);
          json += escape;
        } else {
          json += c;
        }
    }
  }
  return json + "\"";
}

std::string IsoTime(std::chrono::system_clock::time_point time) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
  std::tm local{};
  localtime_r(&seconds, &local);
  char text[40];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
  const long offset = local.tm_gmtoff;
  const long minutes = (offset < 0 ? -offset : offset) / 60;
  char zone[40];
  std::snprintf(zone, sizeof zone, "%c%02ld:%02ld", offset < 0 ? '-' : '+', minutes / 60,
                minutes % 60);
  return std::string(text) + zone;
}

void WriteReportFile(const std::string& path, const std::string& document) {
  // Missing directories are created, as for the log file.
  const std::filesystem::path parent = std::filesystem::path(path).parent_path();
  std::error_code ignored;
  if (!parent.empty()) std::filesystem::create_directories(parent, ignored);
  TDestinationFile file(path);
  if (!SaveTextToFile(document, file.WritePath(), false)) {
    throw EMorvexError("Cannot write destination file: " + path);
  }
  file.Commit();
}

}  // namespace morvex
