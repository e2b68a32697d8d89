// One small interface over the script engines: created by language name,
// given named objects, run over a script text; syntax and run-time errors
// come back through OnError with the line and column the engine reports
// (0 when it reports none).
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "scripting/script_value.h"

namespace morvex {

class TScriptObject;

struct TScriptError {
  int Line = 0;
  int Column = 0;
  std::string Description;
};

class TScriptEngine {
 public:
  using ErrorHandler = std::function<void(const TScriptError&)>;

  virtual ~TScriptEngine() = default;

  // Makes `object` visible to scripts as the global `name`. The object must
  // outlive the engine.
  virtual void AddNamedObject(const std::string& name, TScriptObject& object) = 0;

  // Compiles and runs `text`. Errors are reported through the handler, never
  // raised; an error ends the run.
  virtual void Execute(std::string_view text) = 0;

  void SetErrorHandler(ErrorHandler handler) { onError_ = std::move(handler); }

  // The names of the functions the scripts run so far defined at top level.
  virtual std::vector<std::string> GlobalFunctionNames() = 0;

  // Calls the global function `name`. Raises EMorvexError with the error's
  // description when the call fails.
  virtual TScriptValue CallFunction(const std::string& name,
                                    const std::vector<TScriptValue>& arguments) = 0;

 protected:
  void ReportError(const TScriptError& error) {
    if (onError_) onError_(error);
  }

 private:
  ErrorHandler onError_;
};

// The memory one engine may allocate before its allocations fail (which
// the script sees as an out-of-memory error).
inline constexpr size_t kDefaultScriptMemoryLimit = size_t{512} << 20;

// The script languages this program has an engine for, as a `kind` names
// them, with the engine that runs each and the extension of its script files
// (without the dot; empty when the inline options take none for it).
enum class TScriptEngineKind : uint8_t { JavaScript, Lua, Python };
struct TScriptLanguage {
  std::string_view Name;
  TScriptEngineKind Engine;  // Duktape, Lua 5.4 or the embedded CPython
  std::string_view Extension;
};
inline constexpr TScriptLanguage kScriptLanguages[] = {
    {"JScript", TScriptEngineKind::JavaScript, "js"},
    {"JavaScript", TScriptEngineKind::JavaScript, ""},
    {"ECMAScript", TScriptEngineKind::JavaScript, ""},
    {"LuaScript", TScriptEngineKind::Lua, "lua"},
    {"PythonScript", TScriptEngineKind::Python, "pys"},
};

// False for PythonScript in a build without the Python runtime.
bool ScriptLanguageAvailable(const TScriptLanguage& language);

// The available language of kScriptLanguages named `language`, ASCII letter
// case ignored; null for any other name.
const TScriptLanguage* FindScriptLanguage(std::string_view language);

// The names of the available kScriptLanguages joined by ", ": "JScript,
// JavaScript, ECMAScript, LuaScript, PythonScript".
std::string ScriptLanguageList();

// The engine of a language of kScriptLanguages, letter case ignored. Raises
// EMorvexError naming the language and the available ones for any other
// name.
std::unique_ptr<TScriptEngine> CreateScriptEngine(std::string_view language,
                                                  size_t memoryLimit = kDefaultScriptMemoryLimit);

// Engine factories; CreateScriptEngine picks one of them.
std::unique_ptr<TScriptEngine> CreateJavaScriptEngine(size_t memoryLimit);
std::unique_ptr<TScriptEngine> CreateLuaEngine(size_t memoryLimit);
// Python allocates through its own allocator, outside the memory budget.
// Raises EMorvexError when the build has no Python or its runtime cannot
// start.
std::unique_ptr<TScriptEngine> CreatePythonEngine();
// False in a build without the Python runtime.
bool PythonAvailable();

// An allocation budget shared by the engines' allocators: every block keeps
// its size in a header so that frees and reallocations give the budget back.
class TMemoryBudget {
 public:
  explicit TMemoryBudget(size_t limit) : limit_(limit) {}
  // Null when the budget would be exceeded or the system has no memory.
  void* Allocate(size_t size);
  // `block` may be null (allocates); `size` 0 frees and gives null.
  void* Reallocate(void* block, size_t size);
  void Free(void* block);

 private:
  size_t limit_;
  size_t used_ = 0;
};

}  // namespace morvex
