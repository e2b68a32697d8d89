// The values that cross between a script engine and the script objects:
// null, a Boolean, an integer, a number, a text (UTF-8), a byte array or a
// script object. Each engine adapter converts its own values to and from
// this one type, so the object model is written once for every engine.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

namespace morvex {

class TScriptObject;

// A byte array (the `Value` of sources and destinations, stream reads).
struct TScriptBytes {
  std::string Bytes;
  friend bool operator==(const TScriptBytes&, const TScriptBytes&) = default;
};

// std::monostate is null. An object pointer never owns: every object a
// script can reach lives as long as the root object of the run.
using TScriptValue =
    std::variant<std::monostate, bool, int64_t, double, std::string, TScriptBytes, TScriptObject*>;

inline bool IsNull(const TScriptValue& value) {
  return std::holds_alternative<std::monostate>(value);
}

// The value as a text: a text as it is, numbers and Booleans in their usual
// form, null as empty text. Raises EMorvexError for bytes and objects.
std::string ScriptValueText(const TScriptValue& value);

// The value as bytes: a byte array as it is, a text as its UTF-8 bytes.
// Raises EMorvexError with "<what> must be an array of bytes." otherwise.
std::string ScriptValueBytes(const TScriptValue& value, std::string_view what);

// The value as a whole number: integers, and numbers without a fraction.
// Raises EMorvexError with "<what> must be a whole number." otherwise.
int64_t ScriptValueInteger(const TScriptValue& value, std::string_view what);

}  // namespace morvex
