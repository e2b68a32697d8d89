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

std::unique_ptr<TScriptEngine> CreateScriptEngine(std::string_view language, size_t memoryLimit) {
  for (const char* name : {"JScript", "JavaScript", "ECMAScript"}) {
    if (EqualsIgnoringAsciiCase(language, name)) return CreateJavaScriptEngine(memoryLimit);
  }
  if (EqualsIgnoringAsciiCase(language, "LuaScript")) return CreateLuaEngine(memoryLimit);
  if (PythonAvailable() && EqualsIgnoringAsciiCase(language, "PythonScript")) {
    return CreatePythonEngine();
  }
  throw EMorvexError("The script language \"" + std::string(language) +
                     "\" is not available; available languages: JScript, JavaScript, "
                     "ECMAScript, LuaScript" +
                     std::string(PythonAvailable() ? ", PythonScript." : "."));
}

}  // namespace morvex
