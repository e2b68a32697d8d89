#include "scripting/xslt_scripts.h"

#include <gtest/gtest.h>

#include "tests/support/temp_dir.h"
#include "tests/xml/xml_endpoint_util.h"
#include "text/stream.h"
#include "xml/xslt.h"

namespace morvex {
namespace {

std::string Stylesheet(const std::string& script, const std::string& language = "JScript") {
  return R"X(<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform"
    xmlns:ms="urn:schemas-microsoft-com:xslt" xmlns:u="urn:u">
  <xsl:output method="text"/>
  <ms:script language=")X" +
         language + R"X(" implements-prefix="u"><![CDATA[)X" + script + R"X(]]></ms:script>
  <xsl:template match="/">[<xsl:value-of select="u:f(/r, count(/r/i), /r/i = 'b')"/>]</xsl:template>
</xsl:stylesheet>)X";
}

bool Transform(const std::string& stylesheet, std::string& output) {
  InstallXsltScriptHost();
  TTempDir dir;
  const std::string source = dir.Write("in.xml", "<r><i>a</i><i>b</i></r>");
  TMemoryStream out;
  std::string message;
  const bool ok =
      testing::Transform(source, testing::TStylesheetText{stylesheet}, out, {}, message);
  output = ok ? out.Data() : message;
  return ok;
}

TEST(XsltScripts, FunctionsTakeStringsNumbersAndBooleans) {
  std::string output;
  ASSERT_TRUE(Transform(Stylesheet("function f(s, n, b) {\n"
                                   "  return typeof s + ':' + s + ':' + (n + 1) + ':' + b; }"),
                        output))
      << output;
  EXPECT_EQ(output, "[string:ab:3:true]");
  ASSERT_TRUE(Transform(Stylesheet("function f() { return 2.5; }"), output)) << output;
  EXPECT_EQ(output, "[2.5]");
}

TEST(XsltScripts, FailuresFailTheTransformation) {
  std::string output;
  EXPECT_FALSE(Transform(Stylesheet("Function f() : End Function", "VBScript"), output));
  EXPECT_NE(output.find("\"VBScript\"; script blocks in stylesheets run only in JScript"),
            std::string::npos)
      << output;
  EXPECT_FALSE(Transform(Stylesheet("function f() { throw new Error('bad value'); }"), output));
  EXPECT_NE(output.find("Script function f: Error: bad value"), std::string::npos) << output;
  // A result whose conversion to text throws is an error, not its text.
  EXPECT_FALSE(Transform(
      Stylesheet(
          "function f() { return {toString: function () { throw new Error('no text'); }}; }"),
      output));
  EXPECT_NE(output.find("Script function f: Error: no text"), std::string::npos) << output;
  EXPECT_FALSE(Transform(Stylesheet("function f( {"), output));
  EXPECT_NE(output.find("Error in the stylesheet's script block: [line: 1, col: 0] SyntaxError"),
            std::string::npos)
      << output;
}

}  // namespace
}  // namespace morvex
