#include "xml/sax_parser.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <libxml/tree.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "text/encoding.h"
#include "text/error.h"
#include "text/stream.h"
#include "xml/xml_document.h"

namespace morvex {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

// Hands out one byte per Read, so that every chunk boundary of the reader
// falls everywhere once.
class TOneByteStream final : public TStream {
 public:
  explicit TOneByteStream(std::string bytes) : bytes_(std::move(bytes)) {}
  size_t Read(void* buffer, size_t count) override {
    if (count == 0 || pos_ >= bytes_.size()) return 0;
    *static_cast<char*>(buffer) = bytes_[pos_++];
    return 1;
  }
  void Write(const void*, size_t) override { throw EMorvexError("read-only test stream"); }
  int64_t Seek(int64_t, SeekOrigin) override { return static_cast<int64_t>(pos_); }
  int64_t Size() override { return static_cast<int64_t>(bytes_.size()); }
  void SetSize(int64_t) override {}

 private:
  std::string bytes_;
  size_t pos_ = 0;
};

// Records every event as one line; adjacent character pieces are joined, as
// the reader may deliver one text in several calls.
class TEventLog {
 public:
  explicit TEventLog(TXMLParser& parser) {
    parser.OnStartDocument = [this] { Add("start-document"); };
    parser.OnEndDocument = [this] { Add("end-document"); };
    parser.OnStartPrefixMapping = [this](auto prefix, auto uri) {
      Add("prefix " + std::string(prefix) + "=" + std::string(uri));
    };
    parser.OnEndPrefixMapping = [this](auto prefix) { Add("end-prefix " + std::string(prefix)); };
    parser.OnStartElement = [this](auto uri, auto localName, auto qName, const TXMLAttributes& a) {
      std::string line =
          "<" + std::string(qName) + " {" + std::string(uri) + "}" + std::string(localName);
      for (int i = 0; i < a.Length(); ++i) {
        line += " " + a.QName(i) + "{" + a.URI(i) + "}" + a.LocalName(i) + ":" + a.Type(i) + "=[" +
                a.Value(i) + "]";
      }
      Add(line);
    };
    parser.OnEndElement = [this](auto uri, auto, auto qName) {
      Add("</" + std::string(qName) + " {" + std::string(uri) + "}");
    };
    parser.OnCharacters = [this](auto chars) {
      if (!lines_.empty() && lines_.back().rfind("text ", 0) == 0) {
        lines_.back() += chars;
      } else {
        Add("text " + std::string(chars));
      }
    };
    parser.OnStartCData = [this] { Add("cdata"); };
    parser.OnEndCData = [this] { Add("end-cdata"); };
    parser.OnComment = [this](auto chars) { Add("comment " + std::string(chars)); };
    parser.OnProcessingInstruction = [this](auto target, auto data) {
      Add("pi " + std::string(target) + "|" + std::string(data));
    };
    parser.OnFatalError = [this](const TXMLLocator& locator, auto message, int) {
      Add("fatal " + std::to_string(locator.Line) + ":" + std::to_string(locator.Column) + " " +
          std::string(message));
    };
  }
  const std::vector<std::string>& Lines() const { return lines_; }

 private:
  void Add(std::string line) { lines_.push_back(std::move(line)); }
  std::vector<std::string> lines_;
};

std::vector<std::string> ReadEvents(TStream& input) {
  TXMLParser parser;
  TEventLog log(parser);
  parser.Parse(input);
  return log.Lines();
}

std::vector<std::string> ReadEvents(const std::string& xml) {
  TMemoryStream input(xml);
  return ReadEvents(input);
}

// The message Parse raises for `xml`, with the events seen before it.
std::string ParseError(const std::string& xml, std::vector<std::string>* events = nullptr) {
  TXMLParser parser;
  TEventLog log(parser);
  TMemoryStream input(xml);
  try {
    parser.Parse(input);
  } catch (const EMorvexError& e) {
    if (events != nullptr) *events = log.Lines();
    return e.what();
  }
  ADD_FAILURE() << "no error for " << xml;
  return {};
}

// The bytes a writer produces: `body` drives a parser whose output is a
// memory stream; `setup` adjusts the settings first.
std::string Written(const std::function<void(TXMLParser&)>& body,
                    const std::function<void(TXMLParser&)>& setup = {}) {
  TMemoryStream out;
  TXMLParser parser;
  parser.SetOutput(&out);
  parser.writing = true;
  parser.omitXMLDeclaration = true;
  if (setup) setup(parser);
  body(parser);
  return out.Data();
}

const std::string kRichDocument =
    "<?xml version=\"1.0\"?>\n"
    "<?app run now?>\n"
    "<d:root xmlns:d=\"urn:d\" xmlns=\"urn:default\" id=\"a&amp;b&#38;c&lt;&#x41;&quot;\" "
    "d:empty=\"\" tab=\"x&#9;y\">\n"
    "<item>t&amp;x&#65;&gt;</item><![CDATA[raw <b> & ]] text]]><!-- note --><leaf/>"
    "</d:root>";

const std::vector<std::string> kRichEvents = {
    "start-document",
    "pi app|run now",
    "prefix d=urn:d",
    "prefix =urn:default",
    "<d:root {urn:d}root id{}id:CDATA=[a&b&c<A\"] d:empty{urn:d}empty:CDATA=[] "
    "tab{}tab:CDATA=[x\ty]",
    "text \n",
    "<item {urn:default}item",
    "text t&xA>",
    "</item {urn:default}",
    "cdata",
    "text raw <b> & ]] text",
    "end-cdata",
    "comment  note ",
    "<leaf {urn:default}leaf",
    "</leaf {urn:default}",
    "</d:root {urn:d}",
    "end-prefix ",
    "end-prefix d",
    "end-document",
};

// --- reading ---

TEST(SaxReader, ReportsEveryKindOfContentWithNamespacesAndResolvedReferences) {
  EXPECT_EQ(ReadEvents(kRichDocument), kRichEvents);
}

TEST(SaxReader, OneByteChunksGiveTheSameEventsAsOneChunk) {
  // A CDATA section longer than the parser's delivery blocks stays one section.
  const std::string xml = kRichDocument.substr(0, kRichDocument.size() - 9) + "<![CDATA[" +
                          std::string(5000, 'x') + "]]]]><![CDATA[>" + std::string(700, 'y') +
                          "]]>" + std::string(3000, 'z') + "</d:root>";
  TOneByteStream slow(xml);
  std::vector<std::string> oneByte = ReadEvents(slow);
  EXPECT_EQ(oneByte, ReadEvents(xml));
  ASSERT_GT(oneByte.size(), 11u);
  const std::vector<std::string> tail(oneByte.end() - 11, oneByte.end() - 4);
  EXPECT_THAT(tail, ElementsAre("cdata", "text " + std::string(5000, 'x') + "]]", "end-cdata",
                                "cdata", "text >" + std::string(700, 'y'), "end-cdata",
                                "text " + std::string(3000, 'z')));
}

TEST(SaxReader, DecodesByByteOrderMarkAndDeclaration) {
  const std::string text =
      "<?xml version=\"1.0\" encoding=\"unicode\"?><r a=\"\xC5\xA1\">\xE2\x82\xAC</r>";
  const std::vector<std::string> expected = {"start-document", "<r {}r a{}a:CDATA=[\xC5\xA1]",
                                             "text \xE2\x82\xAC", "</r {}", "end-document"};
  // "unicode" is the charset name of UTF-16 with a byte-order mark, in both orders.
  for (uint16_t codePage : {1200, 1201}) {
    const TEncoding& encoding = EncodingForCodePage(codePage);
    std::string bytes = std::string(encoding.Preamble()) + encoding.GetBytes(text);
    TOneByteStream input(bytes);
    EXPECT_EQ(ReadEvents(input), expected) << codePage;
    EXPECT_EQ(ReadEvents(encoding.GetBytes(text)), expected) << codePage << " without a mark";
  }
  EXPECT_EQ(ReadEvents("<?xml version=\"1.0\" encoding=\"windows-1250\"?><r a=\"\x9A\">\x80</r>"),
            (std::vector<std::string>{"start-document", "<r {}r a{}a:CDATA=[\xC5\xA1]",
                                      "text \xE2\x82\xAC", "</r {}", "end-document"}));
}

// UTF-32 as the writers write it: "utf-32" with the mark FF FE 00 00 (which
// libxml2 alone takes for UTF-16LE), and both byte orders without a mark.
TEST(SaxReader, DecodesUtf32WithAndWithoutAMark) {
  const std::string text = "<?xml version=\"1.0\" encoding=\"utf-32\"?><r>\xD0\x90\xE6\x9D\xB1</r>";
  const std::vector<std::string> expected = {"start-document", "<r {}r",
                                             "text \xD0\x90\xE6\x9D\xB1", "</r {}", "end-document"};
  for (const char* name : {"utf-32", "utf-32le", "utf-32be"}) {
    const TEncoding& encoding = EncodingForName(name);
    TOneByteStream input(std::string(encoding.Preamble()) + encoding.GetBytes(text));
    EXPECT_EQ(ReadEvents(input), expected) << name;
  }
  EXPECT_EQ(ReadEvents(std::string("\0\0\xFE\xFF", 4) + EncodingForName("utf-32be").GetBytes(text)),
            expected);
}

TEST(SaxReader, RefusesNestingDeeperThanEveryReaderAccepts) {
  const auto nested = [](int depth) {
    std::string xml;
    for (int i = 0; i < depth; ++i) xml += "<a>";
    for (int i = 0; i < depth; ++i) xml += "</a>";
    return xml;
  };
  EXPECT_EQ(ReadEvents(nested(2048)).size(), 2u * 2048 + 2);
  EXPECT_EQ(ParseError(nested(2049)), "the document nests deeper than 2048 levels [line: 1, col: " +
                                          std::to_string(2049 * 3) + "]");
}

TEST(SaxReader, MalformedInputRaisesTheReasonWithLineAndColumn) {
  std::vector<std::string> events;
  EXPECT_EQ(ParseError("<r>\n  <a></r>", &events),
            "Opening and ending tag mismatch: a line 2 and r [line: 2, col: 10]");
  EXPECT_EQ(events.back(), "fatal 2:10 Opening and ending tag mismatch: a line 2 and r");
  // Events stop at the error: the end of the document is never reported.
  EXPECT_EQ(std::count(events.begin(), events.end(), "end-document"), 0);

  EXPECT_EQ(ParseError(""), "XML document must have a top level element. [line: 1, col: 1]");
  EXPECT_EQ(ParseError("<?xml version=\"1.0\"?>\n<!-- c -->\n"),
            "XML document must have a top level element. [line: 3, col: 1]");
  EXPECT_EQ(ParseError("<r><a>"), "Premature end of data in tag a [line: 1, col: 7]");
  EXPECT_EQ(ParseError("<r/><r/>"), "Extra content at the end of the document [line: 1, col: 5]");
  EXPECT_THAT(ParseError("<r>\xFF</r>"), HasSubstr("Input is not proper UTF-8"));
}

TEST(SaxReader, RefusesDtdsAndEntities) {
  std::vector<std::string> events;
  EXPECT_EQ(
      ParseError("<!DOCTYPE r [<!ENTITY e SYSTEM \"file:///etc/passwd\">]><r>&e;</r>", &events),
      "DTD is prohibited. [line: 1, col: 13]");
  EXPECT_THAT(events, ElementsAre("start-document", "fatal 1:13 DTD is prohibited."));
  EXPECT_THAT(ParseError("<!DOCTYPE r SYSTEM \"http://example.com/r.dtd\"><r/>"),
              HasSubstr("DTD is prohibited."));
  EXPECT_EQ(ParseError("<r>&e;</r>"), "Entity 'e' not defined [line: 1, col: 7]");
}

TEST(SaxReader, ExceptionFromASlotEndsTheParseAndLeavesTheParserUsable) {
  TXMLParser parser;
  std::vector<std::string> names;
  parser.OnStartElement = [&](auto, auto localName, auto, const TXMLAttributes&) {
    names.emplace_back(localName);
    if (localName == "b") throw std::runtime_error("stop at b");
  };
  TMemoryStream input("<r><a/><b/><c/></r>");
  EXPECT_THROW(
      {
        try {
          parser.Parse(input);
        } catch (const std::runtime_error& e) {
          EXPECT_STREQ(e.what(), "stop at b");
          throw;
        }
      },
      std::runtime_error);
  EXPECT_THAT(names, ElementsAre("r", "a", "b"));

  names.clear();
  TMemoryStream again("<x><y/></x>");
  parser.Parse(again);
  EXPECT_THAT(names, ElementsAre("x", "y"));
}

TEST(SaxReader, FailingOutputEndsTheParse) {
  struct TFullDisk final : public TStream {
    size_t Read(void*, size_t) override { return 0; }
    void Write(const void*, size_t) override { throw EMorvexError("disk full"); }
    int64_t Seek(int64_t, SeekOrigin) override { return 0; }
    int64_t Size() override { return 0; }
    void SetSize(int64_t) override {}
  } disk;
  std::string xml = "<r>";
  for (int i = 0; i < 20000; ++i) xml += "<f a=\"1\">text &amp; more</f><![CDATA[cdata]]>";
  xml += "</r>";
  TXMLParser parser;
  parser.SetOutput(&disk);
  parser.writing = true;
  TMemoryStream input(xml);
  try {
    parser.Parse(input);
    ADD_FAILURE() << "no error";
  } catch (const EMorvexError& e) {
    EXPECT_STREQ(e.what(), "disk full");
  }
  EXPECT_LT(input.Position(), input.Size());
}

TEST(SaxReader, WithoutSlotsOrWritingTheWholeInputIsReadAndNothingProduced) {
  TMemoryStream out;
  TXMLParser parser;
  parser.SetOutput(&out);
  TMemoryStream input(kRichDocument);
  parser.Parse(input);
  EXPECT_EQ(input.Position(), input.Size());
  EXPECT_EQ(out.Data(), "");
  // A malformed input is still found out.
  TMemoryStream bad("<r>");
  EXPECT_THROW(parser.Parse(bad), EMorvexError);
}

TEST(SaxReader, ParseURLReadsAFile) {
  const std::string path = (std::filesystem::temp_directory_path() /
                            ("morvex-sax-" + std::to_string(::getpid()) + ".xml"))
                               .string();
  std::ofstream(path, std::ios::binary) << kRichDocument;
  TXMLParser parser;
  TEventLog log(parser);
  parser.ParseURL(path);
  std::filesystem::remove(path);
  EXPECT_EQ(log.Lines().size(), kRichEvents.size());
  EXPECT_THROW(parser.ParseURL(path), EMorvexError);
}

// --- walking a document ---

TEST(SaxReader, ParseDocumentReportsTheTreeLikeTheReader) {
  std::unique_ptr<xmlDoc, void (*)(xmlDoc*)> doc(xmlNewDoc(BAD_CAST "1.0"), xmlFreeDoc);
  xmlNodePtr root = xmlNewNode(nullptr, BAD_CAST "root");
  xmlDocSetRootElement(doc.get(), root);
  xmlNsPtr d = xmlNewNs(root, BAD_CAST "urn:d", BAD_CAST "d");
  xmlSetNs(root, d);
  xmlNewProp(root, BAD_CAST "id", BAD_CAST "a&b");
  xmlNewNsProp(root, d, BAD_CAST "x", BAD_CAST "");
  xmlAddPrevSibling(root, xmlNewDocPI(doc.get(), BAD_CAST "xml", BAD_CAST "version=\"1.0\""));
  xmlAddPrevSibling(root, xmlNewDocPI(doc.get(), BAD_CAST "app", BAD_CAST "run"));
  xmlNodePtr item = xmlNewChild(root, nullptr, BAD_CAST "item", nullptr);
  xmlAddChild(item, xmlNewText(BAD_CAST "t<x"));
  xmlAddChild(root, xmlNewCDataBlock(doc.get(), BAD_CAST "c]]>d", 5));
  xmlAddChild(root, xmlNewComment(BAD_CAST "note"));
  xmlNewChild(root, nullptr, BAD_CAST "leaf", nullptr);

  TXMLParser parser;
  TEventLog log(parser);
  parser.ParseDocument(doc.get());
  EXPECT_THAT(log.Lines(),
              ElementsAre("start-document", "pi app|run", "prefix d=urn:d",
                          "<d:root {urn:d}root id{}id:CDATA=[a&b] d:x{urn:d}x:CDATA=[]",
                          "<d:item {urn:d}item", "text t<x", "</d:item {urn:d}", "cdata",
                          "text c]]>d", "end-cdata", "comment note", "<d:leaf {urn:d}leaf",
                          "</d:leaf {urn:d}", "</d:root {urn:d}", "end-prefix d", "end-document"));

  // Saving: the writer gets the declaration, then the walk of the document
  // (whose own start of document goes on with the same output).
  const auto save = [&](TXMLParser& p) {
    p.ProcessingInstruction("xml", "version=\"1.0\"");
    p.ParseDocument(doc.get());
  };
  EXPECT_EQ(Written(save),
            "<?xml version=\"1.0\"?><?app run?><d:root xmlns:d=\"urn:d\" id=\"a&amp;b\" d:x=\"\">"
            "<d:item>t&lt;x</d:item><![CDATA[c]]]]><![CDATA[>d]]><!--note--><d:leaf/></d:root>");
  EXPECT_EQ(Written(save, [](TXMLParser& p) { p.indent = true; }),
            "<?xml version=\"1.0\"?>\n<?app run?>\n<d:root xmlns:d=\"urn:d\" id=\"a&amp;b\" "
            "d:x=\"\">\n\t<d:item>t&lt;x</d:item><![CDATA[c]]]]><![CDATA[>d]]><!--note-->"
            "<d:leaf/></d:root>");
}

TEST(SaxReader, ParseDocumentWalksDeepTreesWithoutRecursion) {
  std::unique_ptr<xmlDoc, void (*)(xmlDoc*)> doc(xmlNewDoc(BAD_CAST "1.0"), xmlFreeDoc);
  xmlNodePtr node = xmlNewNode(nullptr, BAD_CAST "n");
  xmlDocSetRootElement(doc.get(), node);
  constexpr int kDepth = 200000;
  for (int i = 1; i < kDepth; ++i) node = xmlNewChild(node, nullptr, BAD_CAST "n", nullptr);
  TXMLParser parser;
  int starts = 0, ends = 0;
  parser.OnStartElement = [&](auto, auto, auto, const TXMLAttributes&) { ++starts; };
  parser.OnEndElement = [&](auto, auto, auto) { ++ends; };
  parser.ParseDocument(doc.get());
  EXPECT_EQ(starts, kDepth);
  EXPECT_EQ(ends, kDepth);
}

// --- writing ---

TEST(SaxWriter, WritesTagsAttributesAndEscapedText) {
  TXMLAttributes attributes;
  attributes.AddAttribute("", "a", "a", "", "1 & 2 < 3 > \"q\" 'x'\t\r\n");
  attributes.AddAttribute("", "b", "b", "", "");
  const std::string xml = Written([&](TXMLParser& p) {
    p.StartDocument();
    p.ProcessingInstruction("xml", "version=\"1.0\" encoding=\"utf-8\"");
    WriteStartElement(p, "", "root", "root", &attributes);
    WriteStartElement(p, "", "empty", "empty", nullptr);
    WriteEndElement(p, "", "empty", "empty");
    WriteStartElement(p, "", "text", "text", nullptr);
    WriteCharacters(p, "a & b < c > d \"q\" \r\n end");
    WriteEndElement(p, "", "text", "text");
    p.ProcessingInstruction("go", "");
    p.Comment(" c ");
    WriteEndElement(p, "", "root", "root");
    p.EndDocument();
  });
  EXPECT_EQ(
      xml,
      "<?xml version=\"1.0\" encoding=\"utf-8\"?>"
      "<root a=\"1 &amp; 2 &lt; 3 &gt; &quot;q&quot; 'x'&#9;&#13;&#10;\" b=\" \">"
      "<empty/><text>a &amp; b &lt; c &gt; d \"q\" &#13;\n end</text><?go?><!-- c --></root>");

  const std::string raw = Written([](TXMLParser& p) {
    p.disableOutputEscaping = true;
    WriteStartElement(p, "", "r", "r", nullptr);
    WriteCharacters(p, "<b>&amp;</b>");
    WriteEndElement(p, "", "r", "r");
    p.EndDocument();
  });
  EXPECT_EQ(raw, "<r><b>&amp;</b></r>");
}

TEST(SaxWriter, DirectWritingHelpersUseASpaceForEmptyNamesAndSkipEmptyText) {
  TXMLParser parser;
  std::vector<std::string> calls;
  parser.OnStartElement = [&](auto uri, auto localName, auto qName, const TXMLAttributes&) {
    calls.push_back("[" + std::string(uri) + "][" + std::string(localName) + "][" +
                    std::string(qName) + "]");
  };
  parser.OnEndElement = [&](auto uri, auto localName, auto qName) {
    calls.push_back("/[" + std::string(uri) + "][" + std::string(localName) + "][" +
                    std::string(qName) + "]");
  };
  parser.OnCharacters = [&](auto chars) { calls.push_back("text " + std::string(chars)); };
  WriteStartElement(parser, "", "", "q", nullptr);
  WriteCharacters(parser, "");
  WriteEndElement(parser, "", "", "q");
  EXPECT_THAT(calls, ElementsAre("[ ][ ][q]", "/[ ][ ][q]"));

  // No text means no text node: the element stays empty.
  EXPECT_EQ(Written([](TXMLParser& p) {
              WriteStartElement(p, "", "e", "e", nullptr);
              WriteCharacters(p, "");
              WriteEndElement(p, "", "e", "e");
              p.EndDocument();
            }),
            "<e/>");
}

// Element and attribute names often come from data (column names, CSV
// headers); one that XML cannot hold must fail loudly, not produce a document
// nobody can read.
// What is written reads back: an element deeper than every reader accepts
// fails, naming the limit, before anything of it is written.
TEST(SaxWriter, RefusesToNestDeeperThanEveryReaderAccepts) {
  TMemoryStream out;
  TXMLParser writer;
  writer.SetOutput(&out);
  writer.writing = true;
  writer.omitXMLDeclaration = true;
  for (int i = 0; i < 2047; ++i) WriteStartElement(writer, "", "a", "a", nullptr);
  writer.TextElement("b", "x", false);
  WriteStartElement(writer, "", "b", "b", nullptr);
  try {
    WriteStartElement(writer, "", "c", "c", nullptr);
    ADD_FAILURE() << "no error";
  } catch (const EMorvexError& error) {
    EXPECT_STREQ(error.what(),
                 "The XML output would nest deeper than 2048 levels, more than any reader "
                 "accepts.");
  }
  EXPECT_THROW(writer.TextElement("c", "x", false), EMorvexError);
}

TEST(SaxWriter, RefusesNamesXmlCannotHold) {
  for (const char* bad : {"count(*)", "order id", "1st", "-x", "a<b", " "}) {
    TMemoryStream out;
    TXMLParser parser;
    parser.SetOutput(&out);
    parser.writing = true;
    try {
      WriteStartElement(parser, "", bad, bad, nullptr);
      ADD_FAILURE() << "accepted " << bad;
    } catch (const EMorvexError& e) {
      EXPECT_EQ(std::string(e.what()), "\"" + std::string(bad) + "\" is not a valid XML name");
    }
  }
  TXMLAttributes attributes;
  attributes.AddAttribute("", "", "bad name", "", "1");
  TXMLParser parser;
  TMemoryStream out;
  parser.SetOutput(&out);
  parser.writing = true;
  EXPECT_THROW(WriteStartElement(parser, "", "ok", "ok", &attributes), EMorvexError);

  EXPECT_EQ(Written([](TXMLParser& p) {
              for (const char* good : {"\xC4\x8D\xC3\xADslo", "p:q", "_a-b.c9"}) {
                WriteStartElement(p, "", good, good, nullptr);
                WriteEndElement(p, "", good, good);
              }
              p.EndDocument();
            }),
            "<\xC4\x8D\xC3\xADslo/><p:q/><_a-b.c9/>");
}

// Values from databases and parameters may hold bytes no XML document can
// carry; the writer puts U+FFFD in their place, counts the values it changed,
// and the output always reads back.
TEST(SaxWriter, WritesReplacementCharactersForWhatXmlCannotHold) {
  const std::string fffd = "\xEF\xBF\xBD";
  const auto document = [](TXMLParser& p) {
    TXMLAttributes attributes;
    attributes.AddAttribute("", "", "a", "", std::string("x\x01", 2));
    WriteStartElement(p, "", "r", "r", &attributes);
    WriteCharacters(p, "bell\x07 nul" + std::string(1, '\0') + " tab\tlf\n");
    WriteCharacters(p, "ok \xC3\xA9 \xEF\xBF\xBD kept");           // valid, U+FFFD itself
    WriteCharacters(p, "bad \xFF cut \xC3");                       // invalid UTF-8
    WriteCharacters(p, "\xED\xA0\x80 \xEF\xBF\xBE \xEF\xBF\xBF");  // surrogate, U+FFFE, U+FFFF
    p.StartCData();
    WriteCharacters(p, "c\x1F]]>d");
    p.EndCData();
    WriteEndElement(p, "", "r", "r");
  };
  TMemoryStream out;
  TXMLParser parser;
  parser.SetOutput(&out);
  parser.writing = true;
  parser.omitXMLDeclaration = true;
  document(parser);
  EXPECT_EQ(parser.ReplacedValueCount(), 5u);
  parser.EndDocument();
  EXPECT_EQ(out.Data(), "<r a=\"x" + fffd + "\">bell" + fffd + " nul" + fffd +
                            " tab\tlf\nok \xC3\xA9 " + fffd + " keptbad " + fffd + " cut " + fffd +
                            fffd + fffd + fffd + " " + fffd + " " + fffd + "<![CDATA[c" + fffd +
                            "]]]]><![CDATA[>d]]></r>");
  const TXmlDocument loaded = LoadXmlStream(out);
  EXPECT_TRUE(HasDocumentElement(loaded.get())) << GetParseError(loaded.get()).Reason;

  // Long plain runs are checked a word at a time: a fault anywhere is found.
  for (size_t at = 0; at < 24; ++at) {
    std::string text(24, 'a');
    text[at] = '\x1B';
    std::string expected = text;
    expected.replace(at, 1, fffd);
    EXPECT_EQ(Written([&](TXMLParser& p) {
                WriteStartElement(p, "", "r", "r", nullptr);
                WriteCharacters(p, text);
                WriteEndElement(p, "", "r", "r");
                p.EndDocument();
              }),
              "<r>" + expected + "</r>")
        << at;
  }

  // In a code page the replacement has no byte of its own: a reference.
  EXPECT_EQ(Written(
                [](TXMLParser& p) {
                  WriteStartElement(p, "", "r", "r", nullptr);
                  WriteCharacters(p, "a\x02");
                  WriteEndElement(p, "", "r", "r");
                  p.EndDocument();
                },
                [](TXMLParser& p) { p.encoding = "windows-1250"; }),
            "<r>a&#65533;</r>");
}

TEST(SaxWriter, SplitsCDataAroundEveryEndMarker) {
  const auto cdata = [](std::vector<std::string> pieces) {
    return Written([&](TXMLParser& p) {
      WriteStartElement(p, "", "r", "r", nullptr);
      p.StartCData();
      for (const std::string& piece : pieces) p.Characters(piece);
      p.EndCData();
      WriteEndElement(p, "", "r", "r");
      p.EndDocument();
    });
  };
  EXPECT_EQ(cdata({"a]]>b<&"}), "<r><![CDATA[a]]]]><![CDATA[>b<&]]></r>");
  EXPECT_EQ(cdata({"a]]", ">b"}), "<r><![CDATA[a]]]]><![CDATA[>b]]></r>");
  EXPECT_EQ(cdata({"a]", "]", ">b]]>"}), "<r><![CDATA[a]]]]><![CDATA[>b]]]]><![CDATA[>]]></r>");
  EXPECT_EQ(cdata({"]]]>", "x]", "x>"}), "<r><![CDATA[]]]]]><![CDATA[>x]x>]]></r>");
  EXPECT_EQ(cdata({}), "<r><![CDATA[]]></r>");

  // Read back, the split sections give the original text.
  std::string text;
  TXMLParser reader;
  reader.OnCharacters = [&](auto chars) { text += chars; };
  TMemoryStream input(cdata({"x]]>y]", "]>z"}));
  reader.Parse(input);
  EXPECT_EQ(text, "x]]>y]]>z");
}

TEST(SaxWriter, DeclarationAndIndentation) {
  const auto document = [](TXMLParser& p) {
    p.StartDocument();
    WriteStartElement(p, "", "root", "root", nullptr);
    WriteStartElement(p, "", "a", "a", nullptr);
    WriteCharacters(p, "text");
    WriteEndElement(p, "", "a", "a");
    WriteStartElement(p, "", "b", "b", nullptr);
    WriteStartElement(p, "", "c", "c", nullptr);
    WriteEndElement(p, "", "c", "c");
    p.Comment("n");
    WriteEndElement(p, "", "b", "b");
    WriteStartElement(p, "", "m", "m", nullptr);
    WriteCharacters(p, "x");
    WriteStartElement(p, "", "i", "i", nullptr);
    WriteEndElement(p, "", "i", "i");
    WriteEndElement(p, "", "m", "m");
    WriteEndElement(p, "", "root", "root");
    p.EndDocument();
  };
  EXPECT_EQ(Written(document,
                    [](TXMLParser& p) {
                      p.omitXMLDeclaration = false;
                      p.encoding = "utf-8";
                    }),
            "<?xml version=\"1.0\" encoding=\"utf-8\" standalone=\"no\"?>"
            "<root><a>text</a><b><c/><!--n--></b><m>x<i/></m></root>");
  EXPECT_EQ(
      Written(document,
              [](TXMLParser& p) {
                p.omitXMLDeclaration = false;
                p.standalone = true;
                p.indent = true;
              }),
      "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
      "<root>\n\t<a>text</a>\n\t<b>\n\t\t<c/>\n\t\t<!--n-->\n\t</b>\n\t<m>x<i/></m>\n</root>");

  // The callers' own declaration: a processing instruction named "xml".
  const auto declared = [](TXMLParser& p) {
    p.StartDocument();
    p.ProcessingInstruction("xml", "version=\"1.0\" encoding=\"utf-8\"");
    WriteStartElement(p, "", "r", "r", nullptr);
    WriteStartElement(p, "", "f", "f", nullptr);
    WriteEndElement(p, "", "f", "f");
    WriteEndElement(p, "", "r", "r");
    p.EndDocument();
  };
  EXPECT_EQ(Written(declared), "<?xml version=\"1.0\" encoding=\"utf-8\"?><r><f/></r>");
  EXPECT_EQ(Written(declared, [](TXMLParser& p) { p.indent = true; }),
            "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<r>\n\t<f/>\n</r>");
}

const auto kSmallDocument = [](TXMLParser& p) {
  p.StartDocument();
  p.ProcessingInstruction("xml", "version=\"1.0\"");
  TXMLAttributes attributes;
  attributes.AddAttribute("", "a", "a", "", "\xCE\xA9\xC5\xA1");  // Omega, s caron
  WriteStartElement(p, "", "r", "r", &attributes);
  WriteCharacters(p, "\xC5\xA1\xCE\xA9<");
  p.StartCData();
  p.Characters("x\xCE\xA9y");
  p.EndCData();
  WriteEndElement(p, "", "r", "r");
  p.EndDocument();
};

TEST(SaxWriter, EncodesOutputInTheNamedEncoding) {
  const std::string utf8 =
      "<?xml version=\"1.0\"?><r a=\"\xCE\xA9\xC5\xA1\">\xC5\xA1\xCE\xA9&lt;"
      "<![CDATA[x\xCE\xA9y]]></r>";
  EXPECT_EQ(Written(kSmallDocument), utf8);
  EXPECT_EQ(Written(kSmallDocument, [](TXMLParser& p) { p.encoding = "unicode"; }),
            EncodingForCodePage(1200).GetBytes(utf8));
  EXPECT_EQ(Written(kSmallDocument,
                    [](TXMLParser& p) {
                      p.encoding = "unicodeFFFE";
                      p.byteOrderMark = true;
                    }),
            "\xFE\xFF" + EncodingForCodePage(1201).GetBytes(utf8));
  EXPECT_EQ(Written(kSmallDocument,
                    [](TXMLParser& p) {
                      p.encoding = "utf-8";
                      p.byteOrderMark = true;
                    }),
            "\xEF\xBB\xBF" + utf8);

  // A code page without Omega: a reference in text and attributes; in CDATA
  // the section is closed around it.
  const std::string cp =
      "<?xml version=\"1.0\"?><r a=\"&#937;\x9A\">\x9A&#937;&lt;"
      "<![CDATA[x]]>&#937;<![CDATA[y]]></r>";
  EXPECT_EQ(Written(kSmallDocument, [](TXMLParser& p) { p.encoding = "windows-1250"; }), cp);
  EXPECT_EQ(Written(kSmallDocument, [](TXMLParser& p) { p.encoding = "iso-8859-2"; }),
            "<?xml version=\"1.0\"?><r a=\"&#937;\xB9\">\xB9&#937;&lt;"
            "<![CDATA[x]]>&#937;<![CDATA[y]]></r>");
  // The runner lower-cases charset names; the table spells this one "Windows-1252".
  EXPECT_EQ(Written(
                [](TXMLParser& p) {
                  WriteStartElement(p, "", "r", "r", nullptr);
                  WriteCharacters(p, "\xC3\xA9");
                  WriteEndElement(p, "", "r", "r");
                  p.EndDocument();
                },
                [](TXMLParser& p) { p.encoding = "windows-1252"; }),
            "<r>\xE9</r>");
}

TEST(SaxWriter, LargeOutputArrivesWholeAndInBlocks) {
  struct TCountingStream final : public TStream {
    size_t Read(void*, size_t) override { return 0; }
    void Write(const void* data, size_t count) override {
      bytes.append(static_cast<const char*>(data), count);
      ++writes;
    }
    int64_t Seek(int64_t, SeekOrigin) override { return 0; }
    int64_t Size() override { return static_cast<int64_t>(bytes.size()); }
    void SetSize(int64_t) override {}
    std::string bytes;
    int writes = 0;
  };
  for (const char* encoding : {"utf-8", "unicode", "windows-1250"}) {
    TCountingStream out;
    TXMLParser parser;
    parser.SetOutput(&out);
    parser.writing = true;
    parser.omitXMLDeclaration = true;
    parser.encoding = encoding;
    WriteStartElement(parser, "", "r", "r", nullptr);
    for (int i = 0; i < 100000; ++i) {
      WriteStartElement(parser, "", "f", "f", nullptr);
      WriteCharacters(parser, "value");
      WriteEndElement(parser, "", "f", "f");
    }
    WriteEndElement(parser, "", "r", "r");
    const size_t units = std::string_view(encoding) == "unicode" ? 2 : 1;
    const size_t total = units * (7 + 100000 * 12);
    EXPECT_GT(out.bytes.size(), total - units * 2 * 65536) << encoding;
    parser.EndDocument();
    EXPECT_EQ(out.bytes.size(), total) << encoding;
    EXPECT_GT(out.writes, 10) << encoding;
    EXPECT_LT(out.writes, 60) << encoding;
  }
}

TEST(SaxWriter, ReadingWithWritingOnCopiesTheDocument) {
  const std::string copy = Written([](TXMLParser& p) {
    TMemoryStream input(kRichDocument);
    p.Parse(input);
  });
  EXPECT_EQ(copy,
            "<?app run now?><d:root xmlns:d=\"urn:d\" xmlns=\"urn:default\" "
            "id=\"a&amp;b&amp;c&lt;A&quot;\" d:empty=\"\" tab=\"x&#9;y\">\n"
            "<item>t&amp;xA&gt;</item><![CDATA[raw <b> & ]] text]]><!-- note --><leaf/></d:root>");
  EXPECT_EQ(ReadEvents(copy), kRichEvents);
}

// --- attribute lists ---

TEST(SaxAttributes, AddAttributeAndLookups) {
  TXMLAttributes attributes;
  attributes.AddAttribute("", "", "type", "", "integer");
  attributes.AddAttribute("urn:x", "id", "x:id", "CDATA", "7");
  ASSERT_EQ(attributes.Length(), 2);
  const TAttribute& first = attributes.Item(0);
  EXPECT_EQ(first.URI, " ");
  EXPECT_EQ(first.LocalName, " ");
  EXPECT_EQ(first.QName, "type");
  EXPECT_EQ(first.Type, " ");
  EXPECT_EQ(first.Value, "integer");

  EXPECT_EQ(attributes.IndexFromQName("type"), 0);
  EXPECT_EQ(attributes.IndexFromQName("Type"), -1);
  EXPECT_EQ(attributes.IndexFromName("urn:x", "id"), 1);
  EXPECT_EQ(attributes.IndexFromName("", "id"), -1);
  EXPECT_EQ(attributes.ValueFromQName("x:id"), "7");
  EXPECT_EQ(attributes.ValueFromName("urn:x", "id"), "7");
  EXPECT_EQ(attributes.TypeFromName("urn:x", "id"), "CDATA");
  EXPECT_EQ(attributes.TypeFromQName("type"), " ");
  EXPECT_THROW(attributes.ValueFromQName("Type"), EMorvexError);
  EXPECT_THROW(attributes.TypeFromName("urn:x", "ID"), EMorvexError);
  EXPECT_THROW(attributes.Item(2), EMorvexError);
  EXPECT_THROW(attributes.Value(-1), EMorvexError);

  attributes.Clear();
  EXPECT_EQ(attributes.Length(), 0);
}

}  // namespace
}  // namespace morvex
