// XML to JSON is written while the input is read whenever nothing later can
// change what was written, and from the whole value otherwise. Both must give
// the same bytes: the whole-value method is rebuilt here from the public
// pieces (the packed tree, then the writer) and both run on generated
// documents shaped like dataset XML, with the variations that force the tree.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "convert/json_parser.h"
#include "convert/json_writer.h"
#include "convert/xml_to_json.h"
#include "tests/convert/convert_test_util.h"
#include "tests/support/random_choice.h"
#include "tests/support/resident_memory.h"
#include "text/stream.h"

namespace morvex {
namespace {

using testing::TConversionRun;

// The whole-value method: the bytes, or the message of a failure.
std::string WholeValueJson(const std::string& xml, const TXTransformInfo& options) {
  TMemoryStream input(xml);
  std::string reason;
  const auto document = XmlToJsonTree(input, &reason);
  if (!document) return NoJsonValueMessage("orders", reason);
  TMemoryStream out;
  TConvertOutput output(TXSourceInfo{skStream, "out", "", &out});
  const TEncoding& encoding = BeginEncodedOutput(output, options.Encoding);
  WriteJsonOutput(*document, *document->Root(), out, encoding, options.Indent);
  return out.Data();
}

// The conversion itself; whether it was written in one pass is found by
// running that pass alone on the same input.
std::string ConvertedJson(const std::string& xml, const TXTransformInfo& options, bool& onePass) {
  TConversionRun run(xml);
  run.Options = options;
  const bool done = run.Runs([&] { XmlToJson(run.Source, run.Destination, run.Options); });
  TMemoryStream input(xml);
  TMemoryStream out;
  TConvertOutput output(TXSourceInfo{skStream, "out", "", &out});
  onePass = WriteJsonInOnePass(input, output, options);
  EXPECT_EQ(out.Data(), onePass ? run.Result() : "") << xml;
  return done ? run.Result() : run.Message;
}

// Documents like a query's dataset XML (a root, statement elements, records
// of fields) and the shapes around it: several statements, statements of
// one record, records inside records, repeated fields, empty elements,
// attributes and namespace declarations, CDATA, comments, white space and
// character references, text beside elements, names out of key order and
// repeated statements, which the tree has to decide.
class TDatasetMaker : testing::TRandomChoice {
 public:
  explicit TDatasetMaker(unsigned seed) : TRandomChoice(seed) {}

  std::string Make() {
    std::string out = Pick({"<?xml version=\"1.0\" encoding=\"utf-8\"?>\n", "", "<?pi x?>"});
    const std::string root = Pick({"morvex_data", "morvex_data", "root", "p:root"});
    out += "<" + root + Pick({"", "", " v='1'", " b='2' a='1'"});
    out += root == "p:root" ? " xmlns:p='urn:p'>" : Pick({">", ">", " xmlns='urn:d'>"});
    if (Number(4) == 0) out += "<morvex_params><p1>x</p1><p2>1</p2></morvex_params>";
    // Statement names mostly come in key order, as the tree writes them;
    // now and then one repeats or comes out of order.
    const char* names[] = {"B", "INLINE_SQL", "_x", "a", "orders", "zz"};
    const int statements = Number(5);
    int next = Number(3);
    // Now and then the statements stand in a wrapper element.
    const bool wrapped = Number(5) == 0;
    if (wrapped) out += "<w>";
    for (int i = 0; i < statements; ++i) {
      Filler(out, 12);
      Statement(out, 1, names[next % 6]);
      next += Number(8) == 0 ? -1 : 1 + Number(2);
      if (next < 0) next = 0;
    }
    if (wrapped) out += "</w>";
    Filler(out, 12);
    out += "</" + root + ">";
    return out;
  }

 private:
  // What may stand between elements: mostly nothing or white space; now
  // and then text (which is content), a comment or a processing instruction.
  void Filler(std::string& out, int rarity) {
    switch (Number(rarity * 2)) {
      case 0:
        out += "\n  ";
        break;
      case 1:
        out += "<!-- c -->";
        break;
      case 2:
        if (Number(rarity) == 0) out += "stray text";
        break;
      case 3:
        out += "<?pi y?>";
        break;
      default:
        break;
    }
  }

  void Statement(std::string& out, int depth, const std::string& name) {
    out += "<" + name + Pick({"", "", "", " n='1'", " xmlns:q='urn:q'"}) + ">";
    const int kind = Number(12);
    const int records = kind == 0 ? 0 : kind == 1 ? 1 : kind == 2 ? 1100 : 2 + Number(6);
    for (int i = 0; i < records; ++i) {
      if (kind == 2) {
        // Many small values: a list, written item by item.
        out += "<v>" + std::to_string(i) + "</v>";
        continue;
      }
      Filler(out, 20);
      Record(out, depth + 1, i);
    }
    if (Number(12) == 0) out += "<late>after the records</late>";
    out += "</" + name + ">";
  }

  void Record(std::string& out, int depth, int index) {
    const std::string name = Number(10) == 0 ? Pick({"row", "a", "zz"}) : "r";
    out += "<" + name + (Number(5) == 0 ? " id='" + std::to_string(index) + "'" : "") + ">";
    if (Number(30) == 0) {
      out += "<empty/>";  // an element of nothing adds nothing
      out += "</" + name + ">";
      return;
    }
    out += "<id>" + std::to_string(index) + "</id>";
    out += "<name>" +
           Pick({"Customer 1", " a &amp; b\n  &lt;c&gt; ", "\xC5\x98\xC3\xADm \xE2\x82\xAC",
                 "a&#13;\nb", "<![CDATA[x < y\r\n]]>", "q\"uote\\back", "a<!-- c -->b", ""}) +
           "</name>";
    if (Number(4) == 0) out += "<note/>";
    if (Number(6) == 0) out += "<tag>1</tag><tag>2</tag>";
    if (Number(8) == 0) out += "<x:a xmlns:x='urn:x' k='v'>t</x:a>";
    // Detail statements: after the fields in key order mostly, one or two.
    if (depth < 4 && Number(4) == 0) {
      Statement(out, depth + 1, Pick({"detail", "y", "zz"}));
      if (Number(2) == 0) Statement(out, depth + 1, "zzz");
    }
    if (Number(25) == 0) out += "<aa>out of order</aa>";
    if (Number(40) == 0) out += "tail text";
    out += "</" + name + ">";
  }
};

TEST(XmlToJsonOnePass, EqualsWritingTheWholeValue) {
  const std::pair<const char*, bool> layouts[] = {
      {"utf-8", false}, {"utf-8", true}, {"unicode", true}, {"iso-8859-2", false}};
  int onePass = 0;
  int tree = 0;
  for (unsigned seed = 1; seed <= 400; ++seed) {
    const std::string xml = TDatasetMaker(seed).Make();
    TXTransformInfo options;
    options.Encoding = layouts[seed % 4].first;
    options.Indent = layouts[seed % 4].second;
    bool written = false;
    const std::string actual = ConvertedJson(xml, options, written);
    ASSERT_EQ(actual, WholeValueJson(xml, options)) << "seed " << seed << "\n" << xml;
    ++(written ? onePass : tree);
  }
  // Most documents stream; enough of them need the tree to test that path.
  EXPECT_GT(onePass, 150);
  EXPECT_GT(tree, 40);
}

// Each rule that decides between writing early and building the value,
// with the smallest document that shows it.
TEST(XmlToJsonOnePass, WritesOnlyWhatLaterInputCannotChange) {
  const std::string records = "<r><id>1</id><n>a</n></r><r><id>2</id><n>b</n></r>";
  const struct {
    std::string Xml;
    bool OnePass;
  } cases[] = {
      {"<d><s>" + records + "</s></d>", true},
      {"<d><s>" + records + "</s><t>" + records + "</t></d>", true},
      {"<d a='1'><s k='2'>" + records + "</s><t/></d>", true},
      {"<d><r><id>1</id></r><r><id>2</id></r><r><id>3</id></r></d>", true},
      {"<d><s>" + records + "<u>1</u></s></d>", true},
      {"<d/>", true},
      {"<d><s><r>1</r><r>2</r></s></d>", true},
      // A statement of one record is a member, of two an array: the second
      // record shows which, and the first waits for it.
      {"<d><s><r><id>1</id><x><y>1</y></x><z><y>2</y></z></r></s></d>", true},
      // Records in a wrapper; masters with details of many records, the
      // first master built, the next ones written as array items.
      {"<d><w><s>" + records + "</s></w></d>", true},
      {"<d><s><r><i>1</i><x>" + records + "</x><y>" + records + "</y></r><r><i>2</i><x>" + records +
           "</x></r></s></d>",
       true},
      {"<d><s><r><i>1</i><x>" + records + "</x></r></s><s/></d>", true},
      // The same statement name twice makes an array of statements after
      // the first one was written as a member.
      {"<d><s>" + records + "</s><s>" + records + "</s></d>", false},
      // A later name that sorts first, text beside records, the root's own
      // text: the order of the members is known only at the end.
      {"<d><t>" + records + "</t><s>" + records + "</s></d>", false},
      {"<d><s>" + records + "<a>1</a></s></d>", false},
      {"<d><s>" + records + "text</s></d>", false},
      {"<d>only text</d>", false},
      {"<d><s><r>a<!-- -->b</r><r>c</r></s></d>", true},
      {"<d><s>" + records + "<r>a<!-- -->b</r></s></d>", false},
      // What does not convert is left to the tree, which reports it.
      {"<d><s>" + records + "</s>", false},
      {"<d><s>" + records + "</s></d><e/>", false},
  };
  for (const bool indent : {false, true}) {
    TXTransformInfo options;
    options.Indent = indent;
    for (const auto& [xml, streams] : cases) {
      bool written = false;
      EXPECT_EQ(ConvertedJson(xml, options, written), WholeValueJson(xml, options)) << xml;
      EXPECT_EQ(written, streams) << xml;
    }
  }
}

// Taking back what was written leaves what the output held before; an input
// that cannot be read again or an output that cannot be taken back (a pipe)
// is converted from the whole value.
TEST(XmlToJsonOnePass, TakesBackOnlyItsOwnOutput) {
  for (const std::string xml :
       {"<d><s><r><i>1</i></r><r><i>2</i></r></s><s><r><i>3</i></r></s></d>", "<d><s>"}) {
    TConversionRun run(xml);
    run.Output.Write(std::string_view("kept"));
    const bool done = run.Runs([&] { XmlToJson(run.Source, run.Destination, run.Options); });
    const std::string whole = WholeValueJson(xml, run.Options);
    EXPECT_EQ(done ? run.Result() : run.Message, done ? "kept" + whole : whole) << xml;
    if (!done) {
      EXPECT_EQ(run.Result(), "kept") << xml;
    }
  }
  const std::string xml = "<d><s><r><i>1</i></r><r><i>2</i></r></s></d>";
  auto pipe = testing::PipeHolding(xml);
  ASSERT_NE(pipe, nullptr);
  TMemoryStream out;
  TConvertOutput output(TXSourceInfo{skStream, "out", "", &out});
  TXTransformInfo options;
  EXPECT_FALSE(WriteJsonInOnePass(*pipe, output, options));
  EXPECT_EQ(out.Data(), "");
  TConversionRun run(xml);
  run.Source.Stream = pipe.get();
  auto again = testing::PipeHolding(xml);
  run.Source.Stream = again.get();
  ASSERT_TRUE(run.Runs([&] { XmlToJson(run.Source, run.Destination, run.Options); }));
  EXPECT_EQ(run.Result(), WholeValueJson(xml, run.Options));
}

// Nesting is counted on the one pass as the tree counts it: each level of
// written elements here adds an array and an object, so a document every
// reader accepts can pack too deep, which is refused with the tree's message.
TEST(XmlToJsonOnePass, CountsNestingAsTheTreeDoes) {
  const auto nested = [](int levels) {
    std::string xml = "<d>";
    for (int i = 0; i < levels; ++i) xml += "<z><r><i>1</i></r><r><i>2</i></r><z><i>0</i></z>";
    for (int i = 0; i < levels; ++i) xml += "</z>";
    return xml + "</d>";
  };
  TXTransformInfo options;
  bool written = false;
  const std::string fits = nested(1000);
  EXPECT_EQ(ConvertedJson(fits, options, written), WholeValueJson(fits, options));
  EXPECT_TRUE(written);
  const std::string deep = nested(1100);
  const std::string refused = ConvertedJson(deep, options, written);
  EXPECT_EQ(refused, WholeValueJson(deep, options));
  EXPECT_NE(refused.find("nest deeper than 2048"), std::string::npos);
  EXPECT_FALSE(written);
}

// A destination that keeps only its size and notes the resident memory of
// the process whenever a block of output arrives.
class TMemoryWatch final : public TStream {
 public:
  size_t Read(void*, size_t) override { return 0; }
  void Write(const void*, size_t count) override {
    position_ += static_cast<int64_t>(count);
    size_ = std::max(size_, position_);
    Peak = std::max(Peak, ResidentKilobytes());
  }
  int64_t Seek(int64_t offset, SeekOrigin origin) override {
    const int64_t base = origin == SeekOrigin::Current ? position_
                         : origin == SeekOrigin::End   ? size_
                                                       : 0;
    position_ = base + offset;
    return position_;
  }
  int64_t Size() override { return size_; }
  void SetSize(int64_t size) override {
    size_ = size;
    position_ = std::min(position_, size_);
  }

  long Peak = 0;

 private:
  int64_t position_ = 0;
  int64_t size_ = 0;
};

// Records in a wrapper, and masters whose detail statements hold records,
// are written as they come: memory does not grow with the input, while the
// whole value of the same input takes many times more.
TEST(XmlToJsonOnePass, MemoryStaysFlatForRecords) {
  if (!kMeasureMemory) GTEST_SKIP() << "resident memory says nothing under AddressSanitizer";
  std::string xml = "<morvex_data><w><orders>";
  for (int i = 0; i < 60000; ++i) {
    const std::string id = std::to_string(i);
    xml += "<r><id>" + id + "</id><name>Customer " + id + "</name><items><r><n>1</n></r><r><n>" +
           id + "</n></r></items></r>";
  }
  xml += "</orders></w></morvex_data>";
  TXTransformInfo options;
  TMemoryStream input(xml);
  const long before = ResidentKilobytes();
  TMemoryWatch onePass;
  {
    TConvertOutput output(TXSourceInfo{skStream, "out", "", &onePass});
    ASSERT_TRUE(WriteJsonInOnePass(input, output, options));
  }
  TMemoryWatch whole;
  {
    const auto document = XmlToJsonTree(input);
    ASSERT_NE(document, nullptr);
    TConvertOutput output(TXSourceInfo{skStream, "out", "", &whole});
    const TEncoding& encoding = BeginEncodedOutput(output, options.Encoding);
    WriteJsonOutput(*document, *document->Root(), whole, encoding, options.Indent);
  }
  EXPECT_EQ(onePass.Size(), whole.Size());
  EXPECT_LT(onePass.Peak - before, 4 * 1024) << "kB";
  EXPECT_GT(whole.Peak - before, 8 * 1024) << "kB";
}

}  // namespace
}  // namespace morvex
