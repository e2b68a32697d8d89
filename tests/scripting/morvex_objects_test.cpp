#include "scripting/morvex_objects.h"

#include <gtest/gtest.h>

#include <functional>

#include "tests/support/temp_dir.h"
#include "text/error.h"
#include "text/stream.h"

namespace morvex {
namespace {

std::string Bytes(const TScriptValue& value) { return std::get<TScriptBytes>(value).Bytes; }

TScriptObject& Object(const TScriptValue& value) { return *std::get<TScriptObject*>(value); }

std::string ErrorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const EMorvexError& e) {
    return e.what();
  }
  return "no error";
}

TEST(MorvexObjects, MembersByNameAndForm) {
  TMorvexWSHIntf root({}, nullptr, {}, {});
  EXPECT_EQ(std::get<int64_t>(root.Call("PARAMCOUNT", {})), 0);
  EXPECT_TRUE(IsNull(root.Call("paramValues", std::vector<TScriptValue>{std::string("x")})));
  EXPECT_EQ(&Object(root.Get("source")), &root.Source());
  EXPECT_EQ(ErrorOf([&] { root.Get("ParamCount"); }),
            "TMorvexWSHIntf.ParamCount is a method, not a property.");
  EXPECT_EQ(ErrorOf([&] { root.Call("Source", {}); }),
            "TMorvexWSHIntf.Source is a property, not a method.");
  EXPECT_EQ(ErrorOf([&] { root.Set("Source", int64_t{1}); }),
            "Property TMorvexWSHIntf.Source is read-only.");
  EXPECT_EQ(ErrorOf([&] { root.Set("ParamNames", int64_t{1}); }),
            "Method TMorvexWSHIntf.ParamNames is read-only.");
  EXPECT_EQ(ErrorOf([&] { root.Call("ParamNames", {}); }),
            "TMorvexWSHIntf.ParamNames takes 1 argument, not 0.");
  EXPECT_EQ(ErrorOf([&] { root.Call("ParamNames", std::vector<TScriptValue>{0.5}); }),
            "The parameter index must be a whole number.");
  EXPECT_EQ(ErrorOf([&] { root.Source().Set("Encoding", std::string("x")); }),
            "Property TMorvexSource.Encoding is read-only.");
  EXPECT_EQ(ErrorOf([&] { root.Destination().Get("Encoding"); }),
            "TMorvexDestination has no member named \"Encoding\".");
}

TEST(MorvexObjects, ValuesAsText) {
  EXPECT_EQ(ScriptValueText(0.1), "0.1");
  EXPECT_EQ(ScriptValueText(3.0), "3");
  EXPECT_EQ(ScriptValueText(int64_t{-7}), "-7");
  EXPECT_EQ(ScriptValueText(true), "true");
  EXPECT_EQ(ScriptValueText({}), "");
  EXPECT_EQ(ErrorOf([] { ScriptValueText(TScriptBytes{"x"}); }),
            "A byte array cannot be used as text.");
}

TEST(MorvexObjects, ParametersFollowTheLiveList) {
  std::vector<std::string> parameters{"a=1"};
  TMorvexWSHIntf root({}, &parameters, {}, {});
  parameters.push_back("Straße=x=y");
  EXPECT_EQ(root.ParamCount(), 2);
  std::string value;
  EXPECT_TRUE(root.ParamValue("STRAßE", value));
  EXPECT_EQ(value, "x=y");
  EXPECT_EQ(root.ParamName(1), "Straße");
  EXPECT_EQ(ErrorOf([&] { root.ParamName(2); }),
            "Parameter index 2 is out of range (2 parameters).");
}

TEST(MorvexObjects, FileFailures) {
  TTempDir dir;
  const std::string missing = dir.File("no/such/dir/file.txt");
  TMorvexWSHIntf root({skFile, missing, "", nullptr}, nullptr, {}, {skFile, missing, "", nullptr});
  // Text, Value and GetStream fail alike, naming the file and the reason.
  const std::string reason = missing + ": No such file or directory";
  EXPECT_EQ(ErrorOf([&] { root.Source().Get("Text"); }), "Cannot open file " + reason);
  EXPECT_EQ(ErrorOf([&] { root.Destination().Set("Text", std::string("lost")); }),
            "Cannot open file " + reason);
  EXPECT_EQ(ErrorOf([&] { root.Source().Get("Value"); }).rfind("Cannot open file ", 0), 0u);
  EXPECT_EQ(ErrorOf([&] { root.Source().Call("GetStream", {}); }).rfind("Cannot open file ", 0),
            0u);
  EXPECT_EQ(ErrorOf([&] {
              root.Destination().Set("Value", TScriptBytes{"x"});
            }).rfind("Cannot open file ", 0),
            0u);
  EXPECT_EQ(ErrorOf([&] { root.Destination().Set("Value", int64_t{5}); }),
            "Value must be an array of bytes.");
  // A file without a location has no content and no stream.
  TMorvexWSHIntf unnamed({skFile, "", "", nullptr}, nullptr, {}, {});
  EXPECT_TRUE(IsNull(unnamed.Source().Get("Value")));
  EXPECT_TRUE(IsNull(unnamed.Source().Call("GetStream", {})));
}

TEST(MorvexObjects, StreamsOfAFileDestination) {
  TTempDir dir;
  const std::string path = dir.Write("out.txt", "old");
  TMorvexWSHIntf root({}, nullptr, {}, {skFile, path, "", nullptr});
  TScriptObject& stream = Object(root.Destination().Call("GetStream", {}));
  EXPECT_EQ(TTempDir::Read(path), "");  // created at once
  stream.Call("Write", std::vector<TScriptValue>{TScriptBytes{"abcdef"}});
  // The same wrapper comes back, where the script left it.
  TScriptObject& again = Object(root.Destination().Call("GetStream", {}));
  EXPECT_EQ(&again, &stream);
  EXPECT_EQ(std::get<int64_t>(again.Get("Position")), 6);
  EXPECT_EQ(std::get<int64_t>(stream.Call("Seek", std::vector<TScriptValue>{-2.0, 2.0})), 4);
  EXPECT_EQ(Bytes(stream.Call("Read", std::vector<TScriptValue>{100.0})), "ef");
  EXPECT_EQ(std::get<int64_t>(stream.Call("Seek", std::vector<TScriptValue>{1.0})), 1);
  EXPECT_EQ(Bytes(stream.Call("Read", std::vector<TScriptValue>{2.0})), "bc");
  EXPECT_EQ(ErrorOf([&] {
              stream.Call("Seek", std::vector<TScriptValue>{0.0, 3.0});
            }),
            "The origin must be 0 (start), 1 (current position) or 2 (end).");
  EXPECT_EQ(ErrorOf([&] { stream.Call("Read", std::vector<TScriptValue>{-1.0}); }),
            "The count of bytes to read must not be negative.");
  EXPECT_EQ(ErrorOf([&] { stream.Set("Size", int64_t{0}); }),
            "Property TMorvexStream.Size is read-only.");
  // Value reads the open file from its start; Close delivers every byte.
  EXPECT_EQ(Bytes(root.Destination().Get("Value")), "abcdef");
  root.Close();
  EXPECT_EQ(TTempDir::Read(path), "abcdef");
}

TEST(MorvexObjects, StreamDestinationIsReplacedOnEachAssignment) {
  TMemoryStream out("previous");
  TMorvexWSHIntf root({}, nullptr, {}, {skStream, "out", "", &out});
  root.Destination().Set("Value", TScriptBytes{"12"});
  EXPECT_EQ(out.Data(), "12");
  root.Destination().Set("Value", TScriptBytes{""});
  EXPECT_EQ(out.Data(), "");
  root.Destination().Set("Text", std::string("é"));
  EXPECT_EQ(out.Data(), "\xEF\xBB\xBF\xC3\xA9");
  EXPECT_EQ(std::get<std::string>(root.Destination().Get("Text")), "é");
}

}  // namespace
}  // namespace morvex
