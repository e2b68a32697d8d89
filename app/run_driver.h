// The run driver: the program from banner to exit code.
#pragma once

#include <string_view>

namespace morvex {

class TConsole;

// Exit codes of the program.
constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;     // usage shown (-?, nothing to run) or project failed
constexpr int kExitFatalError = 2;  // an error escaped the run

// Prints the banner, parses the command line, shows the usage or runs the
// project (with "--check", checks it instead: one line per problem, a summary line, exit 0
// when it is clean and 1 otherwise) (or, for "--version", prints only the version line and
// succeeds;
// "--help" shows the usage and succeeds), reports an escaping error as "Fatal error: <type>:
// <message>", waits for ENTER when asked (-w; the end of input does not block) and releases the log
// file. Returns the exit code. `currentDirectory` stands in for the process's current directory
// when not empty.
int RunMorvex(int argc, const char* const* argv, TConsole& console,
              std::string_view currentDirectory = {});

}  // namespace morvex
