#include "convert/xml_names.h"

#include "text/text_edit.h"

namespace morvex {

namespace {

bool IsNameCharacter(char c) {
  return c == '-' || c == '_' || (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') ||
         (c >= 'a' && c <= 'z');
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
