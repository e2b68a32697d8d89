// The JavaScript engine over Duktape. Script objects appear as Proxy objects
// whose traps look members up by name (ignoring case); methods are native
// functions bound to their object and member name.
//
// Duktape reports errors with longjmp, which skips C++ destructors: every
// native function does its C++ work in a guarded call that has returned
// (and destroyed its locals) before the error is thrown into the engine.
#include <duktape.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <regex>
#include <vector>

#include "scripting/script_engine.h"
#include "scripting/script_interrupt.h"
#include "scripting/script_object.h"
#include "text/error.h"
#include "text/utf.h"

namespace morvex {

namespace {

// The file name the script is compiled under; error lines are taken from
// the call-stack entries of functions compiled from it.
constexpr const char* kScriptFileName = "script";

// Duktape holds strings in CESU-8: characters beyond U+FFFF are two
// surrogates of three bytes each.
std::string ToCesu8(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (char16_t unit : Utf8ToUtf16(utf8)) {
    if (unit < 0x80) {
      out += static_cast<char>(unit);
    } else if (unit < 0x800) {
      out += static_cast<char>(0xC0 | (unit >> 6));
      out += static_cast<char>(0x80 | (unit & 0x3F));
    } else {
      out += static_cast<char>(0xE0 | (unit >> 12));
      out += static_cast<char>(0x80 | ((unit >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (unit & 0x3F));
    }
  }
  return out;
}

std::string FromCesu8(std::string_view cesu) {
  std::u16string units;
  units.reserve(cesu.size());
  for (size_t i = 0; i < cesu.size();) {
    const auto b = static_cast<unsigned char>(cesu[i]);
    const auto next = [&](size_t k) {
      return i + k < cesu.size() ? static_cast<unsigned char>(cesu[i + k]) & 0x3F : 0;
    };
    if (b < 0x80) {
      units += static_cast<char16_t>(b);
      i += 1;
    } else if ((b & 0xE0) == 0xC0) {
      units += static_cast<char16_t>(((b & 0x1F) << 6) | next(1));
      i += 2;
    } else if ((b & 0xF0) == 0xE0) {
      units += static_cast<char16_t>(((b & 0x0F) << 12) | (next(1) << 6) | next(2));
      i += 3;
    } else if ((b & 0xF8) == 0xF0) {
      const char32_t c = ((b & 0x07) << 18) | (next(1) << 12) | (next(2) << 6) | next(3);
      if (c >= 0x10000 && c <= 0x10FFFF) {
        units += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
        units += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
      } else {
        units += u'\uFFFD';
      }
      i += 4;
    } else {
      units += u'\uFFFD';
      i += 1;
    }
  }
  return Utf16ToUtf8(units);
}

// What the heap's allocator and error hook share with the engine.
struct THeapState {
  explicit THeapState(size_t limit) : Budget(limit) {}
  TMemoryBudget Budget;
  int ThrowLine = 0;  // script line of the latest throw, 0 when unknown
};

THeapState& StateOf(duk_context* ctx) {
  duk_memory_functions functions;
  duk_get_memory_functions(ctx, &functions);
  return *static_cast<THeapState*>(functions.udata);
}

void* Alloc(void* udata, duk_size_t size) {
  return static_cast<THeapState*>(udata)->Budget.Allocate(size);
}
void* Realloc(void* udata, void* block, duk_size_t size) {
  return static_cast<THeapState*>(udata)->Budget.Reallocate(block, size);
}
void Free(void* udata, void* block) { static_cast<THeapState*>(udata)->Budget.Free(block); }

// Duktape calls this when the heap can no longer be used; it must not
// return, so it leaves through an exception that Execute catches.
[[noreturn]] void Fatal(void*, const char* message) {
  throw EMorvexError(std::string("JavaScript engine failure: ") + (message ? message : ""));
}

struct THeapDeleter {
  void operator()(duk_context* ctx) const { duk_destroy_heap(ctx); }
};
using THeapPtr = std::unique_ptr<duk_context, THeapDeleter>;

// Runs `body`; on a C++ exception pushes an Error carrying its message and
// returns false, so that the caller throws it after this frame is gone.
template <class Body>
bool Guarded(duk_context* ctx, Body&& body) {
  try {
    body();
    return true;
  } catch (const std::exception& e) {
    duk_push_error_object(ctx, DUK_ERR_ERROR, "%s", e.what());
    return false;
  }
}

void PushObject(duk_context* ctx, TScriptObject* object);

void PushValue(duk_context* ctx, const TScriptValue& value) {
  struct Visitor {
    duk_context* ctx;
    void operator()(std::monostate) const { duk_push_null(ctx); }
    void operator()(bool b) const { duk_push_boolean(ctx, b); }
    void operator()(int64_t i) const { duk_push_number(ctx, static_cast<double>(i)); }
    void operator()(double d) const { duk_push_number(ctx, d); }
    void operator()(const std::string& s) const {
      const std::string cesu = ToCesu8(s);
      duk_push_lstring(ctx, cesu.data(), cesu.size());
    }
    void operator()(const TScriptBytes& b) const {
      void* data = duk_push_fixed_buffer(ctx, b.Bytes.size());
      if (!b.Bytes.empty()) std::memcpy(data, b.Bytes.data(), b.Bytes.size());
      duk_push_buffer_object(ctx, -1, 0, b.Bytes.size(), DUK_BUFOBJ_UINT8ARRAY);
      duk_remove(ctx, -2);
    }
    void operator()(TScriptObject* o) const { PushObject(ctx, o); }
  };
  std::visit(Visitor{ctx}, value);
}

std::string SafeString(duk_context* ctx, duk_idx_t index) {
  duk_size_t length = 0;
  const char* text = duk_safe_to_lstring(ctx, index, &length);
  return FromCesu8(std::string_view(text, length));
}

// Safe-call body: replaces the value on top of the stack (a safe call runs
// in its caller's stack frame) by what the objects take: an array by a
// buffer of its bytes, any other object but a buffer by its string form.
// Runs script code (toString, getters), so it may throw.
duk_ret_t NormalizeValue(duk_context* ctx, void*) {
  const duk_idx_t value = duk_get_top_index(ctx);
  if (duk_is_symbol(ctx, value)) {
    return duk_type_error(ctx, "A symbol cannot be passed to the MORVEX objects.");
  }
  if (!duk_is_object(ctx, value) || duk_is_buffer_data(ctx, value)) return 1;
  if (!duk_is_array(ctx, value)) {
    duk_to_string(ctx, value);
    return 1;
  }
  const duk_size_t length = duk_get_length(ctx, value);
  auto* bytes = static_cast<uint8_t*>(duk_push_fixed_buffer(ctx, length));
  for (duk_size_t i = 0; i < length; ++i) {
    duk_get_prop_index(ctx, value, static_cast<duk_uarridx_t>(i));
    const double number = duk_is_number(ctx, -1) ? duk_get_number(ctx, -1) : -1;
    duk_pop(ctx);
    if (!(number >= 0 && number <= 255)) {
      return duk_range_error(ctx, "An array of bytes holds only numbers from 0 to 255.");
    }
    bytes[i] = static_cast<uint8_t>(number);
  }
  return 1;
}

// Normalizes the value at `index` in place (see NormalizeValue). False, with
// the thrown value pushed, when the script code it ran threw: a value whose
// conversion fails must fail, never reach the output as an error's text.
// Called before any C++ object lives in the calling frame.
bool Normalize(duk_context* ctx, duk_idx_t index) {
  index = duk_normalize_index(ctx, index);
  duk_dup(ctx, index);
  if (duk_safe_call(ctx, NormalizeValue, nullptr, 1, 1) != DUK_EXEC_SUCCESS) return false;
  duk_replace(ctx, index);
  return true;
}

// A normalized JavaScript value (see Normalize) as a script value.
TScriptValue ValueAt(duk_context* ctx, duk_idx_t index) {
  switch (duk_get_type(ctx, index)) {
    case DUK_TYPE_UNDEFINED:
    case DUK_TYPE_NULL:
    case DUK_TYPE_NONE:
      return {};
    case DUK_TYPE_BOOLEAN:
      return static_cast<bool>(duk_get_boolean(ctx, index));
    case DUK_TYPE_NUMBER:
      return duk_get_number(ctx, index);
    case DUK_TYPE_STRING: {
      duk_size_t length = 0;
      const char* text = duk_get_lstring(ctx, index, &length);
      return FromCesu8(std::string_view(text, length));
    }
    default:
      break;
  }
  if (duk_is_buffer_data(ctx, index)) {
    duk_size_t size = 0;
    const void* data = duk_get_buffer_data(ctx, index, &size);
    if (!data) return TScriptBytes{};
    return TScriptBytes{std::string(static_cast<const char*>(data), size)};
  }
  throw EMorvexError("This value cannot be passed to the MORVEX objects.");
}

TScriptObject* ObjectOf(duk_context* ctx, duk_idx_t index) {
  duk_get_prop_string(ctx, index, DUK_HIDDEN_SYMBOL("object"));
  auto* object = static_cast<TScriptObject*>(duk_get_pointer(ctx, -1));
  duk_pop(ctx);
  return object;
}

// Names a script engine looks up on any object when converting it; absent
// here rather than errors.
bool IsConversionName(std::string_view name) {
  return name == "toString" || name == "valueOf" || name == "toJSON" || name == "constructor" ||
         name == "inspect" || name == "then";
}

duk_ret_t CallMember(duk_context* ctx) {
  const duk_idx_t count = duk_get_top(ctx);
  for (duk_idx_t i = 0; i < count; ++i) {
    if (!Normalize(ctx, i)) return duk_throw(ctx);
  }
  duk_push_current_function(ctx);
  duk_get_prop_string(ctx, -1, DUK_HIDDEN_SYMBOL("object"));
  auto* object = static_cast<TScriptObject*>(duk_get_pointer(ctx, -1));
  duk_get_prop_string(ctx, -2, DUK_HIDDEN_SYMBOL("name"));
  const char* name = duk_get_string(ctx, -1);
  const bool done = Guarded(ctx, [&] {
    std::vector<TScriptValue> arguments;
    for (duk_idx_t i = 0; i < count; ++i) arguments.push_back(ValueAt(ctx, i));
    const TScriptValue result = object->Call(name, arguments);
    PushValue(ctx, result);
  });
  if (!done) return duk_throw(ctx);
  return 1;
}

// get(target, key, receiver)
duk_ret_t TrapGet(duk_context* ctx) {
  if (duk_is_symbol(ctx, 1)) return 0;
  TScriptObject* object = ObjectOf(ctx, 0);
  const char* key = duk_to_string(ctx, 1);
  const bool done = Guarded(ctx, [&] {
    const TScriptMember* member = object->FindMember(key);
    if (!member && IsConversionName(key)) {
      duk_push_undefined(ctx);
    } else if (member && member->IsMethod) {
      duk_push_c_function(ctx, CallMember, DUK_VARARGS);
      duk_push_pointer(ctx, object);
      duk_put_prop_string(ctx, -2, DUK_HIDDEN_SYMBOL("object"));
      duk_push_lstring(ctx, member->Name.data(), member->Name.size());
      duk_put_prop_string(ctx, -2, DUK_HIDDEN_SYMBOL("name"));
    } else {
      PushValue(ctx, object->Get(key));
    }
  });
  if (!done) return duk_throw(ctx);
  return 1;
}

// set(target, key, value, receiver)
duk_ret_t TrapSet(duk_context* ctx) {
  if (!Normalize(ctx, 2)) return duk_throw(ctx);
  TScriptObject* object = ObjectOf(ctx, 0);
  const char* key = duk_is_symbol(ctx, 1) ? "" : duk_to_string(ctx, 1);
  const bool done = Guarded(ctx, [&] { object->Set(key, ValueAt(ctx, 2)); });
  if (!done) return duk_throw(ctx);
  duk_push_true(ctx);
  return 1;
}

// has(target, key)
duk_ret_t TrapHas(duk_context* ctx) {
  TScriptObject* object = ObjectOf(ctx, 0);
  duk_push_boolean(ctx, !duk_is_symbol(ctx, 1) && object->FindMember(duk_to_string(ctx, 1)));
  return 1;
}

void PushObject(duk_context* ctx, TScriptObject* object) {
  duk_push_object(ctx);
  duk_push_pointer(ctx, object);
  duk_put_prop_string(ctx, -2, DUK_HIDDEN_SYMBOL("object"));
  duk_push_global_stash(ctx);
  duk_get_prop_string(ctx, -1, "handler");
  duk_remove(ctx, -2);
  duk_push_proxy(ctx, 0);
}

// Duktape.errThrow: notes the line of the innermost script function on the
// call stack whenever a value is thrown.
duk_ret_t NoteThrowLine(duk_context* ctx) {
  THeapState& state = StateOf(ctx);
  for (duk_int_t level = -1;; --level) {
    duk_inspect_callstack_entry(ctx, level);
    if (duk_is_undefined(ctx, -1)) {
      duk_pop(ctx);
      break;
    }
    duk_get_prop_string(ctx, -1, "function");
    duk_get_prop_string(ctx, -1, "fileName");
    const bool ours =
        duk_is_string(ctx, -1) && std::strcmp(duk_get_string(ctx, -1), kScriptFileName) == 0;
    duk_pop_2(ctx);
    if (ours) {
      duk_get_prop_string(ctx, -1, "lineNumber");
      state.ThrowLine = duk_get_int(ctx, -1);
      duk_pop_2(ctx);
      break;
    }
    duk_pop(ctx);
  }
  duk_dup(ctx, 0);
  return 1;
}

class TJavaScriptEngine final : public TScriptEngine {
 public:
  explicit TJavaScriptEngine(size_t memoryLimit)
      : state_(std::make_unique<THeapState>(memoryLimit)),
        heap_(duk_create_heap(Alloc, Realloc, Free, state_.get(), Fatal)) {
    if (!heap_) throw EMorvexError("The JavaScript engine cannot be started.");
    duk_context* ctx = heap_.get();
    duk_push_global_stash(ctx);
    duk_push_object(ctx);
    duk_push_c_function(ctx, TrapGet, 3);
    duk_put_prop_string(ctx, -2, "get");
    duk_push_c_function(ctx, TrapSet, 4);
    duk_put_prop_string(ctx, -2, "set");
    duk_push_c_function(ctx, TrapHas, 2);
    duk_put_prop_string(ctx, -2, "has");
    duk_put_prop_string(ctx, -2, "handler");
    duk_pop(ctx);
    duk_get_global_string(ctx, "Duktape");
    duk_push_c_function(ctx, NoteThrowLine, 1);
    duk_put_prop_string(ctx, -2, "errThrow");
    duk_pop(ctx);
  }

  ~TJavaScriptEngine() override {
    // A heap that failed fatally is in an undefined state: leave it.
    if (failed_) (void)heap_.release();
  }

  void AddNamedObject(const std::string& name, TScriptObject& object) override {
    duk_context* ctx = heap_.get();
    PushObject(ctx, &object);
    duk_put_global_lstring(ctx, name.data(), name.size());
  }

  void Execute(std::string_view text) override {
    duk_context* ctx = heap_.get();
    const TScriptInterruptGuard interrupts;
    try {
      const std::string source = ToCesu8(text);
      duk_push_lstring(ctx, source.data(), source.size());
      duk_push_string(ctx, kScriptFileName);
      state_->ThrowLine = 0;
      if (duk_pcompile(ctx, 0) != 0) {
        ReportCompileError(ctx);
      } else if (duk_pcall(ctx, 0) != DUK_EXEC_SUCCESS) {
        ReportError({state_->ThrowLine, 0, SafeString(ctx, -1)});
      }
      duk_pop(ctx);
    } catch (const EMorvexError& e) {
      failed_ = true;
      ReportError({0, 0, e.what()});
    }
  }

  std::vector<std::string> GlobalFunctionNames() override {
    duk_context* ctx = heap_.get();
    std::vector<std::string> names;
    duk_push_global_object(ctx);
    duk_enum(ctx, -1, DUK_ENUM_OWN_PROPERTIES_ONLY);
    while (duk_next(ctx, -1, 1)) {
      if (duk_is_function(ctx, -1)) names.push_back(SafeString(ctx, -2));
      duk_pop_2(ctx);
    }
    duk_pop_2(ctx);
    return names;
  }

  TScriptValue CallFunction(const std::string& name,
                            const std::vector<TScriptValue>& arguments) override {
    duk_context* ctx = heap_.get();
    const duk_idx_t base = duk_get_top(ctx);
    const std::string cesuName = ToCesu8(name);
    duk_get_global_lstring(ctx, cesuName.data(), cesuName.size());
    for (const TScriptValue& argument : arguments) PushValue(ctx, argument);
    const bool ok = duk_pcall(ctx, static_cast<duk_idx_t>(arguments.size())) == DUK_EXEC_SUCCESS &&
                    Normalize(ctx, -1);
    TScriptValue result;
    bool failed = false;
    std::string error;
    try {
      if (ok) {
        result = ValueAt(ctx, -1);
      } else {
        error = SafeString(ctx, -1);
        failed = true;
      }
    } catch (const std::exception& e) {
      error = e.what();
      failed = true;
    }
    duk_set_top(ctx, base);
    if (failed) throw EMorvexError(error);
    return result;
  }

 private:
  // Compile errors end in " (line N)"; the line moves into the error's
  // position.
  void ReportCompileError(duk_context* ctx) {
    std::string message = SafeString(ctx, -1);
    static const std::regex kLine(R"( \(line (\d+)(?:, [^)]*)?\)$)");
    std::smatch match;
    int line = 0;
    if (std::regex_search(message, match, kLine)) {
      line = std::stoi(match[1].str());
      message.erase(static_cast<size_t>(match.position(0)));
    }
    ReportError({line, 0, message});
  }

  std::unique_ptr<THeapState> state_;
  THeapPtr heap_;
  bool failed_ = false;
};

}  // namespace

std::unique_ptr<TScriptEngine> CreateJavaScriptEngine(size_t memoryLimit) {
  return std::make_unique<TJavaScriptEngine>(memoryLimit);
}

}  // namespace morvex
