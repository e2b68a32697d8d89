#include "convert/json_path.h"

#include <vector>

#include "convert/json_parser.h"
#include "convert/json_writer.h"
#include "text/encoding.h"
#include "text/error.h"
#include "text/stream.h"

namespace morvex {

const TSuperObject* SelectJsonPath(const TJsonDocument& document, const TSuperObject& value,
                                   std::string_view path) {
  const TSuperObject* current = &value;
  size_t pos = 0;
  while (pos < path.size() && current != nullptr) {
    if (path[pos] == '[') {
      const size_t close = path.find(']', pos);
      if (close == std::string_view::npos || close == pos + 1) return nullptr;
      uint64_t index = 0;
      for (size_t i = pos + 1; i < close; ++i) {
        if (path[i] < '0' || path[i] > '9' || index > (uint64_t{1} << 40)) return nullptr;
        index = index * 10 + static_cast<uint64_t>(path[i] - '0');
      }
      if (current->Kind != TJsonKind::Array) return nullptr;
      const auto items = TJsonDocument::Children(*current);
      if (index >= items.size()) return nullptr;
      current = &items[index];
      pos = close + 1;
      continue;
    }
    if (path[pos] == '.') ++pos;
    size_t end = pos;
    while (end < path.size() && path[end] != '.' && path[end] != '[') ++end;
    current = document.Member(*current, path.substr(pos, end - pos));
    pos = end;
  }
  return current;
}

bool JPathTransform(const TConvertEndpoint& source, const TConvertEndpoint& destination,
                    const TConvertOptions& options, std::string& message) {
  return RunConversion(message, [&] {
    TConvertInput input(source);
    const TEncoding& encoding = EncodingForName(options.Encoding);
    TConvertOutput output(destination);
    const std::unique_ptr<TJsonDocument> document = ReadJsonSource(input.Stream(), source.Location);
    output.Stream().Write(encoding.Preamble());

    // One path per line; lines end in CR LF or LF.
    const std::vector<std::string_view> paths = OptionItems(options.Content, '\n');
    std::vector<TSuperObject> selections;
    for (std::string_view path : paths) {
      const TSuperObject* selected = SelectJsonPath(*document, *document->Root(), path);
      if (selected == nullptr) {
        throw EMorvexError("The path " + std::string(path) + " selects nothing.");
      }
      selections.push_back(*selected);
    }
    TSuperObject result = *document->Root();
    if (selections.size() == 1) {
      result = selections[0];
    } else if (selections.size() > 1) {
      result = document->MakeArray(selections);
    }
    WriteJsonOutput(*document, result, output.Stream(), encoding, options.Indent);
    output.Close();
    return true;
  });
}

}  // namespace morvex
