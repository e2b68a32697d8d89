#include "xml/xslt.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/support/temp_dir.h"
#include "tests/xml/xml_endpoint_util.h"
#include "text/stream.h"

namespace morvex {
namespace {

std::string Stylesheet(const std::string& body, const std::string& extra = "") {
  return "<xsl:stylesheet version='1.0' xmlns:xsl='http://www.w3.org/1999/XSL/Transform'" + extra +
         "><xsl:output method='text'/>" + body + "</xsl:stylesheet>";
}

bool TransformText(const std::string& source, const std::string& stylesheet, std::string& output,
                   std::string& message, const TTransformParameters& parameters = {}) {
  TMemoryStream in(source);
  TMemoryStream out;
  bool ok = testing::Transform(in, testing::TStylesheetText{stylesheet}, out, parameters, message);
  output = out.Data();
  return ok;
}

TEST(TransformXml, ParametersArriveTyped) {
  const std::string stylesheet = Stylesheet(
      "<xsl:param name='n'/><xsl:param name='d'/><xsl:param name='b' select='true()'/>"
      "<xsl:param name='s'/><xsl:param name='q:z'/><xsl:param name='big'/>"
      "<xsl:template match='/'>"
      "<xsl:value-of select=\"concat($n = '10.0', '|', $d * 2, '|', not($b), '|', $s, '|', $q:z, "
      "'|', $big div 1000000000000000000000)\"/>"
      "</xsl:template>",
      " xmlns:q='urn:q'");
  const std::string hostileText = "a'b\"c') or ('1";
  TTransformParameters parameters = {
      {"n", int64_t{5}, ""},  // replaced by the later n
      {"d", 2.25, ""},        {"b", false, ""},
      {"s", hostileText, ""}, {"z", std::string("zz"), "urn:q"},
      {"n", int64_t{10}, ""}, {"big", -1e21, ""},
  };
  std::string output, message;
  ASSERT_TRUE(TransformText("<r/>", stylesheet, output, message, parameters)) << message;
  EXPECT_EQ(message, "");
  // A number equals '10.0' and a boolean false negates to true; the string
  // "10" or "false" would give the opposite.
  EXPECT_EQ(output, "true|4.5|true|" + hostileText + "|zz|-1");
}

// Result tree fragments become node-sets through node-set() in the EXSLT
// namespace and in the Windows XML service's own namespace.
TEST(TransformXml, NodeSetInEitherExtensionNamespace) {
  const std::string body =
      "<xsl:variable name='rows'><row n='2'/><row n='3'/></xsl:variable>"
      "<xsl:template match='/'>"
      "<xsl:for-each select='P:node-set($rows)/row'><xsl:value-of select='@n * 10'/>,"
      "</xsl:for-each><xsl:value-of select='count(P:node-set(//i))'/>"
      "</xsl:template>";
  const std::pair<const char*, const char*> namespaces[] = {
      {"exsl", " xmlns:exsl='http://exslt.org/common' extension-element-prefixes='exsl'"},
      {"msxsl", " xmlns:msxsl='urn:schemas-microsoft-com:xslt' exclude-result-prefixes='msxsl'"},
  };
  for (const auto& [prefix, declaration] : namespaces) {
    std::string stylesheet = Stylesheet(body, declaration);
    for (size_t at = stylesheet.find("P:"); at != std::string::npos; at = stylesheet.find("P:")) {
      stylesheet.replace(at, 1, prefix);
    }
    std::string output, message;
    EXPECT_TRUE(TransformText("<r><i/><i/></r>", stylesheet, output, message)) << message;
    EXPECT_EQ(output, "20,30,2") << prefix;
  }
}

class TransformFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    source_ = dir_.Write("source.xml", "<r><i>1</i><i>2</i></r>");
    stylesheetText_ =
        Stylesheet("<xsl:template match='/'>sum=<xsl:value-of select='sum(//i)'/></xsl:template>");
    stylesheet_ = dir_.Write("style.xsl", stylesheetText_);
  }
  std::string SourceText() const { return TTempDir::Read(source_); }

  TTempDir dir_;
  std::string source_, stylesheet_, stylesheetText_;
};

TEST_F(TransformFiles, EveryVariantTransforms) {
  const std::string out = dir_.File("out.txt");
  const TTransformParameters none;
  std::string message;
  int variant = 0;
  auto expectFile = [&](bool ok) {
    ++variant;
    ASSERT_TRUE(ok) << "variant " << variant << ": " << message;
    EXPECT_EQ(TTempDir::Read(out), "sum=3") << "variant " << variant;
    dir_.Write("out.txt", "an older and much longer content that must disappear");
  };
  auto expectStream = [&](bool ok, TMemoryStream& stream) {
    ++variant;
    ASSERT_TRUE(ok) << "variant " << variant << ": " << message;
    EXPECT_EQ(stream.Data(), "prefix|sum=3") << "variant " << variant;
  };
  auto output = [] {
    TMemoryStream stream;
    stream.Write("prefix|");
    return stream;
  };
  TMemoryStream source(SourceText());
  source.Seek(0, SeekOrigin::End);  // read from position 0 all the same

  expectFile(testing::Transform(source_, stylesheet_, out, none, message));
  TMemoryStream s2 = output();
  expectStream(testing::Transform(source_, stylesheet_, s2, none, message), s2);
  TMemoryStream s3 = output();
  expectStream(
      testing::Transform(source_, testing::TStylesheetText{stylesheetText_}, s3, none, message),
      s3);
  expectFile(
      testing::Transform(source_, testing::TStylesheetText{stylesheetText_}, out, none, message));
  expectFile(testing::Transform(source, stylesheet_, out, none, message));
  TMemoryStream s6 = output();
  expectStream(testing::Transform(source, stylesheet_, s6, none, message), s6);
  expectFile(
      testing::Transform(source, testing::TStylesheetText{stylesheetText_}, out, none, message));
  TMemoryStream s8 = output();
  expectStream(
      testing::Transform(source, testing::TStylesheetText{stylesheetText_}, s8, none, message), s8);
}

TEST_F(TransformFiles, FailuresComeBackAsMessages) {
  const std::string out = dir_.Write("out.txt", "keep me");
  std::string message;
  auto expectFailure = [&](bool ok, const std::string& part) {
    EXPECT_FALSE(ok);
    EXPECT_NE(message.find(part), std::string::npos) << message;
    EXPECT_EQ(TTempDir::Read(out), "keep me");
  };
  TMemoryStream broken(std::string("<r>\n<i></r>"));
  expectFailure(testing::Transform(broken, stylesheet_, out, {}, message), "[line: 2, col: ");
  expectFailure(testing::Transform(source_, dir_.File("missing.xsl"), out, {}, message),
                dir_.File("missing.xsl"));
  expectFailure(testing::Transform(
                    source_,
                    testing::TStylesheetText{Stylesheet(
                        "<xsl:template match='/'><xsl:value-of select='//i['/></xsl:template>")},
                    out, {}, message),
                "Invalid expression");
  expectFailure(testing::Transform(source_,
                                   testing::TStylesheetText{Stylesheet(
                                       "<xsl:template match='/'><xsl:message terminate='yes'>stop "
                                       "here</xsl:message></xsl:template>")},
                                   out, {}, message),
                "stop here");
  expectFailure(testing::Transform(source_, testing::TStylesheetText{"<r/>"}, out, {}, message),
                "stylesheet");
  std::string encoded =
      "<xsl:stylesheet version='1.0' xmlns:xsl='http://www.w3.org/1999/XSL/Transform'>"
      "<xsl:output encoding='no-such-encoding'/><xsl:template "
      "match='/'><r/></xsl:template></xsl:stylesheet>";
  expectFailure(testing::Transform(source_, testing::TStylesheetText{encoded}, out, {}, message),
                "no-such-encoding");
  EXPECT_FALSE(
      testing::Transform(source_, stylesheet_, dir_.File("no/such/dir/out.txt"), {}, message));
  EXPECT_NE(message.find("no/such/dir/out.txt"), std::string::npos) << message;
}

// A source read from a file keeps the file as its base URI and as the name
// in its parse errors; the same bytes from a stream have neither.
TEST_F(TransformFiles, AFileSourceKeepsItsPath) {
  std::filesystem::create_directory(dir_.File("sub"));
  const std::string source = dir_.Write("sub/source.xml", "<r/>");
  dir_.Write("sub/near.xml", "<o>near</o>");
  const std::string nearby = Stylesheet(
      "<xsl:template match='/'><xsl:value-of select=\"document('near.xml', /)\"/>"
      "</xsl:template>");
  TMemoryStream out;
  std::string message;
  ASSERT_TRUE(testing::Transform(source, testing::TStylesheetText{nearby}, out, {}, message))
      << message;
  EXPECT_EQ(out.Data(), "near");
  TMemoryStream sameBytes(std::string("<r/>"));
  TMemoryStream unresolved;
  testing::Transform(sameBytes, testing::TStylesheetText{nearby}, unresolved, {}, message);
  EXPECT_NE(unresolved.Data(), "near");

  const std::string broken = dir_.Write("sub/broken.xml", "<r>\n<i></r>");
  EXPECT_FALSE(testing::Transform(broken, stylesheet_, out, {}, message));
  EXPECT_EQ(message.rfind(broken + ": [line: 2, col: ", 0), 0u) << message;
  TMemoryStream brokenStream(std::string("<r>\n<i></r>"));
  EXPECT_FALSE(testing::Transform(brokenStream, stylesheet_, out, {}, message));
  EXPECT_EQ(message.find(broken), std::string::npos) << message;
}

// An output file comes into being only with a result: a failed
// transformation creates none and one that cannot be written leaves none.
TEST_F(TransformFiles, NoOutputFileWithoutAResult) {
  const std::string out = dir_.File("new.txt");
  std::string message;
  const std::pair<std::string, const char*> failures[] = {
      {Stylesheet("<xsl:template match='/'><xsl:message terminate='yes'>stop</xsl:message>"
                  "</xsl:template>"),
       "stop"},
      {"<xsl:stylesheet version='1.0' xmlns:xsl='http://www.w3.org/1999/XSL/Transform'>"
       "<xsl:output encoding='no-such-encoding'/><xsl:template match='/'><r/></xsl:template>"
       "</xsl:stylesheet>",
       "no-such-encoding"},
  };
  for (const auto& [stylesheet, part] : failures) {
    EXPECT_FALSE(
        testing::Transform(source_, testing::TStylesheetText{stylesheet}, out, {}, message));
    EXPECT_NE(message.find(part), std::string::npos) << message;
    EXPECT_FALSE(std::filesystem::exists(out)) << part;
  }
}

TEST_F(TransformFiles, OutputFollowsXslOutput) {
  std::string output, message;
  ASSERT_TRUE(TransformText(
      "<r>\xC5\xBE</r>",
      "<xsl:stylesheet version='1.0' xmlns:xsl='http://www.w3.org/1999/XSL/Transform'>"
      "<xsl:output encoding='ISO-8859-2'/><xsl:template match='/'><o><xsl:value-of "
      "select='r'/></o></xsl:template>"
      "</xsl:stylesheet>",
      output, message))
      << message;
  EXPECT_EQ(output, "<?xml version=\"1.0\" encoding=\"ISO-8859-2\"?>\n<o>\xBE</o>\n");
}

class XsltSecurity : public TransformFiles {
 protected:
  void SetUp() override {
    TransformFiles::SetUp();
    secret_ = dir_.Write("secret.txt", "TOP-SECRET-42");
    hostile_ = dir_.Write("hostile.xml",
                          "<!DOCTYPE r [<!ENTITY x SYSTEM 'file://" + secret_ + "'>]><r>&x;</r>");
    dir_.Write("other.xml", "<o>other-data</o>");
  }
  // Runs a text stylesheet on the plain source; the secret must show up
  // neither in the output nor in the message.
  bool RunSafely(const std::string& stylesheet, std::string& output, std::string& message) {
    bool ok = TransformText(SourceText(), stylesheet, output, message);
    EXPECT_EQ(output.find("TOP-SECRET"), std::string::npos);
    EXPECT_EQ(message.find("TOP-SECRET"), std::string::npos);
    return ok;
  }
  std::string DocumentCall(const std::string& uri) {
    return Stylesheet("<xsl:template match='/'><xsl:value-of select=\"document('" + uri +
                      "')\"/></xsl:template>");
  }
  std::string secret_, hostile_;
};

TEST_F(XsltSecurity, HostileSourcesAndStylesheetsAreRefused) {
  std::string message;
  TMemoryStream out;
  EXPECT_FALSE(testing::Transform(hostile_, stylesheet_, out, {}, message));
  EXPECT_NE(message.find("DTD is prohibited"), std::string::npos) << message;
  std::string hostileStylesheet =
      dir_.Write("hostile.xsl", "<!DOCTYPE x [<!ENTITY x SYSTEM 'file://" + secret_ + "'>]>" +
                                    Stylesheet("<xsl:template match='/'>&x;</xsl:template>"));
  EXPECT_FALSE(testing::Transform(source_, hostileStylesheet, out, {}, message));
  EXPECT_NE(message.find("DTD is prohibited"), std::string::npos) << message;
  EXPECT_EQ(out.Data().find("TOP-SECRET"), std::string::npos);
}

TEST_F(XsltSecurity, DocumentReadsOnlySafeLocalXml) {
  std::string output, message;
  ASSERT_TRUE(RunSafely(DocumentCall(dir_.File("other.xml")), output, message)) << message;
  EXPECT_EQ(output, "other-data");
  ASSERT_TRUE(RunSafely(DocumentCall("file://" + dir_.File("other.xml")), output, message))
      << message;
  EXPECT_EQ(output, "other-data");

  EXPECT_FALSE(RunSafely(DocumentCall(hostile_), output, message));
  EXPECT_NE(message.find("DTD is prohibited"), std::string::npos) << message;
  EXPECT_FALSE(RunSafely(DocumentCall(secret_), output, message));
  EXPECT_FALSE(RunSafely(DocumentCall("http://127.0.0.1:9/x.xml"), output, message));
  EXPECT_FALSE(message.empty());
}

TEST_F(XsltSecurity, StylesheetsCannotWriteFilesButMayImport) {
  const std::string target = dir_.File("written.txt");
  std::string output, message;
  EXPECT_FALSE(RunSafely(
      Stylesheet("<xsl:template match='/'><exsl:document href='" + target +
                     "' method='text'>owned</exsl:document></xsl:template>",
                 " xmlns:exsl='http://exslt.org/common' extension-element-prefixes='exsl'"),
      output, message));
  EXPECT_FALSE(std::filesystem::exists(target));

  std::string imported =
      dir_.Write("imported.xsl", Stylesheet("<xsl:template match='/'>imported</xsl:template>"));
  auto importing = [](const std::string& href) {
    return "<xsl:stylesheet version='1.0' xmlns:xsl='http://www.w3.org/1999/XSL/Transform'>"
           "<xsl:import href='" +
           href + "'/><xsl:output method='text'/></xsl:stylesheet>";
  };
  ASSERT_TRUE(RunSafely(importing(imported), output, message)) << message;
  EXPECT_EQ(output, "imported");
  std::string hostileImport =
      dir_.Write("evil.xsl", "<!DOCTYPE x [<!ENTITY x SYSTEM 'file://" + secret_ + "'>]>" +
                                 Stylesheet("<xsl:template match='/'>&x;</xsl:template>"));
  EXPECT_FALSE(RunSafely(importing(hostileImport), output, message));
  EXPECT_NE(message.find("DTD is prohibited"), std::string::npos) << message;
}

}  // namespace
}  // namespace morvex
