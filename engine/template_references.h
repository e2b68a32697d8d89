// The project check's view of parameter references: which ":name" in a
// query template, or in a script's `test`, nothing can satisfy when the
// project runs. A run binds such a name as Null (statements) or replaces it
// by nothing (conditions) without a word; the check names it.
#pragma once

#include <string>
#include <vector>

#include "xml/element_view.h"

namespace morvex {

class TParameterList;

// What a template's references may name besides the run's parameters.
struct TTemplateNames {
  // The template feeds an import: names beginning with "source$" are the
  // record's values.
  bool Import = false;
  // For a CSV import whose header was read: the names its columns are
  // offered under ("source$" + header name, "source$" + the header's own
  // text, "source$" + column number). Null when unknown: every "source$"
  // name then passes.
  const std::vector<std::string>* SourceColumns = nullptr;
  std::string SourceLabel;  // the CSV file, for messages
};

// One message per reference of the template whose root element is `root`
// (its statements, as a run prepares them, and their `test` attributes) that
// neither a parameter of `parameters`, nor an earlier or enclosing statement
// element of the referenced name, nor (in an import) a source column can
// satisfy: "<items>: :order$id names no earlier or enclosing statement
// <order>, so it is bound as Null", "<r>: :dya names no parameter, so it is
// bound as Null, did you mean day?". Each name once per element.
std::vector<std::string> TemplateReferenceProblems(TXmlElement root,
                                                   const TParameterList& parameters,
                                                   const TTemplateNames& names);

// The names a CSV file's columns are offered under in an import with a
// header row (see TTemplateNames::SourceColumns), read from its first
// record. False when the file cannot be read or holds no record.
bool CsvSourceColumns(const std::string& path, const std::string& delimiter,
                      const std::string& quote, const std::string& encoding,
                      std::vector<std::string>& columns);

}  // namespace morvex
