// The ":name" parameter syntax of statement texts. The program never builds
// SQL: it only finds the parameters the user wrote and hands the driver the
// same text with a "?" placeholder in place of each one.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace morvex {

struct TParsedSql {
  std::string Text;                // the statement with "?" for each parameter
  std::vector<std::string> Names;  // one per placeholder, in order; names may repeat
  bool HasLiteralColon = false;    // a "::" outside quotes became ":"
};

// Scans `sql` left to right:
// - an apostrophe, a double quote or a backquote opens a quoted stretch that
//   the same character closes; nothing inside is a parameter;
// - "::" outside quotes is one literal ":";
// - ":" followed by a name starts a parameter; the name ends as
//   TNameSyntax::Statement says: at the first white space (space, TAB, CR,
//   LF, VT, FF), ",", ";", ")" or ":", or the end of the text (so "$", "=",
//   "-" and "." belong to a name, and ":day::date" is the parameter day
//   followed by a literal ":"); a name quoted right after the colon (:"a b")
//   may hold those delimiters and loses its quotes;
// - a colon with no name after it (followed by a delimiter or at the end)
//   stays a literal colon.
TParsedSql ParseSqlParameters(std::string_view sql);

}  // namespace morvex
