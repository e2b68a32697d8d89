// The bridge runs the test interpreter libraries built from
// tests/scripting/test_interpreter.c. The library stays loaded for the whole
// process, so each test starts by unloading it.
#include "scripting/interpreter_bridge.h"

#include <gtest/gtest.h>

#include "tests/support/raised_message.h"
#include "tests/support/temp_dir.h"
#include "text/stream.h"

namespace morvex {
namespace {

class InterpreterBridgeTest : public ::testing::Test {
 protected:
  bool Run(const std::string& script, const std::string& language = "zqscript") {
    TXTransformInfo transform;
    transform.Content = script;
    transform.SecondContent = "second text";
    transform.Language = language;
    transform.Delimiter = ",";
    return testing::Succeeds(
        [&] { RunExternalScript(source_, destination_, transform, &parameters_, texts_); }, error_);
  }

  TMemoryStream input_{"source bytes"};
  TMemoryStream output_;
  TXSourceInfo source_{skStream, "in", "", &input_};
  TXSourceInfo destination_{skStream, "out", "", &output_};
  std::vector<std::string> parameters_{"a=1", "B=two"};
  std::vector<std::string> texts_{"a=1", "B=two"};
  std::string error_;
};

TEST_F(InterpreterBridgeTest, MissingLibraryIsInterpreterNotFound) {
  ResetInterpreterForTests("");
  EXPECT_FALSE(Run("copy"));
  EXPECT_EQ(error_, "Interpreter not found!");
  EXPECT_FALSE(Run("copy", "zqscriptgui"));
  EXPECT_EQ(error_, "Interpreter not found!");
}

TEST_F(InterpreterBridgeTest, LibraryWithoutAnEntryPointIsInterpreterNotFound) {
  ResetInterpreterForTests(MORVEX_TEST_INTERPRETER_DIR "-incomplete");
  EXPECT_FALSE(Run("copy"));
  EXPECT_EQ(error_, "Interpreter not found!");
  EXPECT_EQ(output_.Data(), "");
}

TEST_F(InterpreterBridgeTest, InterpreterReachesTheObjects) {
  ResetInterpreterForTests(MORVEX_TEST_INTERPRETER_DIR);
  ASSERT_TRUE(Run("variant\ncopy\nflag\nsecond\noptions")) << error_;
  EXPECT_EQ(output_.Data(), "ECLsource bytesfalsesecond text,|true");
  ASSERT_TRUE(Run("params\nbadindex")) << error_;
  EXPECT_EQ(output_.Data(),
            "2|a=1|B=two|(none)=(null)Parameter index 99 is out of range (2 parameters).");
  ASSERT_TRUE(Run("upper")) << error_;
  EXPECT_EQ(output_.Data(), "\xEF\xBB\xBFSOURCE BYTES");  // Text goes out in UTF-8

  // A file destination written through the host.
  TTempDir dir;
  destination_ = {skFile, dir.File("out.bin"), "", nullptr};
  ASSERT_TRUE(Run("copy")) << error_;
  EXPECT_EQ(TTempDir::Read(dir.File("out.bin")), "source bytes");
}

TEST_F(InterpreterBridgeTest, CommandStringCarriesHostAndParameterTexts) {
  ResetInterpreterForTests(MORVEX_TEST_INTERPRETER_DIR);
  ASSERT_TRUE(Run("command")) << error_;
  const std::string& command = output_.Data();
  EXPECT_EQ(command.rfind("\"/zqs{host-interface=", 0), 0u) << command;
  EXPECT_TRUE(command.ends_with(",MORVEX;}\" \"a=1\" \"B=two\" ")) << command;
  EXPECT_EQ(InterpreterCommand(1234, {}), "\"/zqs{host-interface=1234,MORVEX;}\" ");
}

// A parameter text stays one item whatever it holds: it cannot forge a
// host interface of its own.
TEST_F(InterpreterBridgeTest, ParameterTextsStayOneItem) {
  ResetInterpreterForTests(MORVEX_TEST_INTERPRETER_DIR);
  texts_ = {"x=a\" \"/zqs{host-interface=1,MORVEX;}", "y=\"\"", "z=", "w=a b"};
  ASSERT_TRUE(Run("items\nparams")) << error_;
  const std::string& out = output_.Data();
  EXPECT_EQ(out.rfind("[/zqs{host-interface=", 0), 0u) << out;
  EXPECT_NE(out.find(",MORVEX;}][x=a\" \"/zqs{host-interface=1,MORVEX;}][y=\"\"][z=][w=a b]2|"),
            std::string::npos)
      << out;
  EXPECT_EQ(InterpreterCommand(7, {"a\"b"}), "\"/zqs{host-interface=7,MORVEX;}\" \"a\"\"b\" ");
}

// The library is read before it is loaded: one without every entry point
// is refused before any of its code (a constructor) runs.
TEST_F(InterpreterBridgeTest, IncompleteLibraryNeverRuns) {
  unsetenv("MORVEX_TEST_INTERPRETER_LOADED");
  ResetInterpreterForTests(MORVEX_TEST_INTERPRETER_DIR "-incomplete");
  EXPECT_FALSE(Run("copy"));
  EXPECT_EQ(getenv("MORVEX_TEST_INTERPRETER_LOADED"), nullptr);
  // The refused library stands for the interpreter: no other is tried.
  EXPECT_FALSE(Run("copy", "zqscriptgui"));
  EXPECT_EQ(getenv("MORVEX_TEST_INTERPRETER_LOADED"), nullptr);

  ResetInterpreterForTests(MORVEX_TEST_INTERPRETER_DIR);
  ASSERT_TRUE(Run("variant")) << error_;
  EXPECT_STREQ(getenv("MORVEX_TEST_INTERPRETER_LOADED"), "ECL");
}

// An interpreter that reports success after a failed write (here "upper",
// which does not look at the result of its assignment) fails the step.
TEST_F(InterpreterBridgeTest, FailedWritesFailTheStep) {
  ResetInterpreterForTests(MORVEX_TEST_INTERPRETER_DIR);
  TTempDir dir;
  const std::string missing = dir.File("no/such/dir/out.txt");
  destination_ = {skFile, missing, "", nullptr};
  EXPECT_FALSE(Run("upper"));
  EXPECT_EQ(error_, "Cannot open file " + missing + ": No such file or directory");
  const std::string full = dir.Device("full", 1, 7);
  if (full.empty()) GTEST_SKIP() << "device nodes cannot be made here";
  destination_ = {skFile, full, "", nullptr};
  EXPECT_FALSE(Run("upper"));
  EXPECT_EQ(error_, "Cannot write file " + full + ": No space left on device");
}

TEST_F(InterpreterBridgeTest, ResultCodes) {
  ResetInterpreterForTests(MORVEX_TEST_INTERPRETER_DIR);
  EXPECT_FALSE(Run("result 1"));
  EXPECT_EQ(error_, "result 1");
  EXPECT_FALSE(Run("result -3"));
  EXPECT_EQ(error_, "result -3");
  error_.clear();
  EXPECT_TRUE(Run("result 0"));  // a text with success is not an error
  EXPECT_TRUE(Run("result 2"));
  EXPECT_TRUE(Run("result -1"));
  EXPECT_EQ(error_, "");
}

TEST_F(InterpreterBridgeTest, FirstLoadedVariantStays) {
  ResetInterpreterForTests(MORVEX_TEST_INTERPRETER_DIR);
  ASSERT_TRUE(Run("variant", "ZQScriptGUI")) << error_;
  EXPECT_EQ(output_.Data(), "E");
  ASSERT_TRUE(Run("variant", "zqscript")) << error_;
  EXPECT_EQ(output_.Data(), "E");
}

}  // namespace
}  // namespace morvex
