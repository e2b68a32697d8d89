#include "convert/json_path.h"

#include <vector>

#include "convert/json_parser.h"
#include "convert/json_writer.h"
#include "text/encoding.h"
#include "text/error.h"
#include "text/stream.h"

namespace morvex {

namespace {

[[noreturn]] void RefuseSyntax(std::string_view path, std::string_view syntax) {
  throw EMorvexError("The path " + std::string(path) +
                     " uses syntax JSON path does not support: " + std::string(syntax));
}

// Where the bracket opened at `open` closes (brackets nest, as in filters
// such as "[?(@.a[0]>1)]"); the path's end when it does not.
size_t BracketEnd(std::string_view path, size_t open) {
  int depth = 0;
  for (size_t i = open; i < path.size(); ++i) {
    if (path[i] == '[') ++depth;
    if (path[i] == ']' && --depth == 0) return i;
  }
  return path.size() - 1;
}

// A "[" always begins an array position: anything but decimal digits
// between the brackets ("[*]", "[-1]", "['a']", "[?(...)]") is refused.
void CheckPositions(std::string_view path) {
  for (size_t open = path.find('['); open != std::string_view::npos;
       open = path.find('[', open + 1)) {
    const size_t close = BracketEnd(path, open);
    const std::string_view inside = path.substr(open + 1, close - open - 1);
    if (path[close] != ']' || inside.empty() ||
        inside.find_first_not_of("0123456789") != std::string_view::npos) {
      RefuseSyntax(path, path.substr(open, close - open + 1));
    }
    open = close;
  }
}

}  // namespace

const TSuperObject* SelectJsonPath(const TJsonDocument& document, const TSuperObject& value,
                                   std::string_view path) {
  CheckPositions(path);
  const TSuperObject* current = &value;
  size_t pos = 0;
  while (pos < path.size() && current != nullptr) {
    if (path[pos] == '[') {
      const size_t close = path.find(']', pos);
      uint64_t index = 0;
      for (size_t i = pos + 1; i < close && index <= (uint64_t{1} << 40); ++i) {
        index = index * 10 + static_cast<uint64_t>(path[i] - '0');
      }
      const auto items = TJsonDocument::Children(*current);
      if (current->Kind != TJsonKind::Array || index >= items.size()) return nullptr;
      current = &items[index];
      pos = close + 1;
      continue;
    }
    const size_t start = pos;
    if (path[pos] == '.') ++pos;
    size_t end = pos;
    while (end < path.size() && path[end] != '.' && path[end] != '[') ++end;
    const std::string_view name = path.substr(pos, end - pos);
    current = document.Member(*current, name);
    // Steps of other JSON path dialects are member names here: when no such
    // member exists, the message names the syntax rather than the absence.
    if (current == nullptr) {
      if (start == 0 && name == "$") RefuseSyntax(path, "$");
      if (name == "*") RefuseSyntax(path, path.substr(start, end - start));
      if (name.empty() && start < pos && end < path.size() && path[end] == '.') {
        RefuseSyntax(path, "..");
      }
    }
    pos = end;
  }
  return current;
}

void JPathTransform(const TXSourceInfo& source, const TXSourceInfo& destination,
                    const TXTransformInfo& options, const ProgressSink&) {
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
}

}  // namespace morvex
