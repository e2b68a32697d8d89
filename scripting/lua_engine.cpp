// The Lua 5.4 engine. Script objects are full userdata whose metatable looks
// members up by name (ignoring case); methods are closures bound to their
// object and member name and may be called with "." or ":".
//
// The library is the build of Lua compiled as C++, so a Lua error unwinds
// C++ frames properly; our own exceptions are still turned into Lua errors
// before they reach Lua's frames.
#include <lua.hpp>

#include <memory>
#include <regex>
#include <vector>

#include "scripting/script_engine.h"
#include "scripting/script_interrupt.h"
#include "scripting/script_object.h"
#include "text/error.h"

namespace morvex {

namespace {

constexpr const char* kChunkName = "=script";
constexpr const char* kSourceName = "script";
constexpr const char* kObjectMeta = "morvex.object";

struct TLuaState {
  explicit TLuaState(size_t limit) : Budget(limit) {}
  TMemoryBudget Budget;
  int ErrorLine = 0;  // script line of the latest error, 0 when unknown
};

void* Allocate(void* udata, void* block, size_t, size_t size) {
  auto& budget = static_cast<TLuaState*>(udata)->Budget;
  if (size == 0) {
    budget.Free(block);
    return nullptr;
  }
  return budget.Reallocate(block, size);
}

struct TLuaDeleter {
  void operator()(lua_State* L) const { lua_close(L); }
};

TScriptObject* CheckedObject(lua_State* L, int index) {
  auto** slot = static_cast<TScriptObject**>(luaL_testudata(L, index, kObjectMeta));
  return slot ? *slot : nullptr;
}

void PushObject(lua_State* L, TScriptObject* object) {
  auto** slot = static_cast<TScriptObject**>(lua_newuserdatauv(L, sizeof(TScriptObject*), 0));
  *slot = object;
  luaL_setmetatable(L, kObjectMeta);
}

void PushValue(lua_State* L, const TScriptValue& value) {
  struct Visitor {
    lua_State* L;
    void operator()(std::monostate) const { lua_pushnil(L); }
    void operator()(bool b) const { lua_pushboolean(L, b); }
    void operator()(int64_t i) const { lua_pushinteger(L, i); }
    void operator()(double d) const { lua_pushnumber(L, d); }
    void operator()(const std::string& s) const { lua_pushlstring(L, s.data(), s.size()); }
    void operator()(const TScriptBytes& b) const {
      lua_pushlstring(L, b.Bytes.data(), b.Bytes.size());
    }
    void operator()(TScriptObject* o) const { PushObject(L, o); }
  };
  std::visit(Visitor{L}, value);
}

// A Lua value as a script value: strings are texts (and serve as bytes), a
// table is an array of bytes.
TScriptValue ValueAt(lua_State* L, int index) {
  switch (lua_type(L, index)) {
    case LUA_TNIL:
    case LUA_TNONE:
      return {};
    case LUA_TBOOLEAN:
      return static_cast<bool>(lua_toboolean(L, index));
    case LUA_TNUMBER:
      if (lua_isinteger(L, index)) return static_cast<int64_t>(lua_tointeger(L, index));
      return static_cast<double>(lua_tonumber(L, index));
    case LUA_TSTRING: {
      size_t length = 0;
      const char* text = lua_tolstring(L, index, &length);
      return std::string(text, length);
    }
    case LUA_TTABLE: {
      TScriptBytes bytes;
      const lua_Integer length = luaL_len(L, index);
      for (lua_Integer i = 1; i <= length; ++i) {
        lua_geti(L, index, i);
        const lua_Integer byte = lua_isinteger(L, -1) ? lua_tointeger(L, -1) : -1;
        lua_pop(L, 1);
        if (byte < 0 || byte > 255) {
          throw EMorvexError("An array of bytes holds only numbers from 0 to 255.");
        }
        bytes.Bytes += static_cast<char>(byte);
      }
      return bytes;
    }
    default:
      if (TScriptObject* object = CheckedObject(L, index)) return object;
      throw EMorvexError(std::string("A ") + luaL_typename(L, index) +
                         " value cannot be passed to the MORVEX objects.");
  }
}

// Runs `body`; turns a C++ exception into a Lua error raised from this
// frame after `body` and its locals are gone.
template <class Body>
int Guarded(lua_State* L, Body&& body) {
  int results = 0;
  bool failed = false;
  try {
    results = body();
  } catch (const std::exception& e) {
    lua_pushstring(L, e.what());
    failed = true;
  }
  if (failed) return lua_error(L);
  return results;
}

int CallMember(lua_State* L) {
  auto* object = static_cast<TScriptObject*>(lua_touserdata(L, lua_upvalueindex(1)));
  const char* name = lua_tostring(L, lua_upvalueindex(2));
  return Guarded(L, [&] {
    const int count = lua_gettop(L);
    // MORVEX:ParamCount() passes the object itself first.
    const int first = count >= 1 && CheckedObject(L, 1) == object ? 2 : 1;
    std::vector<TScriptValue> arguments;
    for (int i = first; i <= count; ++i) arguments.push_back(ValueAt(L, i));
    PushValue(L, object->Call(name, arguments));
    return 1;
  });
}

// __index(object, key)
int Index(lua_State* L) {
  TScriptObject* object = CheckedObject(L, 1);
  const char* key = lua_tostring(L, 2);
  return Guarded(L, [&] {
    if (!key) throw EMorvexError(std::string(object->ClassName()) + " has no such member.");
    const TScriptMember* member = object->FindMember(key);
    if (member && member->IsMethod) {
      lua_pushlightuserdata(L, object);
      lua_pushlstring(L, member->Name.data(), member->Name.size());
      lua_pushcclosure(L, CallMember, 2);
    } else {
      PushValue(L, object->Get(key));
    }
    return 1;
  });
}

// __newindex(object, key, value)
int NewIndex(lua_State* L) {
  TScriptObject* object = CheckedObject(L, 1);
  const char* key = lua_tostring(L, 2);
  return Guarded(L, [&] {
    object->Set(key ? key : "", ValueAt(L, 3));
    return 0;
  });
}

int ToString(lua_State* L) {
  TScriptObject* object = CheckedObject(L, 1);
  lua_pushlstring(L, object->ClassName().data(), object->ClassName().size());
  return 1;
}

// os.exit would end the whole run from inside a step: the step's temporary
// output file would stay behind and the exit code would be the script's.
int RefuseExit(lua_State* L) {
  return luaL_error(L, "os.exit cannot end the run; a script fails its step with error()");
}

// The message handler of the protected call: notes the line of the
// innermost script function on the stack.
int NoteErrorLine(lua_State* L) {
  auto* state = static_cast<TLuaState*>(lua_touserdata(L, lua_upvalueindex(1)));
  lua_Debug ar;
  for (int level = 1; lua_getstack(L, level, &ar); ++level) {
    lua_getinfo(L, "Sl", &ar);
    if (ar.currentline > 0 && std::string_view(ar.source) == kChunkName) {
      state->ErrorLine = ar.currentline;
      break;
    }
  }
  return 1;
}

// Protected-call body: the value at index 1 as text through its __tostring.
int TextThroughToString(lua_State* L) {
  luaL_tolstring(L, 1, nullptr);
  return 1;
}

// The error value on top of the stack as a description; "script:N: " in
// front of a message moves into the error's line. An error object's
// __tostring is script code that may fail in turn: it runs under a
// protected call, since a Lua error outside one ends the process.
TScriptError DescribeError(lua_State* L, int knownLine) {
  TScriptError error{knownLine, 0, {}};
  const int value = lua_gettop(L);
  const std::string kind = std::string("(error object is a ") + luaL_typename(L, value) + " value";
  if (lua_type(L, value) == LUA_TSTRING) {
    error.Description = lua_tostring(L, value);
  } else if (lua_checkstack(L, 3) && luaL_getmetafield(L, value, "__tostring") != LUA_TNIL) {
    lua_pop(L, 1);
    lua_pushcfunction(L, TextThroughToString);
    lua_pushvalue(L, value);
    if (lua_pcall(L, 1, 1, 0) == LUA_OK) {
      error.Description = lua_tostring(L, -1);
    } else {
      error.Description = kind + "; its __tostring failed";
      if (lua_type(L, -1) == LUA_TSTRING)
        error.Description += std::string(": ") + lua_tostring(L, -1);
      error.Description += ")";
    }
    lua_settop(L, value);
  } else {
    error.Description = kind + ")";
  }
  static const std::regex kPosition(std::string("^") + kSourceName + R"(:(\d+): )");
  std::smatch match;
  if (std::regex_search(error.Description, match, kPosition)) {
    error.Line = std::stoi(match[1].str());
    error.Description.erase(0, static_cast<size_t>(match.length(0)));
  }
  return error;
}

// A call of a global function from the host, with its result converted.
struct TGlobalCall {
  const std::string& Name;
  const std::vector<TScriptValue>& Arguments;
  TScriptValue Result;
};

// Protected-call body of TLuaEngine::CallFunction: every step (finding the
// function, pushing the arguments, the call, reading the result through
// metamethods) may raise a Lua error.
int CallGlobal(lua_State* L) {
  auto* call = static_cast<TGlobalCall*>(lua_touserdata(L, 1));
  lua_getglobal(L, call->Name.c_str());
  for (const TScriptValue& argument : call->Arguments) PushValue(L, argument);
  lua_call(L, static_cast<int>(call->Arguments.size()), 1);
  return Guarded(L, [&] {
    call->Result = ValueAt(L, -1);
    return 0;
  });
}

class TLuaEngine final : public TScriptEngine {
 public:
  explicit TLuaEngine(size_t memoryLimit)
      : state_(std::make_unique<TLuaState>(memoryLimit)),
        lua_(lua_newstate(Allocate, state_.get())) {
    if (!lua_) throw EMorvexError("The Lua engine cannot be started.");
    lua_State* L = lua_.get();
    luaL_openlibs(L);
    lua_getglobal(L, "os");
    lua_pushcfunction(L, RefuseExit);
    lua_setfield(L, -2, "exit");
    lua_pop(L, 1);
    luaL_newmetatable(L, kObjectMeta);
    const luaL_Reg methods[] = {
        {"__index", Index}, {"__newindex", NewIndex}, {"__tostring", ToString}, {nullptr, nullptr}};
    luaL_setfuncs(L, methods, 0);
    lua_pop(L, 1);
  }

  void AddNamedObject(const std::string& name, TScriptObject& object) override {
    PushObject(lua_.get(), &object);
    lua_setglobal(lua_.get(), name.c_str());
  }

  void Execute(std::string_view text) override {
    lua_State* L = lua_.get();
    const TScriptInterruptGuard interrupts;
    const int base = lua_gettop(L);
    lua_pushlightuserdata(L, state_.get());
    lua_pushcclosure(L, NoteErrorLine, 1);
    state_->ErrorLine = 0;
    if (luaL_loadbufferx(L, text.data(), text.size(), kChunkName, "t") != LUA_OK) {
      ReportError(DescribeError(L, 0));
    } else if (lua_pcall(L, 0, 0, base + 1) != LUA_OK) {
      ReportError(DescribeError(L, state_->ErrorLine));
    }
    lua_settop(L, base);
  }

  std::vector<std::string> GlobalFunctionNames() override {
    lua_State* L = lua_.get();
    std::vector<std::string> names;
    lua_pushglobaltable(L);
    lua_pushnil(L);
    while (lua_next(L, -2)) {
      if (lua_type(L, -2) == LUA_TSTRING && lua_type(L, -1) == LUA_TFUNCTION) {
        names.emplace_back(lua_tostring(L, -2));
      }
      lua_pop(L, 1);
    }
    lua_pop(L, 1);
    return names;
  }

  TScriptValue CallFunction(const std::string& name,
                            const std::vector<TScriptValue>& arguments) override {
    lua_State* L = lua_.get();
    const int base = lua_gettop(L);
    TGlobalCall call{name, arguments, {}};
    lua_pushcfunction(L, CallGlobal);
    lua_pushlightuserdata(L, &call);
    std::string error;
    const bool failed = lua_pcall(L, 1, 0, 0) != LUA_OK;
    if (failed) error = DescribeError(L, 0).Description;
    lua_settop(L, base);
    if (failed) throw EMorvexError(error);
    return std::move(call.Result);
  }

 private:
  std::unique_ptr<TLuaState> state_;
  std::unique_ptr<lua_State, TLuaDeleter> lua_;
};

}  // namespace

std::unique_ptr<TScriptEngine> CreateLuaEngine(size_t memoryLimit) {
  return std::make_unique<TLuaEngine>(memoryLimit);
}

}  // namespace morvex
