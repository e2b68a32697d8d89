#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <memory>
#include <string>
#include <vector>

#include "scripting/script_engine.h"
#include "scripting/script_object.h"
#include "text/error.h"

namespace morvex {
namespace {

// A small object with a text property, a read-only one and a method, so the
// engine's crossing of values and members is seen without the MORVEX model.
class TProbe final : public TScriptObject {
 public:
  std::string_view ClassName() const override { return "TProbe"; }
  std::span<const TScriptMember> Members() const override { return kMembers; }
  TScriptValue Stored;

 protected:
  TScriptValue GetProperty(const TScriptMember& member) override {
    if (member.Name == "Fixed") return std::string("fixed");
    return Stored;
  }
  void SetProperty(const TScriptMember&, const TScriptValue& value) override { Stored = value; }
  TScriptValue CallMethod(const TScriptMember&, std::span<const TScriptValue> arguments) override {
    return static_cast<int64_t>(arguments.size());
  }

 private:
  static constexpr std::array<TScriptMember, 3> kMembers{
      {{"Value", false, true}, {"Fixed", false, false}, {"Count", true, false}}};
};

struct TPythonRun {
  std::vector<TScriptError> Errors;
  std::unique_ptr<TScriptEngine> Engine;
};

TPythonRun RunPython(const std::string& script, TProbe& probe) {
  TPythonRun run;
  run.Engine = CreateScriptEngine("PythonScript");
  run.Engine->SetErrorHandler([&run](const TScriptError& e) { run.Errors.push_back(e); });
  run.Engine->AddNamedObject("P", probe);
  run.Engine->Execute(script);
  return run;
}

class PythonEngine : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!PythonAvailable()) GTEST_SKIP() << "this build has no Python runtime";
  }
  TProbe probe_;
};

// Values keep their type and bytes both ways; members are found in any
// letter case; methods are callables.
TEST_F(PythonEngine, ValuesAndMembersCross) {
  struct TCase {
    const char* Script;
    TScriptValue Expected;
  };
  const TCase cases[] = {
      {"P.value = 'grüß \\U0001F600'", std::string("gr\xC3\xBC\xC3\x9F \xF0\x9F\x98\x80")},
      {"P.VALUE = b'\\x00\\xff'", TScriptBytes{std::string("\0\xFF", 2)}},
      {"P.Value = bytearray([104, 105])", TScriptBytes{"hi"}},
      {"P.Value = [1, 2]", TScriptBytes{"\1\2"}},
      {"P.Value = 2**70", 1180591620717411303424.0},
      {"P.Value = -5", int64_t{-5}},
      {"P.Value = True", true},
      {"P.Value = None", TScriptValue{}},
      {"P.Value = P.count(1, 'a', None) + P.COUNT()", int64_t{3}},
      {"P.Value = str(P) + P.fixed", std::string("TProbefixed")},
  };
  for (const TCase& c : cases) {
    probe_.Stored = std::string("unset");
    const TPythonRun run = RunPython(c.Script, probe_);
    EXPECT_TRUE(run.Errors.empty()) << c.Script << ": " << run.Errors.front().Description;
    EXPECT_EQ(probe_.Stored, c.Expected) << c.Script;
  }
  // A text with bytes that are not UTF-8 comes back unchanged.
  probe_.Stored = std::string("a\xFF");
  RunPython("P.Value = P.Value + 'b'", probe_);
  EXPECT_EQ(probe_.Stored, TScriptValue(std::string("a\xFF"
                                                    "b")));
}

// Errors give the script's line, Python's column for syntax errors, and the
// traceback's last line as the description.
TEST_F(PythonEngine, ErrorsNameTheScriptLine) {
  struct TCase {
    const char* Script;
    int Line;
    int Column;
    const char* Description;
  };
  const TCase cases[] = {
      {"x = 1\ny = x / 0\n", 2, 0, "ZeroDivisionError: division by zero"},
      {"def f():\n  raise ValueError('bad')\n\nf()\n", 2, 0, "ValueError: bad"},
      {"x = 1\ndef f(:\n", 2, 7, "SyntaxError: invalid syntax"},
      {"import json\njson.loads('{')", 2, 0,
       "json.decoder.JSONDecodeError: Expecting property name enclosed in double quotes: line 1 "
       "column 2 (char 1)"},
      {"P.Fixed = 'x'", 1, 0, "AttributeError: Property TProbe.Fixed is read-only."},
      {"P.count = 1", 1, 0, "AttributeError: Method TProbe.Count is read-only."},
      {"\nP.Nothing", 2, 0, "AttributeError: TProbe has no member named \"Nothing\"."},
      {"P.Value = object()", 1, 0,
       "RuntimeError: A object value cannot be passed to the MORVEX objects."},
      {"import sys\nsys.exit(0)", 2, 0,
       "sys.exit cannot end the run; a script fails its step by raising an exception"},
      {"raise SystemExit", 1, 0,
       "sys.exit cannot end the run; a script fails its step by raising an exception"},
  };
  for (const TCase& c : cases) {
    const TPythonRun run = RunPython(c.Script, probe_);
    ASSERT_EQ(run.Errors.size(), 1u) << c.Script;
    EXPECT_EQ(run.Errors[0].Line, c.Line) << c.Script;
    EXPECT_EQ(run.Errors[0].Column, c.Column) << c.Script;
    EXPECT_EQ(run.Errors[0].Description, c.Description) << c.Script;
  }
  // hasattr sees an unknown member as missing, as with Python's own objects.
  RunPython("P.Value = hasattr(P, 'nothing') or not hasattr(P, 'value')", probe_);
  EXPECT_EQ(probe_.Stored, TScriptValue(false));
}

// One interpreter, a fresh module per engine: globals never pass from one
// step to the next, imported modules stay imported; an object kept past its
// step refuses use instead of reaching freed memory.
TEST_F(PythonEngine, StepsDoNotShareGlobals) {
  RunPython("import json\nleft = 1\njson.kept = P", probe_);
  TPythonRun run = RunPython(
      "import sys, json\n"
      "P.Value = ','.join(['left' in globals() and 'seen' or 'fresh', __name__,\n"
      "                    str(sys.modules['__main__'].P is P)])",
      probe_);
  ASSERT_TRUE(run.Errors.empty()) << run.Errors.front().Description;
  EXPECT_EQ(probe_.Stored, TScriptValue(std::string("fresh,__main__,True")));
  run = RunPython("import json\njson.kept.Value = 1", probe_);
  ASSERT_EQ(run.Errors.size(), 1u);
  EXPECT_EQ(run.Errors[0].Description,
            "RuntimeError: The MORVEX objects of a finished step cannot be used.");
}

// The host calls a script's functions (stylesheet scripts do).
TEST_F(PythonEngine, FunctionCallsFromTheHost) {
  TPythonRun run =
      RunPython("def twice(a):\n  return a * 2\ndef fail():\n  raise KeyError('k')\n", probe_);
  std::vector<std::string> names = run.Engine->GlobalFunctionNames();
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"fail", "twice"}));
  EXPECT_EQ(run.Engine->CallFunction("twice", {std::string("ab")}),
            TScriptValue(std::string("abab")));
  try {
    run.Engine->CallFunction("fail", {});
    ADD_FAILURE() << "no error";
  } catch (const EMorvexError& e) {
    EXPECT_STREQ(e.what(), "KeyError: 'k'");
  }
  EXPECT_THROW(run.Engine->CallFunction("none", {}), EMorvexError);
}

}  // namespace
}  // namespace morvex
