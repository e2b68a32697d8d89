#include "app/inline_kinds.h"

#include <array>
#include <utility>

#include "engine/paths.h"
#include "scripting/script_engine.h"
#include "text/utf.h"

namespace morvex {

namespace {

// The number of UTF-16 code units that `text` occupies.
size_t Utf16Length(std::string_view text) { return Utf8ToUtf16(text).size(); }

}  // namespace

std::string ScriptLanguageForFile(std::string_view fileName) {
  // Languages this program has no engine for still name their files: a run
  // then says the language is not available.
  static constexpr std::array<std::pair<std::string_view, std::string_view>, 9> kOtherLanguages{{
      {"pas", "zqscript"},
      {"dpas", "zqscript"},
      {"vbs", "VBScript"},
      {"pls", "PerlScript"},
      {"rxs", "ooRexxScript"},
      {"tcls", "TclScript"},
      {"phps", "ActivePHPScript"},
      {"rbs", "RubyScript"},
      {"ops", "OpScript"},
  }};
  const std::string extension = AsciiLower(FileExtension(fileName));
  if (extension.empty()) return {};
  const std::string_view bare = std::string_view(extension).substr(1);
  for (const TScriptLanguage& language : kScriptLanguages) {
    if (!language.Extension.empty() && bare == language.Extension) {
      return std::string(language.Name);
    }
  }
  for (const auto& [ext, language] : kOtherLanguages) {
    if (bare == ext) return std::string(language);
  }
  return {};
}

std::string SplitKindPrefix(std::string& argument) {
  const size_t colon = argument.find(':');
  if (colon == std::string::npos) return {};
  const size_t position = Utf16Length(std::string_view(argument).substr(0, colon)) + 1;
  if (position < 3 || position > 24) return {};
  // A kind is one word: text with blanks, quotes, parentheses or "=" before
  // the colon is a query or an expression ("select :day::::date",
  // "select now()::::date", "[@id = 'a:b']").
  if (argument.find_first_of(" \t\r\n\v\f'\"`()=", 0) < colon) return {};
  std::string kind = argument.substr(0, colon);
  argument.erase(0, colon + 1);
  return kind;
}

bool LooksLikeFilePath(std::string_view argument) {
  if (argument.empty()) return false;
  // A colon at position 2: the first character is one UTF-16 unit of 1 to 3
  // UTF-8 bytes followed by ":".
  for (size_t i = 1; i <= 3 && i < argument.size(); ++i) {
    if (argument[i] == ':' && Utf16Length(argument.substr(0, i)) == 1) return true;
  }
  if (argument.substr(0, 2) == "\\\\") return true;
  if (argument.find(';') == std::string_view::npos) return true;
  return argument.find('=') == std::string_view::npos;
}

}  // namespace morvex
