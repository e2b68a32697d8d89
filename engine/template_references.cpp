#include "engine/template_references.h"

#include <set>

#include "convert/csv_table.h"
#include "convert/xml_names.h"
#include "db/sql_parameters.h"
#include "engine/parameters.h"
#include "templates/parameter_names.h"
#include "templates/template_tree.h"
#include "text/case_fold.h"
#include "text/nearest_name.h"
#include "text/stream.h"

namespace morvex {

namespace {

constexpr std::string_view kSourcePrefix = "source$";

// A statement named `tag` (letter case ignored) where a run looks for the
// statement of ":tag$field".
bool FindsElement(const TTemplateStatement& statement, const std::string& tag) {
  const std::string key = FoldCase(tag);
  return VisitReferenceCandidates(statement, [&](const TTemplateStatement& candidate) {
    return FoldCase(candidate.Tag) == key;
  });
}

std::string WithSuggestion(std::string message, const std::string& name,
                           const std::vector<std::string>& known) {
  const std::string nearest = NearestName(name, known);
  if (!nearest.empty()) message += ", did you mean " + nearest + "?";
  return message;
}

class TReferenceCheck {
 public:
  TReferenceCheck(const TParameterList& parameters, const TTemplateNames& names)
      : parameters_(parameters), names_(names) {
    for (int i = 0; i < parameters.Count(); ++i) parameterNames_.push_back(parameters.Name(i));
    if (names.SourceColumns) {
      for (const std::string& column : *names.SourceColumns) {
        columnKeys_.insert(FoldCase(column));
        // Suggestions come from the header, not from the column numbers.
        if (column.find_first_not_of("0123456789", kSourcePrefix.size()) != std::string::npos) {
          headerNames_.push_back(column);
        }
      }
    }
  }

  void Walk(const TTemplateStatement& parent) {
    for (const auto& child : parent.Children) {
      const TTemplateStatement& statement = *child;
      std::set<std::string> seen;
      for (const std::string& name : ParseSqlParameters(statement.Sql).Names) {
        if (seen.insert(FoldCase(name)).second) Check(statement, name, "bound as Null");
      }
      for (const std::string& name : ExtractParameterNames(statement.Test)) {
        if (seen.insert(FoldCase(name)).second) {
          Check(statement, name, "replaced by nothing in its test");
        }
      }
      Walk(statement);
    }
  }

  std::vector<std::string> Problems() { return std::move(problems_); }

 private:
  void Check(const TTemplateStatement& statement, const std::string& name, const char* outcome) {
    if (parameters_.IndexOf(name) >= 0) return;
    const std::string owner = "<" + statement.Tag + ">: :" + name;
    const std::string ending = std::string(", so it is ") + outcome;
    const size_t dollar = name.find('$');
    if (dollar == std::string::npos) {
      problems_.push_back(
          WithSuggestion(owner + " names no parameter" + ending, name, parameterNames_));
      return;
    }
    if (names_.Import && FoldCase(name).starts_with(kSourcePrefix)) {
      // Rows may be wider than the header: a column number is never wrong.
      const std::string_view column = std::string_view(name).substr(kSourcePrefix.size());
      const bool number =
          !column.empty() && column.find_first_not_of("0123456789") == std::string_view::npos;
      if (!names_.SourceColumns || number || columnKeys_.count(FoldCase(name))) return;
      problems_.push_back(WithSuggestion(
          owner + " names no column of the CSV header of " + names_.SourceLabel + ending, name,
          headerNames_));
      return;
    }
    const std::string tag = name.substr(0, dollar);
    if (FindsElement(statement, tag)) return;
    problems_.push_back(owner + " names no earlier or enclosing statement <" + tag + ">" + ending);
  }

  const TParameterList& parameters_;
  const TTemplateNames& names_;
  std::vector<std::string> parameterNames_;
  std::set<std::string> columnKeys_;
  std::vector<std::string> headerNames_;
  std::vector<std::string> problems_;
};

}  // namespace

std::vector<std::string> TemplateReferenceProblems(TXmlElement root,
                                                   const TParameterList& parameters,
                                                   const TTemplateNames& names) {
  const TTemplateTree tree(root);
  TReferenceCheck check(parameters, names);
  check.Walk(tree.Root());
  return check.Problems();
}

bool CsvSourceColumns(const std::string& path, const std::string& delimiter,
                      const std::string& quote, const std::string& encoding,
                      std::vector<std::string>& columns) {
  try {
    TFileStream file(path, TFileStream::Mode::Read);
    TCsvReader reader(file, delimiter, quote, encoding);
    std::vector<std::string> header;
    if (!reader.Next(header)) return false;
    columns.clear();
    for (size_t i = 0; i < header.size(); ++i) {
      const std::string name = MakeXmlName(header[i]);
      if (!name.empty()) columns.push_back(std::string(kSourcePrefix) + name);
      if (!header[i].empty() && header[i] != name) {
        columns.push_back(std::string(kSourcePrefix) + header[i]);
      }
      columns.push_back(std::string(kSourcePrefix) + std::to_string(i + 1));
    }
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace morvex
