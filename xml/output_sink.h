// A libxml2 output callback that writes onto one of the system's streams.
// An exception raised by the stream is kept, so that the caller can raise
// it again once libxml2 has returned (it must not unwind through C frames).
#pragma once

#include <exception>

#include "text/stream.h"

namespace morvex::detail {

struct TOutputSink {
  TStream* Stream;
  std::exception_ptr Error;
};

// The xmlOutputWriteCallback for a TOutputSink context: all bytes or -1.
inline int WriteToSink(void* context, const char* buffer, int length) {
  auto* sink = static_cast<TOutputSink*>(context);
  try {
    sink->Stream->Write(buffer, static_cast<size_t>(length));
    return length;
  } catch (...) {
    sink->Error = std::current_exception();
    return -1;
  }
}

}  // namespace morvex::detail
