#include "app/console_log.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <istream>
#include <ostream>

#include "engine/run_callbacks.h"
#include "text/step_info.h"

namespace morvex {

void ReserveStandardDescriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // open() returns the lowest free descriptor, which is `fd` itself; it
    // stays open for the life of the process.
    ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
  }
}

namespace {

void WriteAndFlush(std::ostream& stream, std::string_view text) {
  stream.write(text.data(), static_cast<std::streamsize>(text.size()));
  stream.flush();
}

}  // namespace

void TConsole::Write(std::string_view text) { WriteTo(*out_, text); }

void TConsole::WriteData(std::string_view text) { WriteTo(data_, text); }

void TConsole::WriteError(std::string_view text) { WriteTo(err_, text); }

void TConsole::WriteTo(std::ostream& stream, std::string_view text) {
  if (overlay_) {
    overlay_->WriteAround([&] { WriteAndFlush(stream, text); });
  } else {
    WriteAndFlush(stream, text);
  }
}

bool TConsole::ReadLine(std::string& line) {
  line.clear();
  if (!std::getline(in_, line)) {
    line.clear();
    return false;
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return true;
}

void TConsoleLogHelper::WriteMessage(std::string_view text, bool toConsole) {
  if (toConsole) {
    std::string line(text);
    line += '\n';
    console_.Write(line);
  }
  if (!options_.LogStream) return;
  try {
    std::string line(text);
    line += "\r\n";
    TStream& log = *options_.LogStream;
    log.Write(line);
    log.Flush();
  } catch (const std::exception&) {
    options_.LogStream.reset();
    options_.LogDescriptor = -1;
    options_.LogEnabled = false;
  }
}

void TConsoleLogHelper::OutputMessage(const std::string& text, int64_t level) {
  if (level == LevelErrorContext) {
    if (!options_.Verbose) WriteMessage(text, !options_.Quiet);
  } else if (level == LevelError || options_.Verbose) {
    WriteMessage(text, true);
  } else if (level == LevelHeadline) {
    WriteMessage(text, !options_.Quiet || text.starts_with(kWarningPrefix));
  }
}

std::string TConsoleLogHelper::PromptParameter(const std::string& name,
                                               const std::string& defaultValue) {
  if (!name.empty()) {
    console_.Write(defaultValue.empty() ? name + " : " : name + " (" + defaultValue + ") : ");
  }
  std::string answer;
  console_.ReadLine(answer);
  return answer.empty() ? defaultValue : answer;
}

}  // namespace morvex
