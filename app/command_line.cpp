#include "app/command_line.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <utility>

#include "app/inline_project.h"
#include "engine/paths.h"
#include "engine/project_check.h"
#include "engine/project_graph.h"
#include "engine/project_inputs.h"
#include "engine/project_loader.h"
#include "engine/streams.h"
#include "text/nearest_name.h"
#include "text/parameter_name.h"
#include "text/utf.h"

namespace morvex {

namespace {

constexpr std::string_view kProjectSourceStart = "<?xml";
constexpr std::string_view kInlineLogName = "morvex.log";
constexpr std::string_view kGraphSwitch = "--graph";
constexpr std::string_view kReportSwitch = "--report";

bool IsSwitch(std::string_view argument) {
  if (argument.empty() || argument == kStandardStreamName) return false;
  if (argument.front() == '-') return true;
  // A lone "/" is an ignored switch; longer arguments starting with "/" are
  // absolute paths.
  return argument.front() == '/' && argument.size() <= 2;
}

bool IsWaitSwitch(std::string_view argument) {
  return argument.size() == 2 && (argument[0] == '-' || argument[0] == '/') &&
         (argument[1] == 'w' || argument[1] == 'W');
}

// Connection strings of the supported drivers start with one of these keys,
// or hold one right after a ";".
bool IsConnectionString(std::string_view lowered) {
  for (const std::string_view key : {"data source=", "driver=", "dsn="}) {
    if (lowered.substr(0, key.size()) == key) return true;
    if (lowered.find(";" + std::string(key)) != std::string_view::npos) return true;
  }
  return false;
}

// What the existing file `path` is to the run the options describe ("the
// project file", "a source file", ...), or empty text when the run neither
// reads it nor changes it in place.
std::string RunInputRole(const RunOptions& options, const std::string& path) {
  struct stat info;
  if (::stat(path.c_str(), &info) != 0) return {};
  const std::string project = options.Positionals.size() >= 2
                                  ? BuildInlineProject(options.Positionals)
                                  : options.ProjectArgument;
  for (const TProjectInput& input : ProjectInputFiles(project, options.BaseDirectory)) {
    std::error_code error;
    if (std::filesystem::equivalent(path, input.Path, error) && !error) return input.Role;
  }
  return {};
}

// "Warning: unknown switch <argument> is ignored.", naming the long form a
// misspelt one was meant to be.
std::string UnknownSwitchWarning(std::string_view argument) {
  std::string line = "Warning: unknown switch " + std::string(argument) + " is ignored";
  if (argument.substr(0, 2) == "--") {
    const std::string nearest = NearestName(std::string(argument.substr(2)),
                                            {"help", "version", "check", "graph", "report"});
    if (!nearest.empty()) return line + " (did you mean --" + nearest + "?)";
  }
  return line + ".";
}

// True when `argument` names a file whose document element is <morvex>. Only
// the start of the file is read: the first element follows at most a
// declaration, comments and processing instructions.
bool IsProjectDocument(const std::string& argument, const std::string& baseDirectory) {
  if (IsProjectSource(argument)) return false;
  const std::string path = ResolvePath(baseDirectory, argument);
  if (!FileExists(path)) return false;
  std::string start;
  try {
    TFileStream file(path, TFileStream::Mode::Read);
    start.resize(64 * 1024);
    start.resize(file.Read(start.data(), start.size()));
  } catch (const std::exception&) {
    return false;
  }
  size_t at = 0;
  while ((at = start.find('<', at)) != std::string::npos) {
    const std::string_view rest = std::string_view(start).substr(at + 1);
    const std::string_view end = rest.starts_with('?')     ? "?>"
                                 : rest.starts_with("!--") ? "-->"
                                 : rest.starts_with('!')   ? ">"
                                                           : "";
    if (end.empty()) {
      constexpr std::string_view kRoot = "morvex";
      return rest.starts_with(kRoot) && rest.size() > kRoot.size() &&
             std::string_view(" \t\r\n/>").find(rest[kRoot.size()]) != std::string_view::npos;
    }
    at = start.find(end, at + 1);
  }
  return false;
}

std::string CurrentDirectoryWithSeparator(std::string_view currentDirectory) {
  std::string directory = currentDirectory.empty() ? std::filesystem::current_path().string()
                                                   : std::string(currentDirectory);
  if (directory.empty() || directory.back() != '/') directory += '/';
  return directory;
}

}  // namespace

bool IsParameterArgument(std::string_view argument) {
  const size_t equals = argument.find('=');
  if (equals == std::string_view::npos) return false;
  if (argument.substr(0, kProjectSourceStart.size()) == kProjectSourceStart) return false;
  // The name rule also keeps script text ("JScript:x=1") positional.
  if (!IsParameterName(argument.substr(0, equals))) return false;
  const std::string lowered = AsciiLower(argument);
  for (const std::string_view marker :
       {"provider=", "select ", "update ", "insert into ", "delete from "}) {
    if (lowered.find(marker) != std::string::npos) return false;
  }
  return !IsConnectionString(lowered);
}

namespace {

// What reading the switches keeps beside the options, for the checks after.
struct TSwitchState {
  std::string_view GraphArgument;   // --graph as written, for the refusal of a format nobody knows
  std::string_view ReportArgument;  // --report as written
  // The positional argument right after an empty -l: the log path, if the
  // user put a space after the letter.
  std::string DetachedLogPath;
  bool AfterEmptyLog = false;
};

// Reads one switch into `options`. False when the command line ends here:
// --help, --version and -? / -h ask for text only.
bool ReadSwitch(std::string_view argument, int argc, const char* const* argv, RunOptions& options,
                TSwitchState& state) {
  // The long forms ask for text only: they succeed and never wait.
  if (argument == "--help" || argument == "--version") {
    options.HelpRequested = argument == "--help";
    options.ShowUsage = options.HelpRequested;
    options.ShowVersion = !options.HelpRequested;
    options.WaitForKey = false;
    return false;
  }
  if (argument == "--check") {
    options.CheckOnly = true;
    return true;
  }
  if (argument == kReportSwitch || argument.starts_with(std::string(kReportSwitch) + "=")) {
    state.ReportArgument = argument;
    options.ReportPath = argument.substr(std::min(argument.size(), kReportSwitch.size() + 1));
    return true;
  }
  if (argument == kGraphSwitch || argument.starts_with(std::string(kGraphSwitch) + "=")) {
    state.GraphArgument = argument;
    options.GraphFormat =
        argument == kGraphSwitch ? "dot" : argument.substr(kGraphSwitch.size() + 1);
    return true;
  }
  if (argument.size() < 2) {
    options.Warnings.push_back(UnknownSwitchWarning(argument));
    return true;
  }
  const char letter = AsciiLower(argument.substr(1, 1))[0];
  if (letter == 'v') {
    options.Verbose = true;
  } else if (letter == 'q') {
    options.Quiet = true;
    options.QuietGiven = true;
  } else if (letter == 'p') {
    options.PromptForParameters = true;
  } else if (letter == 'w') {
    options.WaitForKey = true;
  } else if (letter == 'l') {
    options.LogEnabled = true;
    options.LogPath = std::string(argument.substr(2));
    state.AfterEmptyLog = options.LogPath.empty();
  } else if (letter == '?' || letter == 'h') {
    options.ShowUsage = true;
    for (int j = 1; j < argc && !options.WaitForKey; ++j) {
      if (argv[j] && IsWaitSwitch(argv[j])) options.WaitForKey = true;
    }
    return false;
  } else {
    options.Warnings.push_back(UnknownSwitchWarning(argument));
  }
  return true;
}

// The refusal of a --graph or --report written wrongly; empty when none.
std::string LongSwitchRefusal(const RunOptions& options, const TSwitchState& state) {
  if (!state.GraphArgument.empty() && !GraphFormatOf(options.GraphFormat)) {
    return "--graph takes dot or mermaid: " + std::string(state.GraphArgument);
  }
  if (!state.GraphArgument.empty() && options.CheckOnly) {
    return "--check and --graph cannot be combined";
  }
  if (!state.ReportArgument.empty() && options.ReportPath.empty()) {
    return "--report takes its file attached: --report=FILE";
  }
  return {};
}

// Resolves the report path. A report never replaces a file the run reads,
// nor follows a symbolic link: the path is dropped with a warning.
void SettleReportPath(RunOptions& options) {
  if (options.ReportPath.empty() || options.ReportPath == kStandardStreamName) return;
  options.ReportPath = ResolvePath(options.BaseDirectory, options.ReportPath);
  std::string role = RunInputRole(options, options.ReportPath);
  struct stat info;
  if (role.empty() && ::lstat(options.ReportPath.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) {
    role = "a symbolic link";
  }
  if (!role.empty()) {
    options.ReportWarning =
        "Warning: report file " + options.ReportPath + " is " + role + "; no report is written.";
    options.ReportPath.clear();
  }
}

}  // namespace

RunOptions ParseCommandLine(int argc, const char* const* argv, std::string_view currentDirectory) {
  RunOptions options;
  if (argc <= 1) {
    options.ShowUsage = true;
    options.WaitForKey = true;
    return options;
  }
  TSwitchState state;
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i] ? argv[i] : "";
    const bool followsEmptyLog = std::exchange(state.AfterEmptyLog, false);
    if (IsSwitch(argument)) {
      if (!ReadSwitch(argument, argc, argv, options, state)) break;
    } else if (IsParameterArgument(argument)) {
      options.Parameters.emplace_back(argument);
    } else {
      if (followsEmptyLog && state.DetachedLogPath.empty()) state.DetachedLogPath = argument;
      options.Positionals.emplace_back(argument);
    }
  }
  if (options.Verbose) options.Quiet = false;
  if (options.ShowUsage || options.ShowVersion) return options;

  options.BaseDirectory = CurrentDirectoryWithSeparator(currentDirectory);
  if (options.Positionals.empty()) {
    options.ShowUsage = true;
    return options;
  }
  if (options.Positionals.size() == 1) options.ProjectArgument = options.Positionals.front();
  options.Refusal = LongSwitchRefusal(options, state);
  if (!options.Refusal.empty()) return options;
  SettleReportPath(options);
  const std::string& detached = state.DetachedLogPath;
  if (!detached.empty() && options.Positionals.size() >= 2 &&
      (IsProjectDocument(options.Positionals.front(), options.BaseDirectory) ||
       IsProjectDocument(detached, options.BaseDirectory))) {
    options.Refusal = "-l takes its path attached: -l" + detached;
    return options;
  }
  if (options.LogEnabled) OpenLogFile(options, ChooseLogPath(options));
  return options;
}

std::string ChooseLogPath(const RunOptions& options) {
  if (!options.LogPath.empty()) return ResolvePath(options.BaseDirectory, options.LogPath);
  const std::string_view project = options.ProjectArgument;
  // Project source text has no file name to derive the log name from.
  if (project.empty() || project.substr(0, kProjectSourceStart.size()) == kProjectSourceStart) {
    return options.BaseDirectory + std::string(kInlineLogName);
  }
  return ResolvePath(options.BaseDirectory, LastPathComponent(project) + ".log");
}

void OpenLogFile(RunOptions& options, const std::string& path) {
  options.LogStream.reset();
  options.LogDescriptor = -1;
  options.LogPath = path;
  const auto switchOff = [&options](const std::string& warning) {
    options.LogStream.reset();
    options.LogDescriptor = -1;
    options.LogEnabled = false;
    options.LogWarning = warning;
  };
  if (const std::string role = RunInputRole(options, path); !role.empty()) {
    switchOff("Warning: log file " + path + " is " + role + "; logging is off.");
    return;
  }
  try {
    const std::filesystem::path parent = std::filesystem::path(path).parent_path();
    if (!parent.empty()) {
      std::error_code error;
      std::filesystem::create_directories(parent, error);
    }
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd < 0) {
      struct stat info;
      const bool link = ::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
      switchOff(link ? "Warning: log file " + path + " is a symbolic link; logging is off."
                     : std::string());
      return;
    }
    options.LogStream = std::make_unique<TFileStream>(fd, path, true);
    options.LogDescriptor = fd;
  } catch (const std::exception&) {
    switchOff({});
  }
}

const std::vector<std::string>& UsageLines() {
  static const std::vector<std::string> lines{
      "Syntax:",
      "    morvex <project-file>|<inline-options>|<project-source> [<parameters>]",
      "              [-p] [-v] [-l<log-file>] [-w] [-?]",
      "",
      "Description:",
      "    project-file   - Path to the Morvex project file",
      "    inline-options - Simplified definition of one Morvex script to execute",
      "    project-source - Full source of Morvex project",
      "    parameters     - Parameter values, passed as \"parameter=value\" pairs",
      "    -p             - User will be prompted to enter the value of each parameter",
      "    -v             - Verbose mode",
      "    -l             - Log file will be created (use log-file as path if needed)",
      "    -w             - Wait for the keypress after completion",
      "    -?             - Brief help for command-line usage will be displayed",
      "",
      "Detailed description of parameters can be found in Morvex manual.",
  };
  return lines;
}

}  // namespace morvex
