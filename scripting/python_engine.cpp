// The Python engine over the embedded CPython runtime. One interpreter serves
// the whole run: it starts when the first Python step runs and stays, so
// modules imported once are imported for every later step. Each engine (one
// per step) has its own `__main__` module, so steps never see each other's
// globals.
//
// Script objects are instances of one extension type whose attribute lookup
// goes to the object's member table (letter case ignored); methods come back
// as callables bound to their object. Python's own SIGINT handling is not
// installed: Ctrl+C is the script interrupt guard's, as for the other
// engines. `sys.exit` raises SystemExit like any exception, so it fails the
// step instead of ending the run.
#if MORVEX_HAVE_PYTHON
#define PY_SSIZE_T_CLEAN
#include <Python.h>
#endif

#include <memory>
#include <string>
#include <vector>

#include "scripting/script_engine.h"
#include "scripting/script_interrupt.h"
#include "scripting/script_object.h"
#include "text/error.h"

namespace morvex {

#if MORVEX_HAVE_PYTHON

namespace {

constexpr const char* kFileName = "<script>";

// A strong reference that is released when it goes.
struct TPyDeleter {
  void operator()(PyObject* object) const { Py_XDECREF(object); }
};
using TPyRef = std::unique_ptr<PyObject, TPyDeleter>;

TPyRef Own(PyObject* object) { return TPyRef(object); }

// The one interpreter of the process, started on first use. It is never
// finalized: interpreter shutdown at exit would run the scripts' atexit
// handlers after the run has reported its outcome.
void StartInterpreter() {
  if (Py_IsInitialized()) return;
  PyConfig config;
  PyConfig_InitPythonConfig(&config);
  config.install_signal_handlers = 0;
  config.parse_argv = 0;
  // Scripts are run from their text, never from the folder the run started
  // in: that folder is not put in front of the module path.
  config.safe_path = 1;
  const PyStatus status = Py_InitializeFromConfig(&config);
  PyConfig_Clear(&config);
  if (PyStatus_Exception(status)) {
    throw EMorvexError(std::string("The Python runtime cannot be started: ") +
                       (status.err_msg ? status.err_msg : "unknown reason") + ".");
  }
}

// The text of a Python object through str(); empty when that fails.
std::string TextOf(PyObject* object) {
  TPyRef text = Own(PyObject_Str(object));
  if (!text) {
    PyErr_Clear();
    return {};
  }
  Py_ssize_t size = 0;
  const char* bytes = PyUnicode_AsUTF8AndSize(text.get(), &size);
  if (!bytes) {
    PyErr_Clear();
    return {};
  }
  return std::string(bytes, static_cast<size_t>(size));
}

// ---- script objects as Python objects

// The objects of a step live as long as its engine, but the interpreter
// outlives both: a script may keep a reference somewhere that survives (a
// module attribute). Each wrapper notes the step it was made in, and a
// wrapper of a finished step refuses every use.
uint64_t gStep = 0;

struct TPyScriptObject {
  PyObject_HEAD TScriptObject* Object;
  uint64_t Step;
};

struct TPyBoundMethod {
  PyObject_HEAD TScriptObject* Object;
  uint64_t Step;
  std::string_view Name;  // a member's published name; lives as long as the object
};

template <class Wrapper>
TScriptObject* LiveObject(PyObject* self) {
  auto* wrapper = reinterpret_cast<Wrapper*>(self);
  if (wrapper->Step == gStep) return wrapper->Object;
  PyErr_SetString(PyExc_RuntimeError, "The MORVEX objects of a finished step cannot be used.");
  return nullptr;
}

PyTypeObject* gObjectType = nullptr;
PyTypeObject* gMethodType = nullptr;

PyObject* NewObject(TScriptObject* object) {
  auto* wrapper = PyObject_New(TPyScriptObject, gObjectType);
  if (wrapper) {
    wrapper->Object = object;
    wrapper->Step = gStep;
  }
  return reinterpret_cast<PyObject*>(wrapper);
}

PyObject* ToPython(const TScriptValue& value) {
  struct Visitor {
    PyObject* operator()(std::monostate) const { Py_RETURN_NONE; }
    PyObject* operator()(bool b) const { return PyBool_FromLong(b); }
    PyObject* operator()(int64_t i) const { return PyLong_FromLongLong(i); }
    PyObject* operator()(double d) const { return PyFloat_FromDouble(d); }
    // Texts that are not valid UTF-8 keep their bytes as lone surrogates, so
    // a text read and written back is unchanged.
    PyObject* operator()(const std::string& s) const {
      return PyUnicode_DecodeUTF8(s.data(), static_cast<Py_ssize_t>(s.size()), "surrogateescape");
    }
    PyObject* operator()(const TScriptBytes& b) const {
      return PyBytes_FromStringAndSize(b.Bytes.data(), static_cast<Py_ssize_t>(b.Bytes.size()));
    }
    PyObject* operator()(TScriptObject* o) const { return NewObject(o); }
  };
  return std::visit(Visitor{}, value);
}

// A Python value as a script value: str is text; bytes, bytearray and a list
// or tuple of numbers 0 to 255 are bytes. Raises EMorvexError for anything
// else (the Python error, if any, is cleared).
TScriptValue FromPython(PyObject* value) {
  if (value == Py_None) return {};
  if (PyBool_Check(value)) return value == Py_True;
  if (PyLong_Check(value)) {
    int overflow = 0;
    const long long number = PyLong_AsLongLongAndOverflow(value, &overflow);
    if (overflow == 0) return static_cast<int64_t>(number);
    const double wide = PyLong_AsDouble(value);
    if (wide == -1.0 && PyErr_Occurred()) {
      PyErr_Clear();
      throw EMorvexError("The number is too large to be passed to the MORVEX objects.");
    }
    return wide;
  }
  if (PyFloat_Check(value)) return PyFloat_AsDouble(value);
  if (PyUnicode_Check(value)) {
    TPyRef bytes = Own(PyUnicode_AsEncodedString(value, "utf-8", "surrogateescape"));
    if (!bytes) {
      PyErr_Clear();
      throw EMorvexError("The text cannot be passed to the MORVEX objects as UTF-8.");
    }
    return std::string(PyBytes_AS_STRING(bytes.get()),
                       static_cast<size_t>(PyBytes_GET_SIZE(bytes.get())));
  }
  if (PyBytes_Check(value)) {
    return TScriptBytes{
        std::string(PyBytes_AS_STRING(value), static_cast<size_t>(PyBytes_GET_SIZE(value)))};
  }
  if (PyByteArray_Check(value)) {
    return TScriptBytes{std::string(PyByteArray_AS_STRING(value),
                                    static_cast<size_t>(PyByteArray_GET_SIZE(value)))};
  }
  if (PyList_Check(value) || PyTuple_Check(value)) {
    TScriptBytes bytes;
    const Py_ssize_t length = PySequence_Fast_GET_SIZE(value);
    PyObject** items = PySequence_Fast_ITEMS(value);
    for (Py_ssize_t i = 0; i < length; ++i) {
      const long byte = PyLong_Check(items[i]) ? PyLong_AsLong(items[i]) : -1;
      if (byte < 0 || byte > 255) {
        PyErr_Clear();
        throw EMorvexError("An array of bytes holds only numbers from 0 to 255.");
      }
      bytes.Bytes += static_cast<char>(byte);
    }
    return bytes;
  }
  if (Py_IS_TYPE(value, gObjectType)) {
    if (TScriptObject* object = LiveObject<TPyScriptObject>(value)) return object;
    PyErr_Clear();
    throw EMorvexError("The MORVEX objects of a finished step cannot be used.");
  }
  throw EMorvexError(std::string("A ") + Py_TYPE(value)->tp_name +
                     " value cannot be passed to the MORVEX objects.");
}

// Runs `body`; turns a C++ exception into a Python exception of `type` and
// returns null, as the C API expects of a failing call.
template <class Body>
PyObject* Guarded(PyObject* type, Body&& body) {
  try {
    return body();
  } catch (const std::exception& e) {
    PyErr_SetString(type, e.what());
    return nullptr;
  }
}

PyObject* CallBoundMethod(PyObject* self, PyObject* args, PyObject* kwargs) {
  auto* method = reinterpret_cast<TPyBoundMethod*>(self);
  if (!LiveObject<TPyBoundMethod>(self)) return nullptr;
  if (kwargs && PyDict_Size(kwargs) > 0) {
    PyErr_Format(PyExc_TypeError, "%s.%s takes no keyword arguments",
                 std::string(method->Object->ClassName()).c_str(),
                 std::string(method->Name).c_str());
    return nullptr;
  }
  return Guarded(PyExc_RuntimeError, [&]() -> PyObject* {
    std::vector<TScriptValue> arguments;
    const Py_ssize_t count = PyTuple_GET_SIZE(args);
    for (Py_ssize_t i = 0; i < count; ++i)
      arguments.push_back(FromPython(PyTuple_GET_ITEM(args, i)));
    return ToPython(method->Object->Call(method->Name, arguments));
  });
}

// Unknown members and assignments to what cannot be assigned raise
// AttributeError, as Python's own objects do (so hasattr works); a failure
// while reading or writing the content raises RuntimeError.
PyObject* GetMember(PyObject* self, PyObject* name) {
  const char* key = PyUnicode_AsUTF8(name);
  if (!key) return nullptr;
  if (std::string_view(key).starts_with("__")) return PyObject_GenericGetAttr(self, name);
  TScriptObject* object = LiveObject<TPyScriptObject>(self);
  if (!object) return nullptr;
  const TScriptMember* member = object->FindMember(key);
  if (!member) return Guarded(PyExc_AttributeError, [&] { return ToPython(object->Get(key)); });
  if (member->IsMethod) {
    auto* method = PyObject_New(TPyBoundMethod, gMethodType);
    if (!method) return nullptr;
    method->Object = object;
    method->Step = gStep;
    method->Name = member->Name;
    return reinterpret_cast<PyObject*>(method);
  }
  return Guarded(PyExc_RuntimeError, [&] { return ToPython(object->Get(key)); });
}

int SetMember(PyObject* self, PyObject* name, PyObject* value) {
  TScriptObject* object = LiveObject<TPyScriptObject>(self);
  const char* key = object ? PyUnicode_AsUTF8(name) : nullptr;
  if (!key) return -1;
  const TScriptMember* member = object->FindMember(key);
  PyObject* type = member && member->Writable ? PyExc_RuntimeError : PyExc_AttributeError;
  try {
    if (!value) {
      throw EMorvexError("The members of " + std::string(object->ClassName()) +
                         " cannot be deleted.");
    }
    object->Set(key, FromPython(value));
    return 0;
  } catch (const std::exception& e) {
    PyErr_SetString(type, e.what());
    return -1;
  }
}

PyObject* ObjectText(PyObject* self) {
  TScriptObject* object = LiveObject<TPyScriptObject>(self);
  if (!object) return nullptr;
  const std::string_view name = object->ClassName();
  return PyUnicode_FromStringAndSize(name.data(), static_cast<Py_ssize_t>(name.size()));
}

PyObject* MethodText(PyObject* self) {
  if (!LiveObject<TPyBoundMethod>(self)) return nullptr;
  auto* method = reinterpret_cast<TPyBoundMethod*>(self);
  const std::string text =
      "<method " + std::string(method->Object->ClassName()) + "." + std::string(method->Name) + ">";
  return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
}

// The member names, for dir() and completion in an interactive session.
PyObject* ObjectDir(PyObject* self, PyObject*) {
  TScriptObject* object = LiveObject<TPyScriptObject>(self);
  if (!object) return nullptr;
  TPyRef list = Own(PyList_New(0));
  if (!list) return nullptr;
  for (const TScriptMember& member : object->Members()) {
    TPyRef name = Own(PyUnicode_FromStringAndSize(member.Name.data(),
                                                  static_cast<Py_ssize_t>(member.Name.size())));
    if (!name || PyList_Append(list.get(), name.get()) != 0) return nullptr;
  }
  return list.release();
}

PyMethodDef gObjectMethods[] = {{"__dir__", ObjectDir, METH_NOARGS, nullptr},
                                {nullptr, nullptr, 0, nullptr}};

void CreateTypes() {
  if (gObjectType) return;
  PyType_Slot objectSlots[] = {{Py_tp_getattro, reinterpret_cast<void*>(GetMember)},
                               {Py_tp_setattro, reinterpret_cast<void*>(SetMember)},
                               {Py_tp_repr, reinterpret_cast<void*>(ObjectText)},
                               {Py_tp_str, reinterpret_cast<void*>(ObjectText)},
                               {Py_tp_methods, gObjectMethods},
                               {0, nullptr}};
  PyType_Spec objectSpec{"morvex.Object", sizeof(TPyScriptObject), 0, Py_TPFLAGS_DEFAULT,
                         objectSlots};
  PyType_Slot methodSlots[] = {{Py_tp_call, reinterpret_cast<void*>(CallBoundMethod)},
                               {Py_tp_repr, reinterpret_cast<void*>(MethodText)},
                               {0, nullptr}};
  PyType_Spec methodSpec{"morvex.Method", sizeof(TPyBoundMethod), 0, Py_TPFLAGS_DEFAULT,
                         methodSlots};
  gObjectType = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&objectSpec));
  gMethodType = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&methodSpec));
  if (!gObjectType || !gMethodType) {
    PyErr_Clear();
    throw EMorvexError("The Python runtime cannot create the MORVEX object types.");
  }
}

// ---- errors

// The line of the innermost frame of the script's own text in `traceback`.
int ScriptLineOf(PyObject* traceback) {
  int line = 0;
  TPyRef current(Py_XNewRef(traceback));
  while (current && current.get() != Py_None) {
    TPyRef frame = Own(PyObject_GetAttrString(current.get(), "tb_frame"));
    TPyRef code = frame ? Own(PyObject_GetAttrString(frame.get(), "f_code")) : nullptr;
    TPyRef file = code ? Own(PyObject_GetAttrString(code.get(), "co_filename")) : nullptr;
    if (file && TextOf(file.get()) == kFileName) {
      TPyRef number = Own(PyObject_GetAttrString(current.get(), "tb_lineno"));
      if (number) line = static_cast<int>(PyLong_AsLong(number.get()));
    }
    current = Own(PyObject_GetAttrString(current.get(), "tb_next"));
  }
  PyErr_Clear();
  return line;
}

// The last line Python's traceback shows for an exception: "Type: message",
// with the module in front of types that are not built in.
std::string ExceptionLine(PyObject* type, PyObject* value) {
  TPyRef module = Own(PyImport_ImportModule("traceback"));
  TPyRef lines = module ? Own(PyObject_CallMethod(module.get(), "format_exception_only", "OO", type,
                                                  value ? value : Py_None))
                        : nullptr;
  std::string text;
  if (lines && PyList_Check(lines.get()) && PyList_GET_SIZE(lines.get()) > 0) {
    text = TextOf(PyList_GET_ITEM(lines.get(), PyList_GET_SIZE(lines.get()) - 1));
  }
  PyErr_Clear();
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  if (text.empty()) text = reinterpret_cast<PyTypeObject*>(type)->tp_name;
  return text;
}

// The pending Python error as a script error; clears it.
TScriptError TakeError() {
  PyObject* rawType = nullptr;
  PyObject* rawValue = nullptr;
  PyObject* rawTraceback = nullptr;
  PyErr_Fetch(&rawType, &rawValue, &rawTraceback);
  PyErr_NormalizeException(&rawType, &rawValue, &rawTraceback);
  TPyRef type(rawType), value(rawValue), traceback(rawTraceback);
  TScriptError error;
  if (!type) {
    error.Description = "The Python script failed without an error.";
    return error;
  }
  if (PyErr_GivenExceptionMatches(type.get(), PyExc_SyntaxError) && value) {
    TPyRef line = Own(PyObject_GetAttrString(value.get(), "lineno"));
    TPyRef column = Own(PyObject_GetAttrString(value.get(), "offset"));
    TPyRef message = Own(PyObject_GetAttrString(value.get(), "msg"));
    PyErr_Clear();
    error.Line = line && PyLong_Check(line.get()) ? static_cast<int>(PyLong_AsLong(line.get())) : 0;
    error.Column =
        column && PyLong_Check(column.get()) ? static_cast<int>(PyLong_AsLong(column.get())) : 0;
    const std::string name = reinterpret_cast<PyTypeObject*>(type.get())->tp_name;
    error.Description = name + ": " + (message ? TextOf(message.get()) : std::string());
    return error;
  }
  error.Line = ScriptLineOf(traceback.get());
  if (PyErr_GivenExceptionMatches(type.get(), PyExc_SystemExit)) {
    error.Description =
        "sys.exit cannot end the run; a script fails its step by raising an exception";
  } else {
    error.Description = ExceptionLine(type.get(), value.get());
  }
  return error;
}

// What the scripts printed reaches the console before the run's next line.
void FlushStandardStreams() {
  for (const char* name : {"stdout", "stderr"}) {
    PyObject* stream = PySys_GetObject(name);  // borrowed
    if (stream && stream != Py_None) Py_XDECREF(PyObject_CallMethod(stream, "flush", nullptr));
  }
  PyErr_Clear();
}

class TPythonEngine final : public TScriptEngine {
 public:
  TPythonEngine() {
    StartInterpreter();
    ++gStep;
    CreateTypes();
    module_ = Own(PyModule_New("__main__"));
    if (!module_ ||
        PyModule_AddObjectRef(module_.get(), "__builtins__", PyEval_GetBuiltins()) != 0) {
      PyErr_Clear();
      throw EMorvexError("The Python runtime cannot create a module for the script.");
    }
  }

  void AddNamedObject(const std::string& name, TScriptObject& object) override {
    TPyRef wrapper = Own(NewObject(&object));
    if (!wrapper || PyModule_AddObjectRef(module_.get(), name.c_str(), wrapper.get()) != 0) {
      PyErr_Clear();
      throw EMorvexError("The Python runtime cannot publish the object " + name + ".");
    }
  }

  void Execute(std::string_view text) override {
    const TScriptInterruptGuard interrupts;
    const std::string source(text);
    // While the step runs its module is `__main__`, so code that looks itself
    // up there (pickle, dataclasses, `import __main__`) finds this one.
    PyObject* modules = PyImport_GetModuleDict();  // borrowed
    TPyRef previous(Py_XNewRef(PyDict_GetItemString(modules, "__main__")));
    PyDict_SetItemString(modules, "__main__", module_.get());
    PyObject* globals = PyModule_GetDict(module_.get());  // borrowed
    TPyRef code = Own(Py_CompileString(source.c_str(), kFileName, Py_file_input));
    TPyRef result = code ? Own(PyEval_EvalCode(code.get(), globals, globals)) : nullptr;
    if (!result) ReportError(TakeError());
    FlushStandardStreams();
    if (previous) PyDict_SetItemString(modules, "__main__", previous.get());
    PyErr_Clear();
  }

  std::vector<std::string> GlobalFunctionNames() override {
    std::vector<std::string> names;
    PyObject* globals = PyModule_GetDict(module_.get());
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    Py_ssize_t position = 0;
    while (PyDict_Next(globals, &position, &key, &value)) {
      if (PyUnicode_Check(key) && PyFunction_Check(value)) names.push_back(TextOf(key));
    }
    return names;
  }

  TScriptValue CallFunction(const std::string& name,
                            const std::vector<TScriptValue>& arguments) override {
    PyObject* function = PyDict_GetItemString(PyModule_GetDict(module_.get()), name.c_str());
    if (!function || !PyCallable_Check(function)) {
      throw EMorvexError("The script defines no function " + name + ".");
    }
    TPyRef tuple = Own(PyTuple_New(static_cast<Py_ssize_t>(arguments.size())));
    for (size_t i = 0; tuple && i < arguments.size(); ++i) {
      PyObject* item = ToPython(arguments[i]);
      if (!item) break;
      PyTuple_SET_ITEM(tuple.get(), static_cast<Py_ssize_t>(i), item);
    }
    TPyRef result =
        tuple && !PyErr_Occurred() ? Own(PyObject_Call(function, tuple.get(), nullptr)) : nullptr;
    if (!result) throw EMorvexError(TakeError().Description);
    return FromPython(result.get());
  }

  ~TPythonEngine() override {
    // The step's objects die with the engine; wrappers a script kept refuse
    // use from now on. The module's globals go too, unless something else
    // holds them.
    ++gStep;
    module_.reset();
  }

 private:
  TPyRef module_;
};

}  // namespace

bool PythonAvailable() { return true; }

std::unique_ptr<TScriptEngine> CreatePythonEngine() { return std::make_unique<TPythonEngine>(); }

#else

bool PythonAvailable() { return false; }

std::unique_ptr<TScriptEngine> CreatePythonEngine() {
  throw EMorvexError("The script language \"PythonScript\" is not available in this build.");
}

#endif

}  // namespace morvex
