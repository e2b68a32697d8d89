#include "scripting/interpreter_bridge.h"

#include <dlfcn.h>
#include <unistd.h>

#include <deque>
#include <filesystem>

#include "scripting/library_search.h"
#include "scripting/morvex_interpreter.h"
#include "scripting/shared_library_file.h"
#include "text/error.h"
#include "text/utf.h"

namespace morvex {

namespace {

constexpr int32_t kNotFound = -4;
constexpr std::string_view kEntryPoints[] = {"zqScriptInlineEx", "zqScriptInlineExLib",
                                             "zqsFreeMem"};

// The one interpreter library of the process; never unloaded.
struct TInterpreterLibrary {
  void* Handle = nullptr;
  // A library was found that lacks an entry point: it was never loaded (its
  // code never ran), and it stands for the interpreter as a loaded one
  // would, so that no other library is tried after it.
  bool Refused = false;
  zqScriptInlineEx_fn InlineEx = nullptr;
  zqScriptInlineExLib_fn InlineExLib = nullptr;
  zqsFreeMem_fn FreeMem = nullptr;
  std::string TestDirectory;

  bool Complete() const { return Handle && InlineEx && InlineExLib && FreeMem; }
};

TInterpreterLibrary& Library() {
  static TInterpreterLibrary library;
  return library;
}

std::string ProgramDirectory() {
  std::error_code error;
  const auto program = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::string() : program.parent_path().string();
}

// Loads `fileName` when no library is loaded yet: the usual search first
// (see FindLibraryFiles), then the test directory and the program's own
// directory. The first file this process could load is the library; it is
// inspected before it is loaded, and refused unloaded when it lacks an entry
// point. A failed load leaves the handle empty, to be tried again on the
// next call.
void Load(const char* fileName) {
  TInterpreterLibrary& library = Library();
  if (library.Handle || library.Refused) return;
  for (const std::string& path :
       FindLibraryFiles(fileName, {library.TestDirectory, ProgramDirectory()})) {
    switch (InspectSharedLibrary(path, kEntryPoints)) {
      case TSharedLibraryFit::NotLoadable:
        continue;
      case TSharedLibraryFit::LacksFunctions:
        library.Refused = true;
        return;
      case TSharedLibraryFit::Fits:
        break;
    }
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) return;
    library.Handle = handle;
    library.InlineEx = reinterpret_cast<zqScriptInlineEx_fn>(dlsym(handle, "zqScriptInlineEx"));
    library.InlineExLib =
        reinterpret_cast<zqScriptInlineExLib_fn>(dlsym(handle, "zqScriptInlineExLib"));
    library.FreeMem = reinterpret_cast<zqsFreeMem_fn>(dlsym(handle, "zqsFreeMem"));
    return;
  }
}

// Calls the interpreter; the library name is never given by this program.
int32_t CallInterpreter(const std::string& script, const std::string& second,
                        const std::string& command, bool flag, std::string& result) {
  Load("libzqScriptE.so");
  const TInterpreterLibrary& library = Library();
  if (!library.Complete()) return kNotFound;
  const std::u16string script16 = Utf8ToUtf16(script);
  const std::u16string second16 = Utf8ToUtf16(second);
  const std::u16string command16 = Utf8ToUtf16(command);
  char16_t* text = nullptr;
  const int32_t code =
      library.InlineEx(script16.c_str(), second16.c_str(), command16.c_str(), flag ? -1 : 0, &text);
  if (text) {
    result = Utf16ToUtf8(text);
    library.FreeMem(text);
  }
  return code;
}

// The host interface over one root object for the length of one call.
class THost {
 public:
  explicit THost(TMorvexWSHIntf& root) : root_(root) {
    block_.Host.api = &kApi;
    block_.Host.root = reinterpret_cast<morvex_object*>(static_cast<TScriptObject*>(&root));
    block_.Self = this;
  }

  morvex_host* Host() { return &block_.Host; }

 private:
  // The C struct first, so that a morvex_host pointer leads back here.
  struct TBlock {
    morvex_host Host;
    THost* Self;
  };

  static THost& Of(morvex_host* host) { return *reinterpret_cast<TBlock*>(host)->Self; }
  static TScriptObject* ObjectOf(morvex_object* object) {
    return reinterpret_cast<TScriptObject*>(object);
  }

  const char16_t* Keep(std::string_view text) {
    return texts_.emplace_back(Utf8ToUtf16(text)).c_str();
  }

  // Runs `body`; a failure becomes -1 with the message kept for last_error.
  template <class Body>
  static int Guard(morvex_host* host, Body&& body) {
    THost& self = Of(host);
    try {
      body(self);
      return 0;
    } catch (const std::exception& e) {
      self.lastError_ = Utf8ToUtf16(e.what());
      return -1;
    }
  }

  void Export(const TScriptValue& value, morvex_value& out) {
    out = morvex_value{};
    if (const auto* b = std::get_if<bool>(&value)) {
      out.type = MORVEX_BOOLEAN;
      out.boolean = *b ? 1 : 0;
    } else if (const auto* i = std::get_if<int64_t>(&value)) {
      out.type = MORVEX_INTEGER;
      out.integer = *i;
    } else if (const auto* d = std::get_if<double>(&value)) {
      out.type = MORVEX_NUMBER;
      out.number = *d;
    } else if (const auto* s = std::get_if<std::string>(&value)) {
      out.type = MORVEX_TEXT;
      out.text = Keep(*s);
    } else if (const auto* bytes = std::get_if<TScriptBytes>(&value)) {
      out.type = MORVEX_BYTES;
      const std::string& kept = bytes_.emplace_back(bytes->Bytes);
      out.bytes = reinterpret_cast<const unsigned char*>(kept.data());
      out.size = kept.size();
    } else if (auto* const* object = std::get_if<TScriptObject*>(&value)) {
      out.type = MORVEX_OBJECT;
      out.object = reinterpret_cast<morvex_object*>(*object);
    }
  }

  static TScriptValue Import(const morvex_value& value) {
    switch (value.type) {
      case MORVEX_BOOLEAN:
        return value.boolean != 0;
      case MORVEX_INTEGER:
        return static_cast<int64_t>(value.integer);
      case MORVEX_NUMBER:
        return value.number;
      case MORVEX_TEXT:
        return value.text ? Utf16ToUtf8(value.text) : std::string();
      case MORVEX_BYTES:
        return TScriptBytes{
            value.bytes ? std::string(reinterpret_cast<const char*>(value.bytes), value.size)
                        : std::string()};
      case MORVEX_OBJECT:
        return ObjectOf(value.object);
      default:
        return {};
    }
  }

  static int GetProperty(morvex_host* host, morvex_object* object, const char16_t* name,
                         morvex_value* out) {
    return Guard(host,
                 [&](THost& self) { self.Export(ObjectOf(object)->Get(Utf16ToUtf8(name)), *out); });
  }
  static int SetProperty(morvex_host* host, morvex_object* object, const char16_t* name,
                         const morvex_value* value) {
    return Guard(host, [&](THost&) { ObjectOf(object)->Set(Utf16ToUtf8(name), Import(*value)); });
  }
  static int CallMethod(morvex_host* host, morvex_object* object, const char16_t* name,
                        const morvex_value* arguments, int32_t count, morvex_value* out) {
    return Guard(host, [&](THost& self) {
      std::vector<TScriptValue> values;
      for (int32_t i = 0; i < count; ++i) values.push_back(Import(arguments[i]));
      self.Export(ObjectOf(object)->Call(Utf16ToUtf8(name), values), *out);
    });
  }
  static const char16_t* LastError(morvex_host* host) { return Of(host).lastError_.c_str(); }
  static int ReadSource(morvex_host* host, const unsigned char** bytes, size_t* size) {
    return Guard(host, [&](THost& self) {
      morvex_value value;
      self.Export(self.root_.Source().Get("Value"), value);
      *bytes = value.bytes;
      *size = value.size;
    });
  }
  static int WriteDestination(morvex_host* host, const unsigned char* bytes, size_t size) {
    return Guard(host, [&](THost& self) {
      self.root_.Destination().Set(
          "Value", TScriptBytes{std::string(reinterpret_cast<const char*>(bytes), size)});
    });
  }
  static int32_t ParamCount(morvex_host* host) { return Of(host).root_.ParamCount(); }
  static const char16_t* ParamName(morvex_host* host, int32_t index) {
    THost& self = Of(host);
    if (index < 0 || index >= self.root_.ParamCount()) return nullptr;
    return self.Keep(self.root_.ParamName(index));
  }
  static const char16_t* ParamValue(morvex_host* host, const char16_t* name) {
    THost& self = Of(host);
    std::string value;
    if (!name || !self.root_.ParamValue(Utf16ToUtf8(name), value)) return nullptr;
    return self.Keep(value);
  }

  static constexpr morvex_host_api kApi{
      sizeof(morvex_host_api), GetProperty, SetProperty, CallMethod, LastError, ReadSource,
      WriteDestination,        ParamCount,  ParamName,   ParamValue};

  TMorvexWSHIntf& root_;
  TBlock block_{};
  std::u16string lastError_;
  std::deque<std::u16string> texts_;  // deques keep handed-out addresses stable
  std::deque<std::string> bytes_;
};

}  // namespace

std::string InterpreterCommand(uintptr_t hostInterface,
                               const std::vector<std::string>& parameterTexts) {
  std::string command = "\"/zqs{host-interface=" + std::to_string(hostInterface) + ",MORVEX;}\" ";
  for (const std::string& text : parameterTexts) {
    // A quote inside a text is doubled: the text stays one item, whatever it
    // holds (a parameter value cannot add an item of its own).
    command += '"';
    for (const char c : text) {
      command += c;
      if (c == '"') command += '"';
    }
    command += "\" ";
  }
  return command;
}

void RunExternalScript(const TXSourceInfo& source, const TXSourceInfo& destination,
                       const TXTransformInfo& transform, const std::vector<std::string>* parameters,
                       const std::vector<std::string>& parameterTexts) {
  if (!Library().Handle && AsciiLower(transform.Language) != "zqscriptgui") {
    Load("libzqScriptECL.so");
  }
  TMorvexWSHIntf root(source, parameters, transform, destination);
  THost host(root);
  const std::string command =
      InterpreterCommand(reinterpret_cast<uintptr_t>(host.Host()), parameterTexts);
  std::string result;
  const int32_t code =
      CallInterpreter(transform.Content, transform.SecondContent, command, false, result);
  root.Close();
  if (code == kNotFound) {
    throw EMorvexError("Interpreter not found!");
  }
  if (code == 1 || code == -3) {
    throw EMorvexError(result);
  }
  // An interpreter that reports success after a failed read or write of
  // the content does not make the step a success.
  if (!root.ContentError().empty()) {
    throw EMorvexError(root.ContentError());
  }
}

void ResetInterpreterForTests(const std::string& directory) {
  TInterpreterLibrary& library = Library();
  if (library.Handle) dlclose(library.Handle);
  library = TInterpreterLibrary{};
  library.TestDirectory = directory;
}

}  // namespace morvex
