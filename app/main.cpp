// Program entry. Until the project runner exists the program prints its banner
// and the usage text and ends with exit code 1 (usage shown).
#include <cstdio>
#include <string>

namespace {

constexpr const char* kProductName = "Morvex";
constexpr const char* kProductVersion = "1.2.20";
constexpr const char* kDescription = "Command-line data-transformation runner";
constexpr const char* kLegalNotice = "Copyright (c) 2026 The Morvex developers";

const char* const kUsage[] = {
    "Syntax:",
    "    morvex.exe <project-file>|<inline-options>|<project-source> [<parameters>]",
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

}  // namespace

int main() {
  std::printf("%s v%s\n%s\n%s\n\n", kProductName, kProductVersion, kDescription, kLegalNotice);
  for (const char* line : kUsage) std::printf("%s\n", line);
  return 1;
}
