// libFuzzer target: conditions of any bytes must evaluate to true or false
// without crashing, hanging or tripping a sanitizer.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "templates/condition.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  morvex::EvaluateCondition(text);
  return 0;
}
