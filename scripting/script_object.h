// The base of every object a script reaches: a fixed table of published
// members (properties and methods) found by name without regard to letter
// case, the way scripts have always addressed these objects
// ("MORVEX.source.text" works). Engines see only this interface.
#pragma once

#include <span>
#include <string_view>

#include "scripting/script_value.h"

namespace morvex {

struct TScriptMember {
  std::string_view Name;  // the published spelling
  bool IsMethod = false;
  bool Writable = false;  // properties only
};

class TScriptObject {
 public:
  virtual ~TScriptObject() = default;

  // The class name that error texts show ("TMorvexSource").
  virtual std::string_view ClassName() const = 0;
  // Every published member.
  virtual std::span<const TScriptMember> Members() const = 0;

  // The member named `name` ignoring ASCII letter case; null when none.
  const TScriptMember* FindMember(std::string_view name) const;

  // Reads a property. Raises EMorvexError for an unknown name or a method.
  TScriptValue Get(std::string_view name);
  // Assigns a property. Raises EMorvexError for an unknown name, a method or
  // a read-only property ("Property TMorvexSource.Text is read-only.").
  void Set(std::string_view name, const TScriptValue& value);
  // Calls a method. Raises EMorvexError for an unknown name or a property,
  // and whatever the method raises.
  TScriptValue Call(std::string_view name, std::span<const TScriptValue> arguments);

 protected:
  // `member` is one of Members(), already checked for its form.
  virtual TScriptValue GetProperty(const TScriptMember& member) = 0;
  virtual void SetProperty(const TScriptMember& member, const TScriptValue& value);
  virtual TScriptValue CallMethod(const TScriptMember& member,
                                  std::span<const TScriptValue> arguments);

  // Raises EMorvexError unless exactly `count` arguments were passed.
  void RequireArguments(const TScriptMember& member, std::span<const TScriptValue> arguments,
                        size_t count) const;

 private:
  const TScriptMember& Require(std::string_view name) const;
};

}  // namespace morvex
