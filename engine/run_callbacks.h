// The two callbacks through which a project run talks to its caller: every
// line the runner reports goes to the output callback with a message level,
// and parameter values are asked for through the prompt callback. The runner
// never writes to the console itself.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace morvex {

// Message levels. Headlines and errors are always shown; detail lines (0 and
// any value other than -2, -1 and 1) only in verbose mode. An error context
// line names where the error that follows it arose, which a verbose run has
// shown already as a detail line: it is shown (and logged) only without -v;
// -q, which shows only warnings and errors, logs it without showing it.
constexpr int64_t LevelErrorContext = -2;
constexpr int64_t LevelHeadline = -1;
constexpr int64_t LevelDetail = 0;
constexpr int64_t LevelError = 1;

using TOutputCallback = std::function<void(const std::string& text, int64_t level)>;

// Shows `name` with `defaultValue` and returns the answer; an empty answer
// returns `defaultValue`.
using TPromptCallback =
    std::function<std::string(const std::string& name, const std::string& defaultValue)>;

}  // namespace morvex
