#include "scripting/script_object.h"

#include <charconv>
#include <cmath>

#include "text/error.h"
#include "text/utf.h"

namespace morvex {

std::string ScriptValueText(const TScriptValue& value) {
  struct Visitor {
    std::string operator()(std::monostate) const { return {}; }
    std::string operator()(bool b) const { return b ? "true" : "false"; }
    std::string operator()(int64_t i) const { return std::to_string(i); }
    // The shortest text that reads back as the same number ("0.1", "3").
    std::string operator()(double d) const {
      char buffer[32];
      const auto result = std::to_chars(buffer, buffer + sizeof buffer, d);
      return std::string(buffer, result.ptr);
    }
    std::string operator()(const std::string& s) const { return s; }
    std::string operator()(const TScriptBytes&) const {
      throw EMorvexError("A byte array cannot be used as text.");
    }
    std::string operator()(TScriptObject*) const {
      throw EMorvexError("An object cannot be used as text.");
    }
  };
  return std::visit(Visitor{}, value);
}

std::string ScriptValueBytes(const TScriptValue& value, std::string_view what) {
  if (const auto* bytes = std::get_if<TScriptBytes>(&value)) return bytes->Bytes;
  if (const auto* text = std::get_if<std::string>(&value)) return *text;
  throw EMorvexError(std::string(what) + " must be an array of bytes.");
}

int64_t ScriptValueInteger(const TScriptValue& value, std::string_view what) {
  if (const auto* i = std::get_if<int64_t>(&value)) return *i;
  if (const auto* d = std::get_if<double>(&value)) {
    if (std::isfinite(*d) && std::trunc(*d) == *d && std::fabs(*d) < 9.0e15) {
      return static_cast<int64_t>(*d);
    }
  }
  throw EMorvexError(std::string(what) + " must be a whole number.");
}

const TScriptMember* TScriptObject::FindMember(std::string_view name) const {
  for (const TScriptMember& member : Members()) {
    if (EqualsIgnoringAsciiCase(member.Name, name)) return &member;
  }
  return nullptr;
}

const TScriptMember& TScriptObject::Require(std::string_view name) const {
  const TScriptMember* member = FindMember(name);
  if (!member) {
    throw EMorvexError(std::string(ClassName()) + " has no member named \"" + std::string(name) +
                       "\".");
  }
  return *member;
}

TScriptValue TScriptObject::Get(std::string_view name) {
  const TScriptMember& member = Require(name);
  if (member.IsMethod) {
    throw EMorvexError(std::string(ClassName()) + "." + std::string(member.Name) +
                       " is a method, not a property.");
  }
  return GetProperty(member);
}

void TScriptObject::Set(std::string_view name, const TScriptValue& value) {
  const TScriptMember& member = Require(name);
  if (member.IsMethod || !member.Writable) {
    throw EMorvexError((member.IsMethod ? "Method " : "Property ") + std::string(ClassName()) +
                       "." + std::string(member.Name) + " is read-only.");
  }
  SetProperty(member, value);
}

TScriptValue TScriptObject::Call(std::string_view name, std::span<const TScriptValue> arguments) {
  const TScriptMember& member = Require(name);
  if (!member.IsMethod) {
    throw EMorvexError(std::string(ClassName()) + "." + std::string(member.Name) +
                       " is a property, not a method.");
  }
  return CallMethod(member, arguments);
}

void TScriptObject::SetProperty(const TScriptMember& member, const TScriptValue&) {
  throw EMorvexError("Property " + std::string(ClassName()) + "." + std::string(member.Name) +
                     " is read-only.");
}

TScriptValue TScriptObject::CallMethod(const TScriptMember& member, std::span<const TScriptValue>) {
  throw EMorvexError(std::string(ClassName()) + "." + std::string(member.Name) +
                     " is not a method.");
}

void TScriptObject::RequireArguments(const TScriptMember& member,
                                     std::span<const TScriptValue> arguments, size_t count) const {
  if (arguments.size() != count) {
    throw EMorvexError(std::string(ClassName()) + "." + std::string(member.Name) + " takes " +
                       std::to_string(count) + (count == 1 ? " argument" : " arguments") +
                       ", not " + std::to_string(arguments.size()) + ".");
  }
}

}  // namespace morvex
