// The dataset XML writer. Order of work for one document:
//   1. the record-tag option gives the root name, the wrapper elements and the
//      default record element name;
//   2. the streaming writer starts the document on the output stream (byte-
//      order mark, declaration, root start tag with the namespaces option);
//   3. morvex_params, then the wrapper start tags;
//   4. WriteRecordsXml walks the template: each statement element of the
//      current phase runs when its turn comes and its records are written as
//      they are read, nested statements inside each record after its fields;
//      nested statements are closed after every record so that they run
//      afresh for the next one;
//   5. wrapper end tags, root end tag, end of document.
// The output stream belongs to the caller; the writer lives for one call.
#include <algorithm>
#include <memory>
#include <string_view>

#include "db/lsql_conn_helper.h"
#include "templates/dataset_writer.h"
#include "templates/field_text.h"
#include "templates/template_walk.h"
#include "text/error.h"
#include "text/utf.h"
#include "xml/dom.h"
#include "xml/input_policy.h"
#include "xml/sax_parser.h"
#include "xml/xml_names.h"
#include "xml/xml_options.h"
#include "xml/xml_writer.h"

namespace morvex {

namespace {

struct TRecordTagPath {
  std::string Root = "morvex_data";
  std::vector<std::string> Wrappers;  // outermost first
  std::string Record = "r";
};

// Items of the record-tag option are separated by "/"; blank items are
// dropped, and blanks around an item are not part of its name (an XML name
// cannot hold them).
TRecordTagPath SplitRecordTag(std::string_view text) {
  std::vector<std::string> items;
  size_t from = 0;
  while (from <= text.size()) {
    size_t end = text.find('/', from);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view item = TrimBlanks(text.substr(from, end - from));
    if (!item.empty()) items.emplace_back(item);
    from = end + 1;
  }

  TRecordTagPath path;
  if (items.size() == 1) {
    path.Record = items[0];
  } else if (items.size() >= 2) {
    path.Root = items.front();
    path.Record = items.back();
    path.Wrappers.assign(items.begin() + 1, items.end() - 1);
  }
  return path;
}

// One element per "name=value" entry, named by the name, holding the value.
// A parameter declared as <start-date> is listed as start$date, a name no
// XML element can have: its element takes the declared name back, so that
// declaring such a parameter does not break every dataset document. Other
// names XML cannot hold (a leading digit, a colon) are left out, named in a
// detail line, instead of failing the step.
void WriteParameters(TXmlStreamWriter& writer, const std::vector<std::string>& parameters,
                     const ProgressSink& sink) {
  std::string leftOut;
  WriteStartTag(writer, "morvex_params");
  for (const std::string& entry : parameters) {
    const size_t eq = entry.find('=');
    std::string name = entry.substr(0, eq);
    std::replace(name.begin(), name.end(), '$', '-');
    if (!IsXmlNcName(name)) {
      leftOut += (leftOut.empty() ? "" : ", ") + entry.substr(0, eq);
      continue;
    }
    WriteStartTag(writer, name);
    if (eq != std::string::npos)
      WriteCharacters(writer.Parser(), std::string_view(entry).substr(eq + 1));
    WriteEndTag(writer, name);
  }
  WriteEndTag(writer, "morvex_params");
  if (!leftOut.empty() && sink) {
    sink("Parameters left out of morvex_params, their names are not XML names: " + leftOut);
  }
}

// One field element of the current record, whose name has been checked; a
// null field has no content. `scratch` holds converted texts between fields.
void WriteField(TXmlStreamWriter& writer, const TLSQLDataset& dataset, int index,
                TFieldClass typeClass, std::string& scratch) {
  std::string_view text;
  const bool cdata = IsCDataClass(typeClass);
  if (FieldText(dataset, index, typeClass, TFieldTextTarget::Xml, scratch, text)) {
    WriteTextElement(writer, dataset.FieldName(index), text, cdata);
  } else {
    WriteTextElement(writer, dataset.FieldName(index), {}, false);
  }
}

// An element per statement (unless no-write), a record element per record
// holding its fields, nested statements inside the record after the fields.
class TXmlRecordWriter : public TTemplateVisitor {
 public:
  TXmlRecordWriter(TXmlStreamWriter& writer, const std::string& recordTag)
      : writer_(writer), recordTag_(recordTag) {}

  void StatementStart(TWalkStatement& statement) override {
    statement.Write = !statement.Statement->NoWrite;
    if (statement.Write) {
      RequireXmlNcName(statement.Tag);
      statement.RecordTag = statement.Statement->RecordTag;
      if (statement.RecordTag.empty()) statement.RecordTag = recordTag_;
      RequireXmlNcName(statement.RecordTag);
      WriteStartTag(writer_, statement.Tag);
    }
    statement.Classes = FieldClasses(*statement.Dataset);
  }

  void RecordStart(TWalkStatement& statement) override {
    if (!statement.Write) return;
    WriteStartTag(writer_, statement.RecordTag);
    for (int i = 0; i < static_cast<int>(statement.Classes.size()); ++i) {
      statement.Field = &statement.Dataset->FieldName(i);
      // The names stay the same from record to record: checked with the
      // first, so that a name XML cannot hold fails there, naming it.
      if (statement.Record == 1) RequireXmlNcName(*statement.Field);
      WriteField(writer_, *statement.Dataset, i, statement.Classes[static_cast<size_t>(i)],
                 scratch_);
    }
    statement.Field = nullptr;
  }

  void RecordEnd(TWalkStatement& statement) override {
    if (statement.Write) WriteEndTag(writer_, statement.RecordTag);
  }

  void StatementEnd(TWalkStatement& statement) override {
    if (statement.Write) WriteEndTag(writer_, statement.Tag);
  }

 private:
  TXmlStreamWriter& writer_;
  const std::string& recordTag_;
  std::string scratch_;
};

// How many element levels the statements among the children of `parent`
// (those of the walk's phase) can write below the element they are written
// into: a written statement adds its element and a record element holding
// its fields and its nested statements; a no-write statement writes only
// what its nested statements write.
int WrittenDepth(const TTemplateStatement& parent, TLSQLConnHelper& helper) {
  int deepest = 0;
  for (const auto& child : parent.Children) {
    const TLSQLDataset* dataset = helper.DatasetOf(child->Index);
    if (!dataset || dataset->Phase != helper.Phase) continue;
    const int nested = WrittenDepth(*child, helper);
    const bool written = !child->NoWrite;
    deepest = std::max(deepest, written ? 2 + std::max(1, nested) : nested);
  }
  return deepest;
}

}  // namespace

void WriteRecordsXml(const TTemplateStatement& parent, TXmlStreamWriter& writer,
                     const std::vector<std::string>& parameters, const std::string& recordTag,
                     const ProgressSink& sink, TLSQLConnHelper& helper) {
  TXmlRecordWriter visitor(writer, recordTag);
  const TParameterValues list(&parameters);
  TTemplateWalk walk;
  walk.Parameters = &list;
  walk.Sink = &sink;
  walk.Totals = TTotalLines::ResultSets;
  WalkTemplate(parent, walk, visitor, helper);
}

void WriteDatasetXml(const TTemplateTree& tree, TStream& out,
                     const std::vector<std::string>& parameters, const TXTransformInfo& options,
                     const ProgressSink& sink, TLSQLConnHelper& helper) {
  const TRecordTagPath path = SplitRecordTag(options.RecordTag);
  try {
    RequireXmlNcName(path.Root);
    for (const std::string& wrapper : path.Wrappers) RequireXmlNcName(wrapper);
    RequireXmlNcName(path.Record);
  } catch (const EMorvexError& e) {
    throw EMorvexError(std::string("record-tag: ") + e.what());
  }
  // A template whose records would nest deeper than any reader accepts
  // fails before its first statement runs, naming the limit (the writer
  // would refuse the element anyway, deep inside the walk).
  const int depth = 1 + static_cast<int>(path.Wrappers.size()) + WrittenDepth(tree.Root(), helper);
  if (depth > kMaxNestingDepth) {
    throw EMorvexError(OutputTooDeepMessage("The dataset XML of this template"));
  }
  TXmlOptions xmlOptions = DefaultXmlOptions();
  xmlOptions.Encoding = options.Encoding;  // empty: BeginXmlWriter takes the default charset
  xmlOptions.Indent = options.Indent;
  const std::unique_ptr<TXMLAttributes> rootAttributes = AttributesFromText(options.Namespaces);

  std::unique_ptr<TXmlStreamWriter> writer =
      BeginXmlWriter(out, &xmlOptions, rootAttributes.get(), path.Root);
  try {
    if (options.IncludeParams && !parameters.empty()) WriteParameters(*writer, parameters, sink);
    for (const std::string& wrapper : path.Wrappers) WriteStartTag(*writer, wrapper);
    WriteRecordsXml(tree.Root(), *writer, parameters, path.Record, sink, helper);
    for (auto it = path.Wrappers.rbegin(); it != path.Wrappers.rend(); ++it) {
      WriteEndTag(*writer, *it);
    }
  } catch (...) {
    // What was written before the error stays in the stream: hand the
    // writer's buffered bytes over before it goes. A failure to do so (the
    // stream may be what failed) must not hide the first error.
    try {
      writer->Parser().SetOutput(nullptr);
    } catch (...) {
    }
    throw;
  }
  const size_t replaced = ReplacedValueCount(*writer);
  EndXmlWriter(std::move(writer), path.Root);
  if (replaced > 0 && sink) sink(ReplacedValuesLine(replaced));
}

}  // namespace morvex
