// The one error type of the system: every failure that is not a result value
// is raised as EMorvexError carrying the message a user reads. The front end
// prints "Fatal error: EMorvexError: <message>" for one that escapes the runner.
#pragma once

#include <stdexcept>
#include <string>

namespace morvex {

class EMorvexError : public std::runtime_error {
 public:
  explicit EMorvexError(const std::string& message) : std::runtime_error(message) {}

  // The type name shown after "Fatal error: ".
  virtual const char* TypeName() const noexcept { return "EMorvexError"; }
};

}  // namespace morvex
