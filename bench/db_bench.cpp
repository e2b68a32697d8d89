// Runs one query template session that writes a query's result as template
// CSV or as dataset XML onto a file, and reports the time, the output size,
// the throughput and the peak memory.
//
//   db_bench csv|xml CONNECTION_STRING OUTPUT SQL [RECORD_TAG]
//
// With several statements separated by "|" in SQL, each statement after the
// first is nested in the one before it (a master-detail template whose
// elements are named e1, e2, ...; use :e1$id to refer to the parent).
#include <cstdint>
#include <cstdio>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

#include <libxml/tree.h>

#include "bench/bench_util.h"
#include "templates/template_session.h"
#include "text/stream.h"
#include "xml/dom.h"
#include "xml/xml_document.h"

namespace {

std::string EscapeXmlText(std::string_view text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '&':
        out += "&amp;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

// "<lsql><e1>SQL1<e2>SQL2</e2></e1></lsql>" for "SQL1|SQL2".
std::string TemplateOf(std::string_view sql) {
  std::vector<std::string_view> statements;
  size_t from = 0;
  for (size_t bar = sql.find('|'); bar != std::string_view::npos; bar = sql.find('|', from)) {
    statements.push_back(sql.substr(from, bar - from));
    from = bar + 1;
  }
  statements.push_back(sql.substr(from));
  std::string text = "<lsql>";
  for (size_t i = 0; i < statements.size(); ++i) {
    text += "<e" + std::to_string(i + 1) + ">" + EscapeXmlText(statements[i]);
  }
  for (size_t i = statements.size(); i > 0; --i) text += "</e" + std::to_string(i) + ">";
  return text + "</lsql>";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5 || argc > 6 ||
      (std::string_view(argv[1]) != "csv" && std::string_view(argv[1]) != "xml")) {
    std::fprintf(stderr, "usage: %s csv|xml CONNECTION_STRING OUTPUT SQL [RECORD_TAG]\n", argv[0]);
    return 1;
  }
  try {
    using namespace morvex;
    const bool csv = std::string_view(argv[1]) == "csv";
    TXTransformInfo options;
    options.Encoding = "utf-8";
    options.IncludeParams = false;
    if (argc > 5) options.RecordTag = argv[5];

    const TXmlDocument document = LoadXmlText(TemplateOf(argv[4]));
    if (!HasDocumentElement(document.get())) {
      std::fprintf(stderr, "db_bench: the SQL does not make a valid template\n");
      return 1;
    }
    int64_t records = 0;
    const ProgressSink sink = [&records](const std::string& line) {
      // "<tag>: <n> record(s) processed." closes each top-level element.
      const size_t colon = line.find(": ");
      if (line.ends_with(" record(s) processed.") && colon != std::string::npos) {
        records += std::stoll(line.substr(colon + 2));
      }
    };

    TFileStream out(argv[3], TFileStream::Mode::Create);
    bench::TStopwatch clock;
    RunQueryTemplate(argv[2], false, csv ? TQueryOutputKind::Csv : TQueryOutputKind::DatasetXml,
                     options, sink, out, TXmlElement(), {},
                     ElementView(xmlDocGetRootElement(document.get())));
    out.Flush();
    const int64_t bytes = out.Size();
    out.Close();
    const double seconds = clock.Seconds();
    std::printf(
        "%s: %lld top-level records, %.1f MB in %.2f s, %.1f MB/s, %.0f records/s, peak RSS %.1f "
        "MB\n",
        argv[1], static_cast<long long>(records), static_cast<double>(bytes) / 1048576.0, seconds,
        bench::MegabytesPerSecond(bytes, seconds),
        seconds > 0 ? static_cast<double>(records) / seconds : 0.0,
        static_cast<double>(bench::PeakRssKb()) / 1024.0);
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "db_bench: %s\n", e.what());
    return 1;
  }
}
