// The paths a one-pass selection understands: an absolute location path of
// child (/) and descendant (//) steps with name tests, whose predicates, on
// the last step only, look only inside the selected element and are not
// positional.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "xml/xml_document.h"

namespace morvex {

// One step: "/" (child) or "//" (descendant) and a name test.
struct TPathStep {
  bool Descendant = false;
  bool AnyName = false;       // * or p:*
  bool AnyNamespace = false;  // *
  std::string LocalName;      // when !AnyName
  std::string NamespaceUri;   // empty: no namespace
};

struct TSelectionPath {
  std::vector<TPathStep> Steps;
  std::string Predicates;  // "[...][...]" as written, empty when none
};

// The path of `expression` when it is one of those, with prefixes bound by
// `prefixes` (a selection's namespaces); nothing for any other expression
// (positions, the axes that leave the element, absolute paths, unions or
// variables inside predicates, functions outside the core set that needs
// only the element, an undeclared prefix, an invalid expression).
std::optional<TSelectionPath> ParseSelectionPath(std::string_view expression,
                                                 const std::vector<TNamespaceBinding>& prefixes);

// The expressions of a selection text: one per line when it holds a line
// end (lines end at CR, LF or CR LF, a final line end adds no empty line),
// else the whole text.
std::vector<std::string> SelectionLines(std::string_view text);

}  // namespace morvex
