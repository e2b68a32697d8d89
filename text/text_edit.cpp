#include "text/text_edit.h"

#include <filesystem>

namespace morvex {

std::string TrimText(std::string_view text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && static_cast<unsigned char>(text[begin]) <= ' ') ++begin;
  while (end > begin && static_cast<unsigned char>(text[end - 1]) <= ' ') --end;
  return std::string(text.substr(begin, end - begin));
}

std::string LineFeedsToCrLf(std::string_view text) {
  std::string result;
  result.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) result += '\r';
    result += text[i];
  }
  return result;
}

void ReplaceAll(std::string& text, std::string_view from, std::string_view to) {
  if (from.empty()) return;
  size_t pos = 0;
  while ((pos = text.find(from, pos)) != std::string::npos) {
    text.replace(pos, from.size(), to);
    pos += to.size();
  }
}

std::string_view XmlEntityOf(char c, bool quotes) {
  switch (c) {
    case '&':
      return "&amp;";
    case '<':
      return "&lt;";
    case '>':
      return "&gt;";
    case '"':
      return quotes ? "&quot;" : std::string_view();
    default:
      return {};
  }
}

void AppendXmlEscaped(std::string& out, std::string_view text, bool quotes) {
  for (const char c : text) {
    const std::string_view entity = XmlEntityOf(c, quotes);
    if (entity.empty()) {
      out.push_back(c);
    } else {
      out.append(entity);
    }
  }
}

std::string CurrentDirectory() {
  std::error_code error;
  const std::filesystem::path current = std::filesystem::current_path(error);
  return error ? std::string() : current.string() + "/";
}

}  // namespace morvex
