#include "engine/parameters.h"

#include <charconv>
#include <cmath>
#include <optional>

#include "db/parameter_entries.h"
#include "engine/streams.h"
#include "templates/parameter_names.h"
#include "text/case_fold.h"
#include "text/error.h"
#include "text/utf.h"
#include "xml/xml_types.h"

namespace morvex {

namespace {

// A stream text longer than this is not inserted into a condition.
constexpr int64_t kShortStreamLimit = 256;

std::string_view NameOfEntry(std::string_view entry) { return entry.substr(0, entry.find('=')); }

// The text of a short stream for a condition, read from the stream's start;
// the stream's position is left where it was. Empty for a stream of 256 bytes
// or more, or one that cannot be read.
std::string ShortStreamText(TStream& stream) {
  std::string text;
  try {
    if (stream.Size() >= kShortStreamLimit) return {};
    const int64_t position = stream.Position();
    stream.SetPosition(0);
    const bool read = ReadStreamText(stream, text);
    stream.SetPosition(position);
    if (!read) return {};
  } catch (const EMorvexError&) {
    return {};
  }
  return CrLfToBlank(text);
}

// Parameter values written by people: spaces and tabs around them.
std::string_view TrimValueBlanks(std::string_view text) { return TrimBlanks(text, " \t"); }

// A decimal integer with an optional sign, surrounding blanks allowed.
std::optional<int64_t> ParseInteger(std::string_view text) {
  std::string_view s = TrimValueBlanks(text);
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  if (s.empty() || s.front() == '+') return std::nullopt;
  int64_t value = 0;
  const auto [end, error] = std::from_chars(s.data(), s.data() + s.size(), value);
  if (error != std::errc() || end != s.data() + s.size()) return std::nullopt;
  return value;
}

// A finite number with "." as the decimal separator and an optional exponent,
// surrounding blanks allowed.
std::optional<double> ParseFloat(std::string_view text) {
  std::string_view s = TrimValueBlanks(text);
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  if (s.empty() || s.front() == '+') return std::nullopt;
  double value = 0;
  const auto [end, error] =
      std::from_chars(s.data(), s.data() + s.size(), value, std::chars_format::general);
  if (error != std::errc() || end != s.data() + s.size() || !std::isfinite(value)) {
    return std::nullopt;
  }
  return value;
}

// "true" or "false" in any letter case, or a number (zero is false).
std::optional<bool> ParseBoolean(std::string_view text) {
  const std::string lower = AsciiLower(TrimValueBlanks(text));
  if (lower == "true") return true;
  if (lower == "false") return false;
  if (const std::optional<double> number = ParseFloat(text)) return *number != 0;
  return std::nullopt;
}

}  // namespace

int TParameterList::IndexOf(std::string_view name) const {
  const std::string* entry = FindParameterEntry(entries_, name);
  return entry ? static_cast<int>(entry - entries_.data()) : -1;
}

std::string TParameterList::Name(int index) const {
  return std::string(NameOfEntry(entries_.at(index)));
}

std::string TParameterList::Value(int index) const {
  const std::string& entry = entries_.at(index);
  const size_t equals = entry.find('=');
  return equals == std::string::npos ? std::string() : entry.substr(equals + 1);
}

void TParameterList::SetValue(int index, std::string_view value) {
  std::string& entry = entries_.at(index);
  entry = std::string(NameOfEntry(entry)) + "=" + std::string(value);
}

void TParameterList::Add(std::string_view entry, std::string_view alias) {
  entries_.emplace_back(entry);
  aliases_.emplace_back(alias);
}

std::string TParameterList::CommaText() const {
  std::string text;
  for (size_t i = 0; i < entries_.size(); ++i) {
    const std::string& entry = entries_[i];
    if (i > 0) text.push_back(',');
    bool quote = false;
    for (const char c : entry) {
      const auto byte = static_cast<unsigned char>(c);
      if (c == '"' || c == ',' || byte <= 0x20 || byte == 0x7F) {
        quote = true;
        break;
      }
    }
    if (!quote) {
      text += entry;
      continue;
    }
    text.push_back('"');
    for (const char c : entry) {
      if (c == '"') text.push_back('"');
      text.push_back(c);
    }
    text.push_back('"');
  }
  return text;
}

void SettleParameters(TParameterList& list, const std::vector<TParameterDeclaration>& declarations,
                      const std::vector<std::string>& parameterTexts, bool promptForParameters,
                      const TPromptCallback& onPrompt, const TOutputCallback& onOutput) {
  for (const TParameterDeclaration& declaration : declarations) {
    list.Add(declaration.Name + "=" + declaration.Value, declaration.Alias);
  }

  for (const std::string& text : parameterTexts) {
    const size_t equals = text.find('=');
    const int index = list.IndexOf(std::string_view(text).substr(0, equals));
    if (index < 0) {
      list.Add(text, "");
    } else {
      list.SetValue(index, equals == std::string::npos ? std::string() : text.substr(equals + 1));
    }
  }

  if (promptForParameters && !list.Empty() && onPrompt) {
    if (onOutput) onOutput("Enter the parameter values:", LevelHeadline);
    for (int i = 0; i < list.Count(); ++i) {
      const std::string& alias = list.Alias(i);
      const std::string value = list.Value(i);
      const std::string answer = onPrompt(alias.empty() ? list.Name(i) : alias, value);
      if (answer != value) list.SetValue(i, answer);
    }
  }

  if (!list.Empty() && onOutput) onOutput("Parameters: " + list.CommaText(), LevelDetail);
}

std::string SubstituteTest(std::string_view text, const TParameterList& list,
                           TStreamRegistry& streams) {
  const auto value = [&](const std::string& token) -> std::string {
    const int index = list.IndexOf(token);
    if (index >= 0) return list.Value(index);
    const size_t dollar = token.find('$');
    if (dollar != std::string::npos) {
      if (TStream* stream = streams.FindStream(std::string_view(token).substr(0, dollar))) {
        return std::to_string(stream->Size());
      }
    }
    if (TStream* stream = streams.FindStream(token)) return ShortStreamText(*stream);
    return {};
  };
  return ReplaceParameterReferences(text, [&](const std::string& token) {
    std::string text = value(token);
    return std::optional<TReferenceText>(TReferenceText{text, text});
  });
}

TTransformParameters BuildTransformParameters(
    const TParameterList& list, const std::vector<TParameterDeclaration>& declarations) {
  TTransformParameters parameters;
  parameters.reserve(list.Entries().size());
  for (int i = 0; i < list.Count(); ++i) {
    const std::string value = list.Value(i);
    // An empty value is no value: the stylesheet's own xsl:param default applies.
    if (value.empty()) continue;
    TTransformParameter parameter;
    parameter.Name = list.Name(i);
    parameter.Value = value;
    if (const TParameterDeclaration* declaration = FindDeclaration(declarations, parameter.Name)) {
      switch (XmlTypeIndex(declaration->Kind)) {
        case xtInteger:
          if (const auto number = ParseInteger(value)) parameter.Value = *number;
          break;
        case xtFloat:
          if (const auto number = ParseFloat(value)) parameter.Value = *number;
          break;
        case xtBoolean:
          if (const auto flag = ParseBoolean(value)) parameter.Value = *flag;
          break;
        default:
          break;
      }
    }
    parameters.push_back(std::move(parameter));
  }
  return parameters;
}

}  // namespace morvex
