#include "convert/json_path.h"

#include <vector>

#include "convert/json_parser.h"
#include "convert/json_writer.h"
#include "text/encoding.h"
#include "text/error.h"
#include "text/stream.h"

namespace morvex {

namespace {

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && static_cast<unsigned char>(text.front()) <= ' ') text.remove_prefix(1);
  while (!text.empty() && static_cast<unsigned char>(text.back()) <= ' ') text.remove_suffix(1);
  return text;
}

// The non-empty lines of a list of paths; lines end in CR LF or LF.
std::vector<std::string_view> PathLines(std::string_view content) {
  std::vector<std::string_view> lines;
  size_t start = 0;
  while (start <= content.size()) {
    size_t end = content.find('\n', start);
    if (end == std::string_view::npos) end = content.size();
    const std::string_view line = Trimmed(content.substr(start, end - start));
    if (!line.empty()) lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

}  // namespace

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
  message.clear();
  try {
    TConvertInput input(source);
    const TEncoding& encoding = EncodingForName(options.Encoding);
    TConvertOutput output(destination);
    std::string reason;
    std::unique_ptr<TJsonDocument> document = ParseJsonInput(input.Stream(), &reason);
    if (!document) throw EMorvexError(NoJsonValueMessage(source.Location, reason));
    output.Stream().Write(encoding.Preamble());

    const std::vector<std::string_view> paths = PathLines(options.Content);
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
  } catch (const std::exception& error) {
    message = error.what();
    return false;
  }
}

}  // namespace morvex
