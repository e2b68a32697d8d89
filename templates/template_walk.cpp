#include "templates/template_walk.h"

#include <exception>
#include <optional>
#include <string>

#include "db/driver.h"
#include "db/parameter_entries.h"
#include "templates/condition.h"
#include "templates/parameter_names.h"
#include "templates/statement_binding.h"
#include "text/case_fold.h"
#include "text/error.h"

namespace morvex {

namespace {

constexpr int64_t kProgressInterval = 10000;

// True when a name of the form element$field refers to an element named `tag`.
bool RefersTo(std::string_view name, std::string_view tag) {
  const size_t dollar = name.find('$');
  return dollar != std::string_view::npos && SameTextIgnoringCase(name.substr(0, dollar), tag);
}

// True when the statement or the `test` condition of `statement` names a
// field of a statement called `tag`.
bool StatementRefersTo(const TTemplateStatement& statement, std::string_view tag,
                       TLSQLConnHelper& helper) {
  if (const TLSQLDataset* dataset = helper.DatasetOf(statement.Index)) {
    for (int i = 0; i < dataset->ParamCount(); ++i) {
      if (RefersTo(dataset->ParamName(i), tag)) return true;
    }
  }
  for (const std::string& name : ExtractParameterNames(statement.Test)) {
    if (RefersTo(name, tag)) return true;
  }
  return false;
}

// True when a prepared statement is nested in `statement`.
bool HasNestedStatement(const TTemplateStatement& statement, TLSQLConnHelper& helper) {
  for (const auto& child : statement.Children) {
    if (helper.DatasetOf(child->Index)) return true;
  }
  return false;
}

// A statement that has been read to its end can only be referred to by its
// later siblings (references search preceding siblings and ancestors, and
// nested statements run only while their parent is on a record). Those that
// name it get its last record; keeping it costs a copy of every record, so
// no other statement pays for it.
// A statement with no statement nested in it is read while nothing else runs
// on the connection, so its result may stream. One directly under the root
// that is also not named by a later one may be queued: nothing reads its
// outcome.
void MarkKeptRecords(const TTemplateStatement& parent, TLSQLConnHelper& helper) {
  const auto& children = parent.Children;
  for (size_t i = 0; i < children.size(); ++i) {
    const TTemplateStatement& child = *children[i];
    TLSQLDataset* dataset = helper.DatasetOf(child.Index);
    if (!dataset) continue;
    bool referred = false;
    for (size_t later = i + 1; later < children.size() && !referred; ++later) {
      referred = StatementRefersTo(*children[later], child.Tag, helper);
    }
    const bool nested = HasNestedStatement(child, helper);
    dataset->SetKeepLastRecord(referred);
    dataset->SetReadAlone(!nested);
    dataset->Queueable = parent.IsRoot() && !referred && !nested;
    MarkKeptRecords(child, helper);
  }
}

void PrepareChildren(const TTemplateStatement& parent, TXmlElement declarations,
                     TLSQLConnHelper& helper) {
  for (const auto& child : parent.Children) {
    std::unique_ptr<TLSQLDataset> dataset = helper.CreateDataset(child->Sql);
    PrepareParameterTypes(*dataset, declarations);
    dataset->Phase = child->Phase;
    if (child->Phase == TPhase::AfterOpen) helper.HasAfterOpen = true;
    if (child->Phase == TPhase::BeforeClose) helper.HasBeforeClose = true;
    helper.AttachDataset(child->Index, std::move(dataset));
    PrepareChildren(*child, declarations, helper);
  }
}

std::string WrappedMessage(const TWalkStatement& statement, std::string_view message) {
  std::string text = statement.Tag + ": ";
  if (statement.Record > 0) {
    text += "Record #" + std::to_string(statement.Record);
    if (statement.Field) {
      text += ", Field \"";
      text += *statement.Field;
      text += '"';
    }
    text += ": ";
  }
  text += message;
  return text;
}

// The statement's `test`. One refused by a bound of the evaluator may well
// be meant to hold, so the walk's sink gets a warning, once per statement
// and step: the test is the same for every record.
bool TestHolds(const TWalkStatement& statement, const TTemplateWalk& walk,
               TLSQLConnHelper& helper) {
  std::string exceededLimit;
  const bool holds = EvaluateTest(statement.Statement->Test, *statement.Statement, walk.Parameters,
                                  helper, walk.Pairs, exceededLimit);
  if (!exceededLimit.empty() && !statement.Dataset->TestWarned) {
    statement.Dataset->TestWarned = true;
    if (walk.Sink && *walk.Sink) (*walk.Sink)(LimitWarning(statement.Tag, exceededLimit));
  }
  return holds;
}

}  // namespace

void PrepareTemplate(const TTemplateTree& tree, TXmlElement declarations, TLSQLConnHelper& helper) {
  try {
    PrepareChildren(tree.Root(), declarations, helper);
  } catch (const std::exception&) {
    // A statement that cannot be prepared ends the preparation; the
    // statements prepared so far still run.
  }
  MarkKeptRecords(tree.Root(), helper);
}

int64_t WalkTemplate(const TTemplateStatement& parent, const TTemplateWalk& walk,
                     TTemplateVisitor& visitor, TLSQLConnHelper& helper) {
  int64_t total = 0;
  const bool sink = walk.Sink && *walk.Sink;
  for (const auto& child : parent.Children) {
    const TTemplateStatement& element = *child;
    TLSQLDataset* dataset = helper.DatasetOf(element.Index);
    if (!dataset || dataset->Phase != helper.Phase) continue;
    TWalkStatement statement;
    statement.Statement = &element;
    statement.Dataset = dataset;
    statement.Tag = element.Tag;
    try {
      if (!dataset->Active() && TestHolds(statement, walk, helper)) {
        BindParameters(*dataset, walk.Parameters, element, walk.Pairs, helper);
        if (!helper.QueueDataset(*dataset, element.Index)) {
          total += helper.ExecuteDataset(*dataset);
        }
      }
      const bool active = dataset->Active();
      if (active) {
        visitor.StatementStart(statement);
        while (!dataset->Eof()) {
          ++statement.Record;
          visitor.RecordStart(statement);
          if (walk.Nested) {
            total += WalkTemplate(element, walk, visitor, helper);
            CloseTemplate(element, false, helper);
          }
          visitor.RecordEnd(statement);
          if (sink && statement.Record % kProgressInterval == 0) {
            (*walk.Sink)(statement.Tag + ": " + std::to_string(statement.Record) +
                         " records processed ...");
          }
          dataset->Next();
        }
        visitor.StatementEnd(statement);
      }
      const bool totalLine =
          walk.Totals == TTotalLines::Every || (walk.Totals == TTotalLines::ResultSets && active);
      if (sink && totalLine && IsTemplateRoot(parent)) {
        (*walk.Sink)(statement.Tag + ": " + std::to_string(statement.Record) +
                     " record(s) processed.");
      }
    } catch (const EDbQueuedError&) {
      throw;  // an earlier statement's failure: the importer names it
    } catch (const EMorvexError& error) {
      visitor.StatementFailed(statement);
      throw EMorvexError(WrappedMessage(statement, error.what()));
    }
  }
  return total;
}

int64_t ExecuteTemplate(const TTemplateStatement& parent, const TParameterValues* parameters,
                        const TNameValuePairs* pairs, bool report, const ProgressSink& sink,
                        TLSQLConnHelper& helper) {
  TTemplateVisitor runOnly;
  TTemplateWalk walk;
  walk.Parameters = parameters;
  walk.Pairs = pairs;
  walk.Sink = &sink;
  walk.Totals = report ? TTotalLines::Every : TTotalLines::None;
  return WalkTemplate(parent, walk, runOnly, helper);
}

void CloseTemplate(const TTemplateStatement& statement, bool free,
                   TLSQLConnHelper& helper) noexcept {
  for (const auto& child : statement.Children) {
    CloseTemplate(*child, free, helper);
    if (TLSQLDataset* dataset = helper.DatasetOf(child->Index)) {
      dataset->Close();
      if (free) helper.FreeDataset(child->Index);
    }
  }
}

namespace {

// The `test` text with its references replaced as EvaluateTest says.
std::string SubstituteTest(std::string_view text, const TTemplateStatement& statement,
                           const TParameterValues* parameters, const TLSQLConnHelper& helper,
                           const TNameValuePairs* pairs) {
  return ReplaceParameterReferences(
      text, [&](const std::string& name) -> std::optional<TReferenceText> {
        const int slot = parameters ? parameters->Find(name) : TParameterValues::kNoSlot;
        if (slot != TParameterValues::kNoSlot) {
          // A run parameter is the user's own text, part of the condition as
          // the project is; a column of the record is a value.
          if (parameters->IsColumn(slot)) return ConditionLiteral(parameters->Value(slot));
          const std::string value(parameters->Value(slot));
          return TReferenceText{value, value};
        }
        if (const int pair = pairs ? FindPair(*pairs, name) : -1; pair >= 0) {
          return ConditionLiteral(CrLfToBlank((*pairs)[pair].second));
        }
        if (const std::optional<std::string> value = ResolveReference(name, statement, helper)) {
          return ConditionLiteral(*value);
        }
        return TReferenceText{};  // what matches nothing is removed
      });
}

}  // namespace

bool EvaluateTest(std::string_view text, const TTemplateStatement& statement,
                  const TParameterValues* parameters, const TLSQLConnHelper& helper,
                  const TNameValuePairs* pairs) {
  std::string exceededLimit;
  return EvaluateTest(text, statement, parameters, helper, pairs, exceededLimit);
}

bool EvaluateTest(std::string_view text, const TTemplateStatement& statement,
                  const TParameterValues* parameters, const TLSQLConnHelper& helper,
                  const TNameValuePairs* pairs, std::string& exceededLimit) {
  exceededLimit.clear();
  if (text.empty()) return true;
  return EvaluateCondition(SubstituteTest(text, statement, parameters, helper, pairs),
                           exceededLimit);
}

bool IsTemplateRoot(const TTemplateStatement& statement) {
  if (!statement.IsRoot()) return false;
  const size_t colon = statement.Tag.find(':');
  return std::string_view(statement.Tag).substr(colon == std::string::npos ? 0 : colon + 1) ==
         "lsql";
}

}  // namespace morvex
