#include "scripting/script_host.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/raised_message.h"
#include "tests/support/temp_dir.h"
#include "text/error.h"
#include "text/stream.h"

namespace morvex {
namespace {

struct TRun {
  bool Ok;
  std::string ErrorText;
};

class ScriptHostTest : public ::testing::Test {
 protected:
  TRun Run(const std::string& language, const std::string& script,
           size_t memoryLimit = kDefaultScriptMemoryLimit) {
    TXTransformInfo transform = transform_;
    transform.Language = language;
    transform.Content = script;
    TRun run{};
    run.Ok = testing::Succeeds(
        [&] { RunActiveScript(source_, destination_, transform, &parameters_, memoryLimit); },
        run.ErrorText);
    return run;
  }

  void FileSource(const std::string& bytes, const std::string& encoding = "") {
    source_ = {skFile, dir_.Write("in.txt", bytes), encoding, nullptr};
  }
  void StreamSource(const std::string& bytes) {
    input_ = TMemoryStream(bytes);
    input_.SetPosition(static_cast<int64_t>(bytes.size()));  // wherever it was left
    source_ = {skStream, "q", "", &input_};
  }
  std::string FileDestination() {
    destination_ = {skFile, dir_.File("out.txt"), "", nullptr};
    return destination_.Location;
  }
  void StreamDestination() { destination_ = {skStream, "out", "", &output_}; }

  TTempDir dir_;
  TMemoryStream input_;
  TMemoryStream output_;
  TXSourceInfo source_;
  TXSourceInfo destination_;
  TXTransformInfo transform_;
  std::vector<std::string> parameters_{"city=Prague", "Empty=", "n=5"};
};

// --- JavaScript ---

TEST_F(ScriptHostTest, JavaScriptCopiesFileTextToFileInTransformEncoding) {
  FileSource("\xEF\xBB\xBFgr\xC3\xBC\xC3\x9F");  // a UTF-8 mark, then "grüß"
  const std::string out = FileDestination();
  transform_.Encoding = "unicode";
  const TRun run = Run("JScript",
                       "var t = MORVEX.Source.Text;\n"
                       "if (t.length !== 4) throw new Error('length ' + t.length);\n"
                       "MORVEX.Destination.Text = t;");
  ASSERT_TRUE(run.Ok) << run.ErrorText;
  EXPECT_EQ(TTempDir::Read(out), std::string("\xFF\xFEg\0r\0\xFC\0\xDF\0", 10));
}

TEST_F(ScriptHostTest, CharactersBeyondTheBasicPlaneCrossUnchanged) {
  StreamSource("a\xF0\x9F\x98\x80");  // "a" and U+1F600
  StreamDestination();
  const TRun run = Run("JScript",
                       "var t = MORVEX.Source.Text;\n"
                       "MORVEX.Destination.Text = t + t.length + t.charAt(1).length + "
                       "String.fromCharCode(0xD83D, 0xDE00);");
  ASSERT_TRUE(run.Ok) << run.ErrorText;
  EXPECT_EQ(output_.Data(),
            "\xEF\xBB\xBF"
            "a\xF0\x9F\x98\x80"
            "31\xF0\x9F\x98\x80");
}

TEST_F(ScriptHostTest, TextWithoutMarkIsReadInTheSourceEncoding) {
  FileSource("\x8A\xE8", "windows-1250");  // "Šč"
  StreamDestination();
  ASSERT_TRUE(Run("JavaScript",
                  "MORVEX.Destination.Value = [1]; "
                  "MORVEX.Destination.Text = MORVEX.Source.Text;")
                  .Ok);
  EXPECT_EQ(output_.Data(), "\xEF\xBB\xBF\xC5\xA0\xC4\x8D");
}

TEST_F(ScriptHostTest, StreamSourceGivesFullContentForTextAndValue) {
  StreamSource("<r>1</r>");
  StreamDestination();
  const TRun run =
      Run("JScript",
          "var s = MORVEX.Source;\n"
          "var a = s.Text, b = s.Value, c = s.Text;\n"
          "if (!(b instanceof Uint8Array) || b.length !== 8) throw new Error('value');\n"
          "MORVEX.Destination.Value = b;\n"
          "var st = MORVEX.Destination.GetStream(); st.Seek(0, 2);\n"
          "st.Write(a + c + s.Kind + s.Name);");
  ASSERT_TRUE(run.Ok) << run.ErrorText;
  EXPECT_EQ(output_.Data(), "<r>1</r><r>1</r><r>1</r>streamq");
}

TEST_F(ScriptHostTest, SourcesWithoutContent) {
  source_ = {skOledb, "Provider=SQLite;Data Source=:memory:", "", nullptr};
  StreamDestination();
  const TRun run =
      Run("JScript",
          "var s = MORVEX.Source;\n"
          "MORVEX.Destination.Value = [s.Text === '' ? 1 : 0, s.Value === null ? 1 : 0,"
          " s.GetStream() === null ? 1 : 0, s.Kind === 'oledb' ? 1 : 0];");
  ASSERT_TRUE(run.Ok) << run.ErrorText;
  EXPECT_EQ(output_.Data(), std::string("\1\1\1\1"));
  source_ = {};
  ASSERT_TRUE(Run("JScript", "MORVEX.Destination.Text = '[' + MORVEX.Source.Kind + ']';").Ok);
  EXPECT_EQ(output_.Data(), "\xEF\xBB\xBF[]");
}

TEST_F(ScriptHostTest, FileDestinationWrites) {
  const std::string out = FileDestination();
  // An empty text still leaves an empty file.
  ASSERT_TRUE(Run("JScript", "MORVEX.Destination.Text = '';").Ok);
  EXPECT_TRUE(std::filesystem::exists(out));
  EXPECT_EQ(TTempDir::Read(out), "");
  // GetStream creates (truncates) the file at once; text written through an
  // open file carries the byte-order mark only at its start.
  dir_.Write("out.txt", "old content");
  const TRun run = Run("JScript",
                       "var st = MORVEX.destination.getstream();\n"
                       "if (st.Size !== 0) throw new Error('not truncated');\n"
                       "MORVEX.Destination.Text = 'a'; MORVEX.Destination.Text = 'b';\n"
                       "st.Write(new Uint8Array([0x21]));\n"
                       "st.Position = 3; var rest = st.Read();\n"
                       "if (st.Position !== 6 || rest.length !== 3) throw new Error('pos');");
  ASSERT_TRUE(run.Ok) << run.ErrorText;
  EXPECT_EQ(TTempDir::Read(out),
            "\xEF\xBB\xBF"
            "ab!");
  ASSERT_TRUE(Run("JScript", "MORVEX.Destination.Value = new Uint8Array([0, 255, 10]);").Ok);
  EXPECT_EQ(TTempDir::Read(out), std::string("\0\xFF\n", 3));
}

TEST_F(ScriptHostTest, ParametersAndTransformOptions) {
  StreamDestination();
  transform_.Delimiter = ",";
  transform_.RecordTag = "row";
  transform_.Indent = true;
  const TRun run = Run("JScript",
                       "var m = MORVEX, t = m.Transform, out = [];\n"
                       "out.push(m.ParamCount(), m.ParamValues('CITY'), m.paramvalues('empty'),\n"
                       "  m.ParamValues('nothing'), m.ParamNames(0), m.ParamNames(2));\n"
                       "out.push(t.Encoding, t.Delimiter, t.Quote, t.HeaderRow, t.RecordTag,\n"
                       "  t.Namespaces, t.SelNamespaces, t.IncludeParams, t.FlatText, t.INDENT);\n"
                       "m.Destination.Value = out.join('|');");
  ASSERT_TRUE(run.Ok) << run.ErrorText;
  EXPECT_EQ(output_.Data(), "3|Prague|||city|n|utf-8|,|\"|true|row|||true|true|true");
}

TEST_F(ScriptHostTest, JavaScriptErrorsCarryLineAndSourceLine) {
  TRun run = Run("JScript", "var a = 1;\nvar b = ;\n");
  EXPECT_FALSE(run.Ok);
  EXPECT_EQ(run.ErrorText.rfind("[line: 2, col: 0] SyntaxError: ", 0), 0u) << run.ErrorText;
  EXPECT_TRUE(run.ErrorText.ends_with(" var b = ;")) << run.ErrorText;

  run = Run("JScript", "var a = 1;\r\n\r\nthrow new Error('boom');\r\n");
  EXPECT_EQ(run.ErrorText, "[line: 3, col: 0] Error: boom throw new Error('boom');");
  run = Run("JScript", "function f() {\n  throw 'plain';\n}\nf();");
  EXPECT_EQ(run.ErrorText, "[line: 2, col: 0] plain   throw 'plain';");

  // Errors raised inside the objects reach the script as errors it can catch.
  run = Run("JScript", "var n = MORVEX.ParamNames(3);");
  EXPECT_EQ(run.ErrorText,
            "[line: 1, col: 0] Error: Parameter index 3 is out of range (3 parameters). "
            "var n = MORVEX.ParamNames(3);");
  run = Run("JScript", "x = 1;\nMORVEX.Source.Text = 'x';");
  EXPECT_EQ(run.ErrorText,
            "[line: 2, col: 0] Error: Property TMorvexSource.Text is read-only. "
            "MORVEX.Source.Text = 'x';");
  run = Run("JScript", "MORVEX.Nothing;");
  EXPECT_EQ(run.ErrorText,
            "[line: 1, col: 0] Error: TMorvexWSHIntf has no member named \"Nothing\". "
            "MORVEX.Nothing;");
  EXPECT_TRUE(Run("JScript", "try { MORVEX.ParamNames(-1); } catch (e) {}").Ok);
}

TEST_F(ScriptHostTest, ValueOfAMissingFileFailsTheRun) {
  source_ = {skFile, dir_.File("missing.txt"), "", nullptr};
  const TRun run = Run("JScript", "var x = 1;\nMORVEX.Source.Value;");
  EXPECT_FALSE(run.Ok);
  EXPECT_EQ(run.ErrorText.rfind("[line: 2, col: 0] Error: Cannot open file ", 0), 0u)
      << run.ErrorText;
}

// Every read or write failure of the content fails the step with the
// system's reason and the path, in both languages, even when the script
// catches the error.
TEST_F(ScriptHostTest, ContentErrorsFailTheStep) {
  const std::string full = dir_.Device("full", 1, 7);
  if (full.empty()) GTEST_SKIP() << "device nodes cannot be made here";
  const std::string noSpace = "Cannot write file " + full + ": No space left on device";
  destination_ = {skFile, full, "", nullptr};
  const std::pair<const char*, const char*> writes[] = {
      {"JScript", "MORVEX.Destination.Text = 'x';"},
      {"LuaScript", "MORVEX.Destination.Text = 'x'"},
      {"JScript", "try { MORVEX.Destination.Text = 'x'; } catch (e) {}"},
      {"LuaScript", "pcall(function() MORVEX.Destination.Text = 'x' end)"},
      {"JScript", "try { MORVEX.Destination.Value = [1]; } catch (e) {}"},
      {"LuaScript",
       "local s = MORVEX.Destination:GetStream()\n"
       "pcall(s.Write, s, string.rep('x', 100000))"},
  };
  for (const auto& [language, script] : writes) {
    const TRun run = Run(language, script);
    EXPECT_FALSE(run.Ok) << script;
    EXPECT_NE(run.ErrorText.find(noSpace), std::string::npos) << run.ErrorText;
  }

  const std::string missing = dir_.File("no/such/dir/out.txt");
  destination_ = {skFile, missing, "", nullptr};
  TRun run = Run("LuaScript", "MORVEX.Destination.Text = 'x'");
  EXPECT_EQ(run.ErrorText, "[line: 1, col: 0] Cannot open file " + missing +
                               ": No such file or directory MORVEX.Destination.Text = 'x'");

  // An unreadable source (a directory) fails Text as it fails Value.
  source_ = {skFile, dir_.File(""), "", nullptr};
  StreamDestination();
  run = Run("JScript",
            "var t = '';\ntry { t = MORVEX.Source.Text; } catch (e) {}\n"
            "MORVEX.Destination.Text = t;");
  EXPECT_FALSE(run.Ok);
  EXPECT_EQ(run.ErrorText, "Cannot open file " + dir_.File("") + ": Is a directory");
}

// A value whose conversion to text throws fails the assignment; the error's
// text never becomes content.
TEST_F(ScriptHostTest, ConversionErrorsAreErrors) {
  StreamDestination();
  output_.Write("previous");
  const std::string thrower = "var v = {toString: function () { throw new Error('no text'); }};\n";
  TRun run = Run("JScript", thrower + "MORVEX.Destination.Text = v;");
  EXPECT_EQ(run.ErrorText, "[line: 2, col: 0] Error: no text MORVEX.Destination.Text = v;");
  run = Run("JScript", thrower + "MORVEX.Destination.GetStream().Write(v);");
  EXPECT_FALSE(run.Ok);
  run = Run("JScript", thrower + "MORVEX.ParamValues(v);");
  EXPECT_FALSE(run.Ok);
  run = Run("JScript", "MORVEX.Destination.Value = [1, 256];");
  EXPECT_EQ(run.ErrorText,
            "[line: 1, col: 0] RangeError: An array of bytes holds only numbers from 0 to 255. "
            "MORVEX.Destination.Value = [1, 256];");
  run = Run("JScript", "MORVEX.Destination.Text = MORVEX.Source;");
  EXPECT_FALSE(run.Ok);
  EXPECT_EQ(output_.Data(), "previous");
  // Objects that convert well still do.
  ASSERT_TRUE(Run("JScript",
                  "MORVEX.Destination.Text = {toString: function () { return 'ok'; }};\n"
                  "var s = MORVEX.Destination.GetStream();\n"
                  "s.Seek(0, 2);\ns.Write([33]);")
                  .Ok);
  EXPECT_EQ(output_.Data(), "\xEF\xBB\xBFok!");
}

TEST_F(ScriptHostTest, LanguageNames) {
  StreamDestination();
  EXPECT_TRUE(Run("JSCRIPTGUI", "MORVEX.Destination.Text = 'x';").Ok);
  EXPECT_TRUE(Run("ECMAScript", "MORVEX.Destination.Text = 'x';").Ok);
  EXPECT_TRUE(Run("luascriptGUI", "MORVEX.Destination.Text = 'x'").Ok);
  const std::string available =
      std::string("; available languages: JScript, JavaScript, ECMAScript, LuaScript") +
      (PythonAvailable() ? ", PythonScript." : ".");
  EXPECT_EQ(Run("VBScript", "x = 1").ErrorText,
            "The script language \"VBScript\" is not available" + available);
  EXPECT_EQ(Run("VBScriptgui", "x = 1").ErrorText,
            "The script language \"VBScript\" is not available" + available);
  EXPECT_EQ(Run("", "x = 1").ErrorText,
            "The script language \"VBScript\" is not available" + available);
  EXPECT_EQ(Run("PerlScript", "x = 1").ErrorText,
            "The script language \"PerlScript\" is not available" + available);
}

TEST_F(ScriptHostTest, UnboundedAllocationFailsCleanly) {
  const size_t limit = size_t{32} << 20;
  TRun run = Run("JScript", "var a = [];\nwhile (true) a.push('x' + a.length);", limit);
  EXPECT_FALSE(run.Ok);
  EXPECT_NE(run.ErrorText.find("alloc"), std::string::npos) << run.ErrorText;
  run = Run("LuaScript", "local t = {}\nwhile true do t[#t + 1] = 'x' .. #t end", limit);
  EXPECT_FALSE(run.Ok);
  EXPECT_NE(run.ErrorText.find("not enough memory"), std::string::npos) << run.ErrorText;
}

// --- Lua ---

TEST_F(ScriptHostTest, LuaReadsAndWritesThroughTheObjects) {
  StreamSource("a;b\r\n");
  const std::string out = FileDestination();
  transform_.HeaderRow = false;
  const TRun run = Run("LuaScript",
                       "local m = MORVEX\n"
                       "local s = m.source\n"
                       "assert(s.Text == 'a;b\\r\\n' and s.Value == s.Text)\n"
                       "assert(m:ParamCount() == 3 and m.ParamValues('CiTy') == 'Prague')\n"
                       "assert(m.ParamValues('none') == nil and m:ParamNames(1) == 'Empty')\n"
                       "assert(m.Transform.HeaderRow == false and m.Transform.Quote == '\"')\n"
                       "local st = m.Destination:GetStream()\n"
                       "st:Write(s.Text:upper())\n"
                       "st.Position = 0\n"
                       "assert(st:Read(2) == 'A;' and st.Size == 5)\n"
                       "m.Destination.Text = 'x'\n");
  ASSERT_TRUE(run.Ok) << run.ErrorText;
  // Text assigned while the file is open goes in at the stream's position.
  EXPECT_EQ(TTempDir::Read(out), "A;x\r\n");
  ASSERT_TRUE(Run("LuaScript", "MORVEX.Destination.Value = {104, 105}").Ok);
  EXPECT_EQ(TTempDir::Read(out), "hi");
}

TEST_F(ScriptHostTest, LuaErrorsCarryLineAndSourceLine) {
  TRun run = Run("LuaScript", "local a = 1\nlocal b = = 2\n");
  EXPECT_EQ(run.ErrorText, "[line: 2, col: 0] unexpected symbol near '=' local b = = 2");
  run = Run("LuaScript", "local a = 1\n\nerror('boom')\n");
  EXPECT_EQ(run.ErrorText, "[line: 3, col: 0] boom error('boom')");
  run = Run("LuaScript", "local function f()\n  error({})\nend\nf()");
  EXPECT_EQ(run.ErrorText, "[line: 2, col: 0] (error object is a table value)   error({})");
  // An error object's __tostring is script code: it may fail too.
  run = Run("LuaScript", "error(setmetatable({}, {__tostring = function() return 'told' end}))");
  EXPECT_EQ(run.ErrorText,
            "[line: 1, col: 0] told "
            "error(setmetatable({}, {__tostring = function() return 'told' end}))");
  run = Run("LuaScript",
            "local e = setmetatable({}, {__tostring = function() error('inner') end})\nerror(e)");
  EXPECT_EQ(run.ErrorText,
            "[line: 2, col: 0] (error object is a table value; its __tostring failed: "
            "script:1: inner) error(e)");
  run = Run("LuaScript", "error(setmetatable({}, {__tostring = function() return {} end}))");
  EXPECT_NE(run.ErrorText.find("its __tostring failed: '__tostring' must return a string"),
            std::string::npos)
      << run.ErrorText;
  run = Run("LuaScript", "local x = 1\nlocal n = MORVEX.ParamNames(7)");
  EXPECT_EQ(run.ErrorText,
            "[line: 2, col: 0] Parameter index 7 is out of range (3 parameters). "
            "local n = MORVEX.ParamNames(7)");
  run = Run("LuaScript", "MORVEX.Transform.Delimiter = ','");
  EXPECT_EQ(run.ErrorText,
            "[line: 1, col: 0] Property TMorvexTransform.Delimiter is read-only. "
            "MORVEX.Transform.Delimiter = ','");
  EXPECT_TRUE(Run("LuaScript", "assert(not pcall(MORVEX.ParamNames, -1))").Ok);
  // A script cannot end the whole run (and leave its step's output behind).
  run = Run("LuaScript", "MORVEX.Destination.Value = 'x'\nos.exit(0)");
  EXPECT_EQ(run.ErrorText,
            "[line: 2, col: 0] os.exit cannot end the run; a script fails its step with error() "
            "os.exit(0)");
}

// The host calls Lua functions (stylesheet functions) under protection: a
// failing metamethod while the result is read is an error, not an abort.
TEST(LuaEngine, FunctionCallsFromTheHostFailCleanly) {
  const std::unique_ptr<TScriptEngine> engine = CreateScriptEngine("LuaScript");
  engine->Execute(
      "function f() return setmetatable({}, {__len = function() error('no length') end}) end\n"
      "function g(a) return a .. '!' end\n"
      "function h() error(setmetatable({}, {__tostring = function() error('x') end})) end");
  try {
    engine->CallFunction("f", {});
    ADD_FAILURE() << "no error";
  } catch (const EMorvexError& e) {
    EXPECT_STREQ(e.what(), "no length");
  }
  EXPECT_THROW(engine->CallFunction("h", {}), EMorvexError);
  EXPECT_EQ(std::get<std::string>(engine->CallFunction("g", {std::string("hi")})), "hi!");
}

TEST(WSHHelper, JoinsSeveralErrorsWithCrLf) {
  TWSHHelper helper("first\r\nsecond\n");
  helper.OnError({1, 4, "one"});
  helper.OnError({2, 0, "two"});
  helper.OnError({9, 0, "three"});
  EXPECT_EQ(helper.ErrorText(),
            "[line: 1, col: 4] one first\r\n[line: 2, col: 0] two second\r\n"
            "[line: 9, col: 0] three ");
}

}  // namespace
}  // namespace morvex
