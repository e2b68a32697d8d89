// Runs conversions between memory streams for the conversion tests.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "convert/conversion_io.h"
#include "tests/support/raised_message.h"
#include "text/stream.h"

namespace morvex::testing {

// A source stream holding `bytes`, a destination stream, and the progress
// lines a conversion reports.
struct TConversionRun {
  explicit TConversionRun(std::string bytes, std::string sourceName = "orders")
      : Input(std::move(bytes)) {
    Source.Kind = skStream;
    Source.Location = std::move(sourceName);
    Source.Stream = &Input;
    Destination.Kind = skStream;
    Destination.Location = "out";
    Destination.Stream = &Output;
  }

  ProgressSink Progress() {
    return [this](const std::string& line) { Lines.push_back(line); };
  }
  const std::string& Result() const { return Output.Data(); }
  // Runs `conversion`: true, or false with its error's message in Message.
  template <typename Conversion>
  bool Runs(Conversion&& conversion) {
    Message.clear();
    return Succeeds(conversion, Message);
  }

  TMemoryStream Input;
  TMemoryStream Output;
  TXSourceInfo Source;
  TXSourceInfo Destination;
  TXTransformInfo Options;
  std::vector<std::string> Lines;
  std::string Message;
};

inline constexpr const char* kUtf8Mark = "\xEF\xBB\xBF";

// A read stream over a pipe holding `bytes` (at most a pipe's capacity): it
// cannot seek.
inline std::unique_ptr<TFileStream> PipeHolding(const std::string& bytes) {
  int fds[2];
  if (::pipe(fds) != 0) return nullptr;
  EXPECT_EQ(::write(fds[1], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  ::close(fds[1]);
  return std::make_unique<TFileStream>(fds[0], "pipe", true);
}

}  // namespace morvex::testing
