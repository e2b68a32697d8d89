// The fixture of the import tests: CSV and XML records imported through a
// whole template session into a real table of each test database.
#pragma once

#include <gtest/gtest.h>
#include <libxml/tree.h>

#include <string>
#include <vector>

#include "convert/csv_record_import.h"
#include "convert/xml_record_import.h"
#include "templates/template_session.h"
#include "tests/convert/convert_test_util.h"
#include "tests/support/template_document.h"
#include "tests/support/test_database.h"
#include "text/error.h"
#include "text/stream.h"

namespace morvex {

using Lines = std::vector<std::string>;

enum class TFormat { Csv, Xml };

class ImportTest : public testing::TDatabaseTest {
 protected:
  // Imports `input` through the template `xml` in a whole session; returns
  // the progress lines, or throws the session's error. The lines reported
  // before a failure stay in lines_.
  Lines Import(TFormat format, const std::string& input, const std::string& xml,
               bool oneTransaction = false, const std::vector<std::string>& parameters = {}) {
    lines_.clear();
    const TXmlElement root = ElementView(testing::LoadTemplateDocument(Sql(xml), doc_));
    TMemoryStream stream(input);
    TXSourceInfo source{skStream, "input", "utf-8", &stream};
    const ProgressSink sink = [this](const std::string& line) { lines_.push_back(line); };
    RunImportSession(ConnectionString() + connectionSuffix_, oneTransaction, sink, TXmlElement(),
                     parameters, root, [&](TLSQLConnHelper& helper, const TTemplateTree& tree) {
                       if (format == TFormat::Csv) {
                         ImportCsvRecords(source, options_, tree, sink, helper, parameters);
                       } else {
                         ImportXmlRecords(source, options_, tree, sink, helper, parameters);
                       }
                     });
    return lines_;
  }

  std::string ImportError(TFormat format, const std::string& input, const std::string& xml,
                          bool oneTransaction) {
    try {
      Import(format, input, xml, oneTransaction);
    } catch (const EMorvexError& error) {
      return error.what();
    }
    return "no error";
  }

  // Rows of `table` as "a|b|c" texts, ordered by the first column.
  Lines Rows(const std::string& columns = "a, b, c", const std::string& table = "{t}") {
    std::string expression;
    size_t start = 0;
    for (size_t comma = columns.find(','); start != std::string::npos;
         comma = columns.find(',', start)) {
      const std::string column =
          columns.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
      if (!expression.empty()) expression += " || '|' || ";
      expression += "COALESCE(CAST(" + column + " AS VARCHAR(200)), '<null>')";
      start = comma == std::string::npos ? comma : comma + 1;
    }
    return Column("SELECT " + expression + " FROM " + table + " ORDER BY 1");
  }

  // Row count and a checksum over the whole table, to compare before and after.
  std::string Checksum() {
    return Column(
        "SELECT CAST(COUNT(*) AS VARCHAR(20)) || '/' || "
        "CAST(COALESCE(SUM(id), 0) AS VARCHAR(20)) || '/' || "
        "CAST(COALESCE(SUM(LENGTH(name) * id), 0) AS VARCHAR(20)) FROM {t}")[0];
  }

  // A CSV text of ids 1..count with a name each.
  static std::string NumberedCsv(int count) {
    std::string csv = "id;name\r\n";
    for (int i = 1; i <= count; ++i) csv += std::to_string(i) + ";n" + std::to_string(i) + "\r\n";
    return csv;
  }

  static std::string NumberedXml(int count) {
    std::string xml = "<rows>";
    for (int i = 1; i <= count; ++i) {
      xml += "<row><id>" + std::to_string(i) + "</id><name>n" + std::to_string(i) + "</name></row>";
    }
    return xml + "</rows>";
  }

  TXTransformInfo options_;
  std::string connectionSuffix_;  // added to the connection string
  Lines lines_;
  detail::xml_ptr<xmlDoc> doc_;
};

constexpr const char* kInsertIdName =
    "<lsql><ins>INSERT INTO {t} (id, name) VALUES (:source$id, :source$name)</ins></lsql>";

}  // namespace morvex
