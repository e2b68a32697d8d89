// What the XML writers write in any encoding, every XML reader reads back:
// XML to JSON, XML to CSV, XPath, XSLT and the XML import into a SQLite file.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "convert/csv_record_import.h"
#include "convert/json_value.h"
#include "convert/xml_record_import.h"
#include "convert/xml_to_csv.h"
#include "convert/xml_to_json.h"
#include "templates/template_session.h"
#include "tests/convert/convert_test_util.h"
#include "tests/support/template_document.h"
#include "tests/support/test_database.h"
#include "tests/xml/xml_endpoint_util.h"
#include "text/code_pages.h"
#include "text/encoding.h"
#include "text/error.h"
#include "text/stream.h"
#include "xml/xml_options.h"
#include "xml/xml_writer.h"
#include "xml/xpath.h"
#include "xml/xslt.h"

namespace morvex {
namespace {

// Field name and value: accented Latin, Cyrillic, Greek and CJK text.
const std::vector<std::pair<std::string, std::string>> kFields = {
    {"a", "Crème brûlée, Łódź"},
    {"c", "Аруба, Київ"},
    {"g", "Ελλάδα"},
    {"j", "東京 日本語"},
};

// True when XML can be written in the encoding: its markup characters are
// the ASCII bytes, or it is a UTF-16 or UTF-32 form. EBCDIC code pages,
// UTF-7 (which writes "<" as "+ADw-") and ISO-2022-KR (which opens with a
// shift sequence) cannot hold a document an XML parser recognises.
bool HoldsXml(const std::string& name) {
  const TEncoding& encoding = EncodingForName(name);
  const std::string iconv = encoding.IconvName();
  return encoding.GetBytes("<?xml =\"'/>") == "<?xml =\"'/>" || iconv.starts_with("UTF-16") ||
         iconv.starts_with("UTF-32");
}

// Every charset name of the table that can hold XML, and the names of the
// Unicode forms the writers also take.
std::vector<std::string> EncodingNames() {
  std::set<std::string> seen;
  std::vector<std::string> names;
  for (const TCodePageRow& row : CodePageTable) {
    if (row.CharsetName[0] != '\0' && seen.insert(row.CharsetName).second &&
        HoldsXml(row.CharsetName)) {
      names.emplace_back(row.CharsetName);
    }
  }
  for (const char* name : {"utf-16", "utf-16le", "utf-16be", "utf-32", "utf-32le", "utf-32be"}) {
    names.emplace_back(name);
  }
  return names;
}

// The dataset document of one record written by the streaming writer in
// `encoding` (characters the code page cannot hold become references).
std::string WrittenDocument(const std::string& encoding) {
  TMemoryStream out;
  TXmlOptions options = DefaultXmlOptions();
  options.Encoding = encoding;
  auto writer = BeginXmlWriter(out, &options, nullptr, "morvex_data");
  WriteStartTag(*writer, "r");
  for (const auto& [name, value] : kFields)
    WriteXmlField(*writer, name, 0, false, false, value, false);
  WriteEndTag(*writer, "r");
  EndXmlWriter(std::move(writer), "morvex_data");
  return out.Data();
}

std::string Joined(const std::vector<std::string>& values) {
  std::string text;
  for (const std::string& value : values) text += (text.empty() ? "" : "|") + value;
  return text;
}

std::string ExpectedValues() {
  std::vector<std::string> values;
  for (const auto& field : kFields) values.push_back(field.second);
  return Joined(values);
}

std::string ViaJson(const std::string& xml) {
  TMemoryStream stream(xml);
  std::string error;
  const auto document = XmlToJsonTree(stream, &error);
  if (!document) return error;
  const TSuperObject* record = document->Member(*document->Root(), "r");
  if (record == nullptr) return "no r";
  std::vector<std::string> values;
  for (const auto& field : kFields) {
    const TSuperObject* value = document->Member(*record, field.first);
    values.push_back(value ? std::string(TJsonDocument::String(*value)) : "missing " + field.first);
  }
  return Joined(values);
}

std::string ViaCsv(const std::string& xml) {
  testing::TConversionRun run(xml);
  run.Options.HeaderRow = false;
  run.Options.Delimiter = "|";
  run.Options.Quote = "";
  if (!run.Runs([&] { XmlToCsv(run.Source, run.Destination, run.Options, {}); }))
    return run.Message;
  std::string text = run.Result().substr(3);  // the UTF-8 mark
  if (text.size() >= 2 && text.compare(text.size() - 2, 2, "\r\n") == 0)
    text.resize(text.size() - 2);
  return text;
}

constexpr const char* kConcat = "concat(r/a,'|',r/c,'|',r/g,'|',r/j)";

std::string ViaXPath(const std::string& xml) {
  TMemoryStream stream(xml);
  std::string text;
  testing::Evaluate(stream, kConcat, text, "");
  return text;
}

std::string ViaXslt(const std::string& xml) {
  TMemoryStream source(xml);
  TMemoryStream output;
  const std::string stylesheet =
      "<xsl:stylesheet version='1.0' xmlns:xsl='http://www.w3.org/1999/XSL/Transform'>"
      "<xsl:output method='text' encoding='UTF-8'/><xsl:template match='/morvex_data'>"
      "<xsl:value-of select=\"" +
      std::string(kConcat) + "\"/></xsl:template></xsl:stylesheet>";
  std::string message;
  if (!testing::Transform(source, testing::TStylesheetText{stylesheet}, output, {}, message))
    return message;
  return output.Data();
}

// Imports each document into the table t of one SQLite file (the encoding
// name in column e) and returns the stored values per encoding.
std::map<std::string, std::string> ViaImport(
    const std::vector<std::pair<std::string, std::string>>& documents) {
  testing::TTempSqliteFile file;
  const std::string connection = "Provider=SQLite;Data Source=" + file.Path();
  detail::xml_ptr<xmlDoc> doc;
  const TXmlElement root = ElementView(testing::LoadTemplateDocument(
      "<lsql><make after-open='yes'>CREATE TABLE IF NOT EXISTS t (e TEXT, v TEXT)</make>"
      "<ins>INSERT INTO t VALUES (:e, :source$a || '|' || :source$c || '|' || :source$g || '|' "
      "|| :source$j)</ins></lsql>",
      doc));
  std::map<std::string, std::string> stored;
  for (const auto& [encoding, xml] : documents) {
    TMemoryStream stream(xml);
    TXSourceInfo source{skStream, encoding, "utf-8", &stream};
    const std::vector<std::string> parameters = {"e=" + encoding};
    try {
      RunImportSession(connection, false, {}, TXmlElement(), parameters, root,
                       [&](TLSQLConnHelper& helper, const TTemplateTree& tree) {
                         ImportXmlRecords(source, TXTransformInfo{}, tree, {}, helper, parameters);
                       });
    } catch (const EMorvexError& error) {
      stored[encoding] = error.what();
    }
  }
  sqlite3* db = nullptr;
  EXPECT_EQ(sqlite3_open(file.Path().c_str(), &db), SQLITE_OK);
  sqlite3_stmt* select = nullptr;
  EXPECT_EQ(sqlite3_prepare_v2(db, "SELECT e, v FROM t", -1, &select, nullptr), SQLITE_OK);
  while (select && sqlite3_step(select) == SQLITE_ROW) {
    stored[reinterpret_cast<const char*>(sqlite3_column_text(select, 0))] =
        reinterpret_cast<const char*>(sqlite3_column_text(select, 1));
  }
  sqlite3_finalize(select);
  sqlite3_close(db);
  return stored;
}

TEST(XmlEncodings, EveryReaderReadsWhatTheWritersWrite) {
  const std::string expected = ExpectedValues();
  std::vector<std::pair<std::string, std::string>> documents;
  for (const std::string& encoding : EncodingNames()) {
    std::string xml;
    try {
      xml = WrittenDocument(encoding);
    } catch (const EMorvexError&) {
      continue;  // no conversion on this machine: nothing is written
    }
    documents.emplace_back(encoding, xml);
    EXPECT_EQ(ViaJson(xml), expected) << "xml/json, " << encoding;
    EXPECT_EQ(ViaCsv(xml), expected) << "xml/csv, " << encoding;
    EXPECT_EQ(ViaXPath(xml), expected) << "xpath, " << encoding;
    EXPECT_EQ(ViaXslt(xml), expected) << "xslt, " << encoding;
  }
  EXPECT_GT(documents.size(), 80u);
  const auto stored = ViaImport(documents);
  for (const auto& [encoding, xml] : documents) {
    const auto found = stored.find(encoding);
    EXPECT_EQ(found == stored.end() ? "not imported" : found->second, expected)
        << "import, " << encoding;
  }
}

}  // namespace
}  // namespace morvex
