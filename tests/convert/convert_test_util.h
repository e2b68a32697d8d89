// Runs conversions between memory streams for the conversion tests.
#pragma once

#include <string>
#include <vector>

#include "convert/conversion_io.h"
#include "text/stream.h"

namespace morvex::testing {

// A source stream holding `bytes`, a destination stream, and the progress
// lines a conversion reports.
struct TConversionRun {
  explicit TConversionRun(std::string bytes, std::string sourceName = "orders")
      : Input(std::move(bytes)) {
    Source.Location = std::move(sourceName);
    Source.Stream = &Input;
    Destination.Location = "out";
    Destination.Stream = &Output;
  }

  ProgressSink Progress() {
    return [this](const std::string& line) { Lines.push_back(line); };
  }
  const std::string& Result() const { return Output.Data(); }

  TMemoryStream Input;
  TMemoryStream Output;
  TConvertEndpoint Source;
  TConvertEndpoint Destination;
  TConvertOptions Options;
  std::vector<std::string> Lines;
  std::string Message;
};

inline constexpr const char* kUtf8Mark = "\xEF\xBB\xBF";

}  // namespace morvex::testing
