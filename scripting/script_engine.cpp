#include "scripting/script_engine.h"

#include <cstdlib>
#include <cstring>

#include "text/error.h"
#include "text/utf.h"

namespace morvex {

namespace {

// Keeps the block's size; 16 bytes keep the payload aligned for any type.
constexpr size_t kHeader = 16;

size_t& SizeOf(void* block) {
  return *reinterpret_cast<size_t*>(static_cast<char*>(block) - kHeader);
}

}  // namespace

void* TMemoryBudget::Allocate(size_t size) {
  if (size > limit_ - used_ || size > SIZE_MAX - kHeader) return nullptr;
  char* raw = static_cast<char*>(std::malloc(size + kHeader));
  if (!raw) return nullptr;
  used_ += size;
  void* block = raw + kHeader;
  SizeOf(block) = size;
  return block;
}

void* TMemoryBudget::Reallocate(void* block, size_t size) {
  if (!block) return size == 0 ? nullptr : Allocate(size);
  if (size == 0) {
    Free(block);
    return nullptr;
  }
  const size_t old = SizeOf(block);
  if (size > old && (size - old > limit_ - used_ || size > SIZE_MAX - kHeader)) return nullptr;
  char* raw = static_cast<char*>(std::realloc(static_cast<char*>(block) - kHeader, size + kHeader));
  if (!raw) return nullptr;
  used_ = used_ - old + size;
  void* moved = raw + kHeader;
  SizeOf(moved) = size;
  return moved;
}

void TMemoryBudget::Free(void* block) {
  if (!block) return;
  used_ -= SizeOf(block);
  std::free(static_cast<char*>(block) - kHeader);
}

bool ScriptLanguageAvailable(const TScriptLanguage& language) {
  return language.Engine != TScriptEngineKind::Python || PythonAvailable();
}

const TScriptLanguage* FindScriptLanguage(std::string_view language) {
  for (const TScriptLanguage& known : kScriptLanguages) {
    if (EqualsIgnoringAsciiCase(language, known.Name) && ScriptLanguageAvailable(known)) {
      return &known;
    }
  }
  return nullptr;
}

std::string ScriptLanguageList() {
  std::string list;
  for (const TScriptLanguage& language : kScriptLanguages) {
    if (!ScriptLanguageAvailable(language)) continue;
    if (!list.empty()) list += ", ";
    list += language.Name;
  }
  return list;
}

std::unique_ptr<TScriptEngine> CreateScriptEngine(std::string_view language, size_t memoryLimit) {
  const TScriptLanguage* known = FindScriptLanguage(language);
  if (!known) {
    throw EMorvexError("The script language \"" + std::string(language) +
                       "\" is not available; available languages: " + ScriptLanguageList() + ".");
  }
  switch (known->Engine) {
    case TScriptEngineKind::JavaScript:
      return CreateJavaScriptEngine(memoryLimit);
    case TScriptEngineKind::Lua:
      return CreateLuaEngine(memoryLimit);
    case TScriptEngineKind::Python:
      break;
  }
  return CreatePythonEngine();
}

}  // namespace morvex
