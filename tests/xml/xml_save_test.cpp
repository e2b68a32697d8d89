#include "xml/xml_save.h"

#include <gtest/gtest.h>

#include <string>

#include "text/encoding.h"
#include "text/error.h"
#include "text/stream.h"
#include "text/utf.h"
#include "xml/dom.h"
#include "xml/xml_document.h"
#include "xml/xml_options.h"

namespace morvex {
namespace {

TEST(WriteEncodingPreamble, MarksFollowTheEncodingWhateverTheCase) {
  struct Case {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"unicode", "\xFF\xFE"},
      {"unicodeFFFE", "\xFE\xFF"},
      {"utf-8", "\xEF\xBB\xBF"},
      {"UTF-8", "\xEF\xBB\xBF"},
      {"Unicode", "\xFF\xFE"},
      {"utf-16", "\xFF\xFE"},
      {"utf-32", std::string("\xFF\xFE\0\0", 4)},
      {"utf-16be", ""},
      {"utf8", ""},
      {"windows-1250", ""},
      {"ansi", ""},
      {"OEM", ""},
      {"", ""},
  };
  for (const Case& c : cases) {
    TMemoryStream out;
    WriteEncodingPreamble(out, c.name);
    EXPECT_EQ(out.Data(), c.bytes) << c.name;
  }
  TMemoryStream out;
  EXPECT_THROW(WriteEncodingPreamble(out, "no-such-charset"), EMorvexError);
  EXPECT_EQ(out.Data(), "");
}

class SaveXmlToStreamTest : public ::testing::Test {
 protected:
  std::string Save(const char* encoding, bool indent = false) {
    TXmlOptions options = DefaultXmlOptions();
    options.Encoding = encoding;
    options.Indent = indent;
    TMemoryStream out;
    SaveXmlToStream(document_.get(), out, &options);
    return out.Data();
  }
  TXmlDocument document_ = LoadXmlText("<r a=\"1\"><x>\xC5\xBE &amp; y</x><!--c--></r>");
};

TEST_F(SaveXmlToStreamTest, WithOptionsWritesMarkDeclarationAndContentInTheEncoding) {
  const std::string body = "<r a=\"1\"><x>\xC5\xBE &amp; y</x><!--c--></r>";
  EXPECT_EQ(Save("utf-8"), "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\"?>" + body);
  // An empty Encoding names the system charset, which is "utf-8" here.
  EXPECT_EQ(Save(""), "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\"?>" + body);
  EXPECT_EQ(Save("unicode"),
            "\xFF\xFE" + Utf8ToUtf16LeBytes("<?xml version=\"1.0\" encoding=\"unicode\"?>" + body));
  EXPECT_EQ(Save("windows-1250"),
            "<?xml version=\"1.0\" encoding=\"windows-1250\"?><r a=\"1\"><x>\x9E &amp; "
            "y</x><!--c--></r>");
}

TEST_F(SaveXmlToStreamTest, TheDeclarationNamesTheEncodingOfTheBytes) {
  const std::string body = "<r a=\"1\"><x>\xC5\xBE &amp; y</x><!--c--></r>";
  // The system words are UTF-8 without a mark; the declaration says UTF-8.
  EXPECT_EQ(Save("ansi"), "<?xml version=\"1.0\" encoding=\"UTF-8\"?>" + body);
  EXPECT_EQ(Save("utf-16"),
            "\xFF\xFE" + Utf8ToUtf16LeBytes("<?xml version=\"1.0\" encoding=\"utf-16\"?>" + body));
  EXPECT_EQ(
      Save("UTF-16BE"),
      EncodingForName("utf-16be").GetBytes("<?xml version=\"1.0\" encoding=\"UTF-16BE\"?>" + body));
  TXmlOptions unknown = DefaultXmlOptions();
  unknown.Encoding = "bogus";
  TMemoryStream out;
  EXPECT_THROW(SaveXmlToStream(document_.get(), out, &unknown), EMorvexError);
  EXPECT_EQ(out.Data(), "");
}

TEST_F(SaveXmlToStreamTest, TheDocumentsOwnDeclarationIsNotWrittenTwice) {
  TXmlOptions created = DefaultXmlOptions();
  created.Encoding = "windows-1250";
  TXmlDocument document = CreateXmlDocument(&created, true);
  AppendElement(document.get(), nullptr, "r");
  TXmlOptions options = DefaultXmlOptions();
  options.Encoding = "utf-8";
  TMemoryStream out;
  SaveXmlToStream(document.get(), out, &options);
  EXPECT_EQ(out.Data(), "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\"?><r/>");
}

TEST_F(SaveXmlToStreamTest, WithoutOptionsUsesThePlainUtf8Save) {
  TMemoryStream out;
  out.Write("prefix:");
  SaveXmlToStream(document_.get(), out, nullptr);
  EXPECT_EQ(out.Data(),
            "prefix:<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<r a=\"1\"><x>\xC5\xBE &amp; "
            "y</x><!--c--></r>\n");
  EXPECT_THROW(SaveXmlToStream(nullptr, out, nullptr), EMorvexError);
}

// A stream that refuses every write.
class TFullStream final : public TStream {
 public:
  size_t Read(void*, size_t) override { return 0; }
  void Write(const void*, size_t) override { throw EMorvexError("disk full"); }
  int64_t Seek(int64_t, SeekOrigin) override { return 0; }
  int64_t Size() override { return 0; }
  void SetSize(int64_t) override {}
};

TEST(WriteTextToStream, ConvertsAndReportsFailureAsFalse) {
  TMemoryStream out;
  EXPECT_TRUE(WriteTextToStream("", out, &EncodingForCodePage(1200), true));
  EXPECT_EQ(out.Data(), "");
  EXPECT_TRUE(WriteTextToStream("a\xC5\xBE", out, &EncodingForCodePage(1200), true));
  EXPECT_EQ(out.Data(), std::string("\xFF\xFE"
                                    "a\0\x7E\x01",
                                    6));
  TMemoryStream plain;
  EXPECT_TRUE(WriteTextToStream("a\xC5\xBE", plain, nullptr, true));
  EXPECT_EQ(plain.Data(), "a\xC5\xBE");  // the system ANSI encoding has no preamble

  TFullStream full;
  EXPECT_FALSE(WriteTextToStream("x", full, nullptr, false));
  TXmlDocument document = LoadXmlText("<r/>");
  EXPECT_THROW(SaveXmlToStream(document.get(), full, nullptr), EMorvexError);
  TXmlOptions options = DefaultXmlOptions();
  EXPECT_THROW(SaveXmlToStream(document.get(), full, &options), EMorvexError);
}

}  // namespace
}  // namespace morvex
