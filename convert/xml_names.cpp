#include "convert/xml_names.h"

namespace morvex {

namespace {

bool IsNameCharacter(char c) {
  return c == '-' || c == '_' || (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') ||
         (c >= 'a' && c <= 'z');
}

void ReplaceAll(std::string& text, std::string_view from, std::string_view to) {
  std::string out;
  out.reserve(text.size());
  size_t start = 0;
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, start)) {
    out.append(text, start, at - start);
    out.append(to);
    start = at + from.size();
  }
  out.append(text, start);
  text.swap(out);
}

}  // namespace

std::string MakeXmlName(std::string_view text) {
  std::string name;
  name.reserve(text.size());
  // One "_" per UTF-16 code unit, not per byte of a non-ASCII character.
  for (char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if ((u & 0xC0) == 0x80) continue;
    if (u >= 0xF0) name.push_back('_');
    name.push_back(IsNameCharacter(c) ? c : '_');
  }
  size_t skip = 0;
  while (skip < name.size() &&
         (name[skip] == '-' || name[skip] == '_' || (name[skip] >= '0' && name[skip] <= '9'))) {
    ++skip;
  }
  return name.substr(skip);
}

std::string FlattenText(std::string_view input, bool lineBreaks) {
  if (input.find('\n') == std::string_view::npos) return std::string(input);
  std::string text(input);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.pop_back();
  if (!text.empty() && text.back() == '\n') text.pop_back();
  if (!text.empty()) {
    std::string indent;
    const size_t firstLf = text.find('\n');
    if (firstLf != std::string::npos) {
      size_t end = firstLf + 1;
      while (end < text.size() && (text[end] == ' ' || text[end] == '\t')) ++end;
      indent.assign(end - firstLf - 1, ' ');
    }
    if (!indent.empty()) {
      for (char& c : text) {
        if (c == '\t') c = ' ';
      }
      ReplaceAll(text, "\n" + indent, "\n");
    }
  }
  size_t leading = 0;
  while (leading < text.size() && text[leading] == '\n') ++leading;
  text.erase(0, leading);
  ReplaceAll(text, "\n", lineBreaks ? "\r\n" : " ");
  return text;
}

}  // namespace morvex
