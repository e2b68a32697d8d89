// The console/log channel of a run. Every line the program shows goes through
// TConsole (so tests can capture it); messages are also appended to the log
// file when one is open. The console and the log both receive UTF-8; console
// lines end in "\n", log lines in CR LF, and the log has no byte-order mark.
#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>
#include <string_view>

#include "app/command_line.h"

namespace morvex {

// Something drawn on the terminal between console lines (the live progress
// line): every console write runs inside WriteAround, which takes it away
// first, so no console line is ever mixed with it.
class TConsoleOverlay {
 public:
  virtual ~TConsoleOverlay() = default;
  virtual void WriteAround(const std::function<void()>& write) = 0;
};

// Console output and input. The program uses standard output, standard
// input and standard error; tests pass string streams.
class TConsole {
 public:
  TConsole(std::ostream& out, std::istream& in) : TConsole(out, in, out) {}
  TConsole(std::ostream& out, std::istream& in, std::ostream& err)
      : out_(&out), data_(out), err_(err), in_(in) {}

  // Writes `text` as it is (no line break added) and flushes.
  void Write(std::string_view text);

  // Writes `text` as it is to the output stream and flushes, also after
  // UseErrorStream: the run's own data (a picture of the project).
  void WriteData(std::string_view text);

  // Writes `text` as it is to the error stream and flushes.
  void WriteError(std::string_view text);

  // From now on every line goes to the error stream: standard output carries
  // the run's data, or the run is quiet.
  void UseErrorStream() { out_ = &err_; }
  // Whether UseErrorStream was called.
  bool UsesErrorStream() const { return out_ == &err_; }

  // Console writes from now on go through `overlay` (nullptr: directly);
  // it must outlive its use here.
  void SetOverlay(TConsoleOverlay* overlay) { overlay_ = overlay; }

  // Reads one line without its line end (a trailing CR is dropped too).
  // Returns false, with `line` empty, at the end of input.
  bool ReadLine(std::string& line);

 private:
  void WriteTo(std::ostream& stream, std::string_view text);

  std::ostream* out_;
  std::ostream& data_;
  std::ostream& err_;
  std::istream& in_;
  TConsoleOverlay* overlay_ = nullptr;
};

// Opens /dev/null on any of the descriptors 0, 1 and 2 that the process was
// started without, so that no file the program opens later (the log, an
// output) takes the place of standard input or output.
void ReserveStandardDescriptors();

// The handlers a project run reports through. It refers to the run's options
// and console, which must outlive it.
class TConsoleLogHelper {
 public:
  TConsoleLogHelper(RunOptions& options, TConsole& console)
      : options_(options), console_(console) {}

  // When `toConsole`, writes text + "\n" to the console; independently, when
  // a log file is open, appends text + CR LF to it. A log write that fails
  // switches logging off for the rest of the run.
  void WriteMessage(std::string_view text, bool toConsole);

  // Headlines (-1) and errors (1) are always written; any other level only in
  // verbose mode, and otherwise reaches neither the console nor the log. A
  // quiet run shows only errors and warnings (headlines starting with
  // "Warning: "); its other headlines go to the log alone.
  void OutputMessage(const std::string& text, int64_t level);

  // Shows name + " (" + defaultValue + ") : " (or name + " : " without a
  // default; nothing for an empty name), reads one line and returns it, or
  // `defaultValue` for an empty line or the end of input. Not logged.
  std::string PromptParameter(const std::string& name, const std::string& defaultValue);

 private:
  RunOptions& options_;
  TConsole& console_;
};

}  // namespace morvex
