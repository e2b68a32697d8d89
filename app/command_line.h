// The command line: switches, "name=value" parameters and positional
// arguments, the usage text, and the choice and creation of the log file.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "text/stream.h"

namespace morvex {

// The options of one run, filled by ParseCommandLine.
struct RunOptions {
  bool Verbose = false;                    // -v: detail messages are shown
  bool Quiet = false;                      // -q without -v: only warnings and errors
  bool PromptForParameters = false;        // -p: every parameter value is asked for
  bool WaitForKey = false;                 // -w: wait for ENTER before exit
  bool LogEnabled = false;                 // -l: a log file is written
  bool ShowUsage = false;                  // -? / -h / --help, or nothing to run
  bool HelpRequested = false;              // --help: the usage is the run's result (exit 0)
  bool ShowVersion = false;                // --version: only the version line (exit 0)
  bool CheckOnly = false;                  // --check: the project is checked, not run
  std::string GraphFormat;                 // --graph[=FORMAT]: the format drawn; empty: no picture
  std::string ReportPath;                  // --report=FILE, then resolved; "-": standard error
  std::string ReportWarning;               // why the report is not written, if shown
  std::string LogPath;                     // the -l value, then the resolved log path
  std::string ProjectArgument;             // the single positional argument
  std::string BaseDirectory;               // current directory with a trailing "/"
  std::vector<std::string> Parameters;     // "name=value" texts as written
  std::vector<std::string> Positionals;    // every other non-switch argument
  std::unique_ptr<TFileStream> LogStream;  // the open log file, if any
  int LogDescriptor = -1;                  // LogStream's descriptor, while it is open
  std::string LogWarning;                  // why a requested log is not written, if shown
  std::vector<std::string> Warnings;       // about the command line ("Warning: ...")
  std::string Refusal;                     // why the command line is not run, if refused
};

// Classifies argv[1..argc-1] (argv[0] is not examined) and, unless the usage
// is to be shown, sets BaseDirectory and ProjectArgument and creates the log
// file. `currentDirectory` stands in for the process's current directory when
// not empty. A log file that cannot be created switches logging off silently.
//
// Switches start with "-", or with "/" when the argument is exactly two
// characters long (so absolute paths are positional); only the letter after
// the first character counts. "-?" and "-h" stop the scan; a "-w" or "/w"
// anywhere on the command line still makes the run wait. The whole arguments
// "--help" and "--version" stop the scan too and never wait, so scripts and
// package tools can call them. "--check" asks for the project to be checked
// instead of run; the scan goes on. "--graph" asks for a picture of the
// project in DOT instead of a run, "--graph=FORMAT" in FORMAT (dot or
// mermaid); the scan goes on. A lone "-" is a positional argument
// (standard input as a source, standard output as a destination). "-q"
// asks for a quiet run; it is dropped when "-v" is also given. Every other
// switch is ignored with a line in Warnings ("Warning: unknown switch --bogus
// is ignored.", with a suggestion for a misspelt --help, --version or
// --check).
//
// An empty "-l" directly followed by a positional argument, on a command line
// whose positional arguments then form inline options with a project document
// as their first argument or as that one, was almost surely meant as the log
// path: the inline copy would overwrite it or turn the project into data.
// Refusal then reads "-l takes its path attached: -l<argument>" and no log
// file is opened. A graph format other than dot or mermaid is refused with
// "--graph takes dot or mermaid: <argument>", and "--check" together with
// "--graph" with "--check and --graph cannot be combined". "--report=FILE"
// asks for a run report in FILE (resolved against BaseDirectory; "-" is
// standard error); "--report" without a file is refused with "--report takes
// its file attached: --report=FILE". A report file that names a file the run
// reads or an existing symbolic link is never written: ReportPath is cleared
// and ReportWarning says why ("Warning: report file <path> is a source file;
// no report is written.").
RunOptions ParseCommandLine(int argc, const char* const* argv,
                            std::string_view currentDirectory = {});

// True when a non-switch argument is a "name=value" parameter: it holds "=",
// does not start with "<?xml", its name (the text before the first "=") is
// not empty and holds only letters of any script, digits, "_", "$", "-" and
// ".", and it is neither a connection string ("provider=", "data source=",
// "driver=", "dsn=") nor an SQL statement. Everything else is positional.
bool IsParameterArgument(std::string_view argument);

// The log file path for options whose LogEnabled is set and whose
// BaseDirectory, ProjectArgument and LogPath are filled: LogPath resolved
// against BaseDirectory when given; otherwise the project file's last path
// component + ".log" in BaseDirectory, or "morvex.log" there for inline
// options and for project source text.
std::string ChooseLogPath(const RunOptions& options);

// Creates the missing directories of `path` and the file itself, replacing an
// existing one; stores the path in LogPath and the file in LogStream. On any
// failure logging is switched off (LogEnabled false, no LogStream) and
// nothing is reported, except that a path naming a file the run reads (the
// project file, a source, query file, stylesheet, script or expression file,
// a SQLite database: ProjectInputFiles of the project or inline options) or
// an existing symbolic link is never opened (so a mistyped -l or a planted
// link cannot make the run truncate another file): logging is off and
// LogWarning says why ("Warning: log file <path> is a source file; logging is
// off.").
void OpenLogFile(RunOptions& options, const std::string& path);

// The usage text, one line per element.
const std::vector<std::string>& UsageLines();

}  // namespace morvex
