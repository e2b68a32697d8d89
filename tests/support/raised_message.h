// Runs an operation that raises on failure, for tests that check both its
// success and its message.
#pragma once

#include <exception>
#include <string>

namespace morvex::testing {

// Runs `operation`: true when it returns (leaving `message` as it was), false
// with the raised error's message in `message` when it raises.
template <typename Operation>
bool Succeeds(Operation&& operation, std::string& message) {
  try {
    operation();
    return true;
  } catch (const std::exception& error) {
    message = error.what();
    return false;
  }
}

}  // namespace morvex::testing
