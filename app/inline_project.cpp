#include "app/inline_project.h"

#include <algorithm>
#include <string_view>

#include "app/inline_kinds.h"
#include "engine/paths.h"
#include "engine/streams.h"
#include "engine/transform_kinds.h"
#include "text/nearest_name.h"
#include "text/text_edit.h"
#include "text/utf.h"
#include "xml/xml_document.h"

namespace morvex {

namespace {

constexpr std::string_view kHead = "<?xml version=\"1.0\" ?><morvex><script>";
constexpr std::string_view kTail = "</script></morvex>\r\n";

// The four steps of the one script, each a complete element or empty; they
// are joined in this order whatever order the rules fill them in.
struct TInlineScript {
  std::string Source;
  std::string Query;
  std::string Transform;
  std::string Destination;
};

std::string EscapeXml(std::string_view text, bool attribute) {
  std::string result;
  result.reserve(text.size());
  AppendXmlEscaped(result, text, attribute);
  return result;
}

// True when `text` is well-formed element content: plain text, or markup such
// as an inline query template meant to become elements of the project.
bool IsXmlContent(std::string_view text) {
  try {
    const TXmlDocument document = LoadXmlText("<x>" + std::string(text) + "</x>");
    return HasDocumentElement(document.get());
  } catch (...) {
    return false;
  }
}

// Element content: kept as it is when it parses as XML content, else escaped,
// so that a query such as "select * from t where a < 5" or a file name with
// "&" stays the text the user typed.
std::string Content(std::string_view text) {
  return IsXmlContent(text) ? std::string(text) : EscapeXml(text, false);
}

// A character-data section cannot hold "]]>": the text is split across two
// sections at each occurrence.
std::string CData(std::string_view text) {
  std::string result = "<![CDATA[";
  size_t start = 0;
  for (size_t end; (end = text.find("]]>", start)) != std::string_view::npos; start = end + 2) {
    result.append(text.substr(start, end + 2 - start));
    result += "]]><![CDATA[";
  }
  result.append(text.substr(start));
  result += "]]>";
  return result;
}

std::string Element(std::string_view name, std::string_view kind, std::string_view content) {
  return "<" + std::string(name) + " kind=\"" + EscapeXml(kind, true) + "\">" +
         std::string(content) + "</" + std::string(name) + ">";
}

std::string ConnectionString(std::string_view argument) {
  return "<connection-string>" + Content(argument) + "</connection-string>";
}

std::string FileSource(std::string_view file) { return Element("source", "file", Content(file)); }
std::string DatabaseSource(std::string_view connection) {
  return Element("source", "oledb", ConnectionString(connection));
}
std::string FileDestination(std::string_view file) {
  return Element("destination", "file", Content(file));
}
std::string DatabaseDestination(std::string_view connection) {
  return Element("destination", "oledb", ConnectionString(connection));
}
// A file name or a connection string, as the argument looks.
std::string Destination(std::string_view argument) {
  return LooksLikeFilePath(argument) ? FileDestination(argument) : DatabaseDestination(argument);
}
std::string Query(std::string_view kind, std::string_view text) {
  return Element("lsql", kind, Content(text));
}
// A transform whose text is a file name, or empty for keyword-only kinds.
std::string PlainTransform(std::string_view kind, std::string_view text) {
  return Element("transform", kind, Content(text));
}
// A transform whose text is an expression or an inline script.
std::string TextTransform(std::string_view kind, std::string_view text) {
  return Element("transform", kind, CData(text));
}

bool StartsWith(std::string_view text, char c) { return !text.empty() && text.front() == c; }

// The first argument is a file source when a file of that name exists, or
// when it is "-", standard input.
bool IsSourceFile(const std::string& first) {
  return first == kStandardStreamName || FileExists(first);
}

// A query step from a file when one of that name exists, else typed inline.
std::string QueryFileOrInline(const std::string& argument) {
  return FileExists(argument) ? Query("file", argument) : Query("inline", argument);
}

TInlineScript TwoArguments(const std::string& first, std::string second) {
  TInlineScript script;
  if (IsSourceFile(first)) {
    script.Source = FileSource(first);
    if (FileExists(second)) {
      const std::string language = ScriptLanguageForFile(second);
      script.Transform = PlainTransform(language.empty() ? "xslt" : language, second);
    } else if (const std::string kind = SplitKindPrefix(second); !kind.empty()) {
      script.Transform = TextTransform(kind, second);
    } else {
      script.Destination = FileDestination(second);
    }
    return script;
  }
  script.Source = DatabaseSource(first);
  if (FileExists(second)) {
    const std::string language = ScriptLanguageForFile(second);
    if (!language.empty()) {
      script.Transform = PlainTransform(language, second);
    } else {
      script.Query = Query("file", second);
    }
  } else if (const std::string kind = SplitKindPrefix(second); !kind.empty()) {
    script.Transform = TextTransform(kind, second);
  } else {
    script.Query = Query("inline", second);
  }
  return script;
}

// What follows a query step in the three-argument form: a transform typed
// with a kind prefix, a script, or an output file whose extension picks the
// form of the query result.
void QueryOutput(TInlineScript& script, std::string third) {
  if (const std::string kind = SplitKindPrefix(third); !kind.empty()) {
    script.Transform = TextTransform(kind, third);
    return;
  }
  if (const std::string language = ScriptLanguageForFile(third); !language.empty()) {
    script.Transform = PlainTransform(language, third);
    return;
  }
  const std::string extension = AsciiLower(FileExtension(third));
  const std::string_view kind = extension == ".csv" ? "csv" : extension == ".json" ? "json" : "xml";
  script.Transform = PlainTransform(kind, "");
  script.Destination = FileDestination(third);
}

// A keyword that is the whole transformation, such as "xml/csv".
bool IsConversionKeyword(std::string_view argument) {
  const std::vector<std::string> keywords = ConversionKeywords();
  return std::find(keywords.begin(), keywords.end(), AsciiLower(argument)) != keywords.end();
}

TInlineScript ThreeArguments(const std::string& first, std::string second,
                             const std::string& third) {
  TInlineScript script;
  if (IsConversionKeyword(second)) {
    script.Source = FileSource(first);
    script.Transform = PlainTransform(second, "");
    script.Destination = FileDestination(third);
    return script;
  }
  if (IsSourceFile(first)) {
    script.Source = FileSource(first);
    if (const std::string kind = SplitKindPrefix(second); !kind.empty()) {
      script.Transform = TextTransform(kind, second);
      script.Destination = Destination(third);
      return script;
    }
    if (StartsWith(second, '=')) {
      script.Transform = TextTransform("xpath", second);
    } else if (FileExists(second)) {
      const std::string language = ScriptLanguageForFile(second);
      if (!language.empty()) {
        script.Transform = PlainTransform(language, second);
        script.Destination = Destination(third);
        return script;
      }
      script.Transform = PlainTransform("xslt", second);
    } else if (StartsWith(second, '{') || StartsWith(second, '$')) {
      const std::string_view path =
          StartsWith(second, '$') ? std::string_view(second).substr(1) : std::string_view(second);
      script.Transform = TextTransform("jpath", path);
    } else {
      script.Transform = TextTransform("xpath", second);
    }
    script.Destination = FileDestination(third);
    return script;
  }
  script.Source = DatabaseSource(first);
  if (const std::string kind = SplitKindPrefix(second); !kind.empty()) {
    script.Transform = TextTransform(kind, second);
    script.Destination = Destination(third);
    return script;
  }
  if (FileExists(second)) {
    if (const std::string language = ScriptLanguageForFile(second); !language.empty()) {
      script.Transform = PlainTransform(language, second);
      script.Destination = Destination(third);
      return script;
    }
    script.Query = Query("file", second);
  } else {
    script.Query = Query("inline", second);
  }
  QueryOutput(script, third);
  return script;
}

TInlineScript FourArguments(const std::string& first, const std::string& second, std::string third,
                            const std::string& fourth) {
  TInlineScript script;
  // A file loaded into a database may also be written as file, kind,
  // database, template file ("orders.csv xml/csv <connection> insert.lsql"),
  // which the first reading would take for a query named like a kind.
  if (IsSourceFile(first) && IsConversionKeyword(second) && !FileExists(second) &&
      FileExists(fourth)) {
    script.Source = FileSource(first);
    script.Query = Query("file", fourth);
    script.Transform = PlainTransform(second, "");
    script.Destination = DatabaseDestination(third);
    return script;
  }
  if (IsSourceFile(first)) {
    script.Source = FileSource(first);
    script.Query = QueryFileOrInline(second);
    script.Transform = PlainTransform(third, "");
    script.Destination = DatabaseDestination(fourth);
    return script;
  }
  script.Source = DatabaseSource(first);
  script.Query = QueryFileOrInline(second);
  if (third == "xml" || third == "csv" || third == "json") {
    script.Transform = PlainTransform(third, "");
    script.Destination = FileDestination(fourth);
    return script;
  }
  if (const std::string kind = SplitKindPrefix(third); !kind.empty()) {
    script.Transform = TextTransform(kind, third);
    script.Destination = Destination(fourth);
    return script;
  }
  if (StartsWith(third, '=') || !FileExists(third)) {
    script.Transform = TextTransform("xpath", third);
    script.Destination = FileDestination(fourth);
    return script;
  }
  if (const std::string language = ScriptLanguageForFile(third); !language.empty()) {
    script.Transform = PlainTransform(language, third);
    script.Destination = Destination(fourth);
    return script;
  }
  script.Transform = PlainTransform("xslt", third);
  script.Destination = FileDestination(fourth);
  return script;
}

}  // namespace

std::string InlineKeywordWarning(const std::vector<std::string>& arguments) {
  if (arguments.size() < 3 || arguments.size() > 4) return {};
  const std::vector<std::string> keywords = ConversionKeywords();
  for (size_t i = 1; i + 1 < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    // Only texts shaped like a keyword: letters and one "/".
    if (argument.find('/') == std::string::npos || IsConversionKeyword(argument) ||
        FileExists(argument)) {
      continue;
    }
    bool keywordShape = true;
    for (const char c : argument) {
      if (c != '/' && !(c >= 'a' && c <= 'z') && !(c >= 'A' && c <= 'Z')) keywordShape = false;
    }
    if (!keywordShape) continue;
    const std::string nearest = NearestName(AsciiLower(argument), keywords);
    if (!nearest.empty()) {
      return "Warning: " + argument + " is taken as an XPath expression (did you mean " + nearest +
             "?)";
    }
  }
  return {};
}

std::string BuildInlineProject(const std::vector<std::string>& arguments) {
  if (arguments.empty()) return {};
  if (arguments.size() == 1) return arguments[0];
  TInlineScript script;
  switch (arguments.size()) {
    case 2:
      script = TwoArguments(arguments[0], arguments[1]);
      break;
    case 3:
      script = ThreeArguments(arguments[0], arguments[1], arguments[2]);
      break;
    case 4:
      script = FourArguments(arguments[0], arguments[1], arguments[2], arguments[3]);
      break;
    default:
      break;
  }
  return std::string(kHead) + script.Source + script.Query + script.Transform + script.Destination +
         std::string(kTail);
}

}  // namespace morvex
