#include "convert/csv_to_xml.h"

#include <algorithm>
#include <filesystem>
#include <vector>

#include "convert/csv_table.h"
#include "convert/xml_names.h"
#include "text/error.h"
#include "text/stream.h"
#include "xml/dom.h"
#include "xml/xml_options.h"
#include "xml/xml_writer.h"

namespace morvex {

namespace {

struct TCsvXmlNames {
  std::string Root;
  std::vector<std::string> Wrappers;  // outermost first
  std::string Record;
};

TCsvXmlNames NamesFor(const TXSourceInfo& source, std::string_view recordTag) {
  const std::vector<std::string_view> items = OptionItems(recordTag, '/');
  TCsvXmlNames names;
  if (items.size() <= 1) {
    names.Root = "morvex_data";
    names.Record = items.empty() ? "r" : std::string(items[0]);
    const std::string base = source.Stream != nullptr
                                 ? source.Location
                                 : std::filesystem::path(source.Location).stem().string();
    std::string wrapper = MakeXmlName(base);
    names.Wrappers.push_back(wrapper.empty() ? "dataset" : wrapper);
  } else {
    names.Root = items.front();
    names.Record = items.back();
    names.Wrappers.assign(items.begin() + 1, items.end() - 1);
  }
  return names;
}

std::string_view TrimRightControls(std::string_view text) {
  while (!text.empty() && static_cast<unsigned char>(text.back()) <= ' ') text.remove_suffix(1);
  return text;
}

}  // namespace

void CsvToXml(const TXSourceInfo& source, const TXSourceInfo& destination,
              const TXTransformInfo& options, const ProgressSink& progress) {
  std::unique_ptr<TConvertInput> input;
  try {
    input = std::make_unique<TConvertInput>(source);
  } catch (const EMorvexError&) {
    throw EMorvexError("");  // an unreadable source fails with an empty message
  }
  std::unique_ptr<TStream> copy;
  TCsvReader reader(SeekableInput(input->Stream(), copy), options.Delimiter, options.Quote,
                    source.Encoding);
  std::vector<std::string> cells;
  size_t width = 0;
  while (reader.Next(cells)) width = std::max(width, cells.size());
  if (reader.InputWasEmpty()) throw EMorvexError(kEmptyCsvMessage);
  reader.Rewind();

  const TCsvXmlNames names = NamesFor(source, options.RecordTag);
  TConvertOutput output(destination);
  TXmlOptions xmlOptions = DefaultXmlOptions();
  xmlOptions.Encoding = options.Encoding;
  xmlOptions.Indent = options.Indent;
  const std::unique_ptr<TXMLAttributes> rootAttributes = AttributesFromText(options.Namespaces);
  auto writer = BeginXmlWriter(output.Stream(), &xmlOptions, rootAttributes.get(), names.Root);
  for (const std::string& wrapper : names.Wrappers) WriteStartTag(*writer, wrapper);

  std::vector<std::string> columns(width);
  bool first = true;
  int64_t count = 0;
  TXMLParser& parser = writer->Parser();
  while (reader.Next(cells)) {
    cells.resize(width);
    if (first) {
      first = false;
      for (size_t i = 0; i < width; ++i) {
        std::string name = options.HeaderRow ? MakeXmlName(cells[i]) : std::string();
        columns[i] = name.empty() ? "col_" + std::to_string(i + 1) : std::move(name);
      }
      if (options.HeaderRow) continue;
    }
    ++count;
    WriteStartTag(*writer, names.Record);
    for (size_t i = 0; i < width; ++i) {
      WriteStartTag(*writer, columns[i]);
      WriteCharacters(parser, TrimRightControls(cells[i]));
      WriteEndTag(*writer, columns[i]);
    }
    WriteEndTag(*writer, names.Record);
    ReportProgress(progress, count);
  }
  if (progress) {
    const std::string warning = reader.ReplacedValuesWarning();
    if (!warning.empty()) progress(warning);
    std::string path;
    for (const std::string& wrapper : names.Wrappers) {
      if (!path.empty()) path += '/';
      path += wrapper;
    }
    if (names.Wrappers.empty()) path = names.Root;
    progress(path + ": " + std::to_string(count) + " record(s) processed.");
  }
  for (auto it = names.Wrappers.rbegin(); it != names.Wrappers.rend(); ++it) {
    WriteEndTag(*writer, *it);
  }
  EndXmlWriter(std::move(writer), names.Root);
  output.Close();
}

}  // namespace morvex
