#include "templates/statement_binding.h"

#include <string_view>

#include "db/driver.h"
#include "text/case_fold.h"
#include "text/utf.h"

namespace morvex {

namespace {

constexpr std::string_view kRowsAffectedField = "rowsaffected";

struct TReference {
  std::string_view Element;
  std::string_view Field;
};

TReference SplitReference(std::string_view name, size_t dollar) {
  return {name.substr(0, dollar), name.substr(dollar + 1)};
}

void SetTypeIfUnknown(TDbParameter& parameter, TFieldType type) {
  if (parameter.DataType == ftUnknown) parameter.DataType = type;
}

// Sets a text value, reusing the text the parameter held for the last record.
void SetText(TDbValue& value, std::string_view text) {
  if (auto* held = std::get_if<std::string>(&value)) {
    held->assign(text);
  } else {
    value = std::string(text);
  }
}

bool SamePairNames(const std::vector<std::string>& names, const TNameValuePairs& pairs) {
  if (names.size() != pairs.size()) return false;
  for (size_t i = 0; i < names.size(); ++i) {
    if (names[i] != pairs[i].first) return false;
  }
  return true;
}

// The first pair of each parameter's whole name. Records of an import mostly
// have the same names in the same order; as long as they do, these stay.
void FindPairs(TLSQLDataset::TBindPlan& plan, const TLSQLDataset& dataset,
               const TNameValuePairs& pairs) {
  for (int i = 0; i < dataset.ParamCount(); ++i) {
    TLSQLDataset::TBindPlan::TParam& found = plan.Params[i];
    found.Pair = found.Dollar ? FindPair(pairs, dataset.ParamName(i)) : -1;
  }
  plan.PairNames.resize(pairs.size());
  for (size_t p = 0; p < pairs.size(); ++p) plan.PairNames[p].assign(pairs[p].first);
  plan.PairsFound = true;
}

// Whether any statement that a reference of `statement` may point to has the
// name of each parameter's element part. The template stays as it is while
// it runs, so a name that none has is bound as Null at once.
void FindReferableElements(TLSQLDataset::TBindPlan& plan, const TLSQLDataset& dataset,
                           const TTemplateStatement& statement) {
  for (int i = 0; i < dataset.ParamCount(); ++i) {
    TLSQLDataset::TBindPlan::TParam& found = plan.Params[i];
    if (!found.Dollar) continue;
    const std::string& name = dataset.ParamName(i);
    const TReference reference = SplitReference(name, name.find('$'));
    found.MayRefer = VisitReferenceCandidates(statement, [&](const TTemplateStatement& candidate) {
      return SameTextIgnoringCase(candidate.Tag, reference.Element);
    });
  }
  plan.ReferencesFrom = &statement;
}

}  // namespace

void PrepareParameterTypes(TLSQLDataset& dataset, TXmlElement declarations) {
  if (!declarations) return;
  for (int i = 0; i < dataset.ParamCount(); ++i) {
    TDbParameter& parameter = dataset.Param(i);
    if (parameter.DataType != ftUnknown) continue;
    std::string name = dataset.ParamName(i);
    for (char& c : name) {
      if (c == '$') c = '-';
    }
    TXmlElement declaration = declarations.Child(name);
    if (!declaration) declaration = declarations.Child(AsciiUpper(name));
    if (declaration) parameter.DataType = FieldTypeOfClass(declaration.Attribute("kind"));
  }
}

void BindParameters(TLSQLDataset& dataset, const TParameterValues* parameters,
                    const TTemplateStatement& statement, const TNameValuePairs* pairs,
                    const TLSQLConnHelper& helper) {
  TLSQLDataset::TBindPlan& plan = dataset.BindPlan;
  const int count = dataset.ParamCount();
  if (plan.Params.size() != static_cast<size_t>(count)) {
    plan = {};
    plan.Params.resize(count);
    for (int i = 0; i < count; ++i) {
      plan.Params[i].Dollar = dataset.ParamName(i).find('$') != std::string::npos;
    }
  }
  const uint64_t listId = parameters ? parameters->Id() : 0;
  if (!plan.SlotsFound || plan.ListId != listId) {
    for (int i = 0; i < count; ++i) {
      plan.Params[i].Slot =
          parameters ? parameters->Find(dataset.ParamName(i)) : TParameterValues::kNoSlot;
    }
    plan.SlotsFound = true;
    plan.ListId = listId;
  }
  if (pairs && !(plan.PairsFound && SamePairNames(plan.PairNames, *pairs))) {
    FindPairs(plan, dataset, *pairs);
  }

  for (int i = 0; i < count; ++i) {
    TDbParameter& parameter = dataset.Param(i);
    TLSQLDataset::TBindPlan::TParam& found = plan.Params[i];

    if (found.Slot != TParameterValues::kNoSlot) {
      const std::string_view value = parameters->Value(found.Slot);
      if (!value.empty()) {
        SetTypeIfUnknown(parameter, ftString);
        SetText(parameter.Value, value);
        continue;
      }
    }

    if (!found.Dollar) {
      parameter.Value = TDbNull{};
      continue;
    }

    if (pairs && found.Pair >= 0) {
      SetTypeIfUnknown(parameter, ftString);
      SetText(parameter.Value, (*pairs)[found.Pair].second);
      continue;
    }

    if (plan.ReferencesFrom != &statement) FindReferableElements(plan, dataset, statement);
    if (!found.MayRefer) {
      parameter.Value = TDbNull{};
      continue;
    }
    const std::string& name = dataset.ParamName(i);
    const TReference reference = SplitReference(name, name.find('$'));
    const bool resolved =
        VisitReferenceCandidates(statement, [&](const TTemplateStatement& candidate) {
          if (!SameTextIgnoringCase(candidate.Tag, reference.Element)) return false;
          const TLSQLDataset* source = helper.DatasetOf(candidate.Index);
          if (!source) return false;
          if (source->Active()) {
            const int field = source->FindField(reference.Field);
            if (field >= 0) {
              SetTypeIfUnknown(parameter, source->FieldType(field));
              parameter.Value = source->AsValue(field);
              return true;
            }
          }
          if (SameTextIgnoringCase(reference.Field, kRowsAffectedField)) {
            SetTypeIfUnknown(parameter, ftInteger);
            parameter.Value = static_cast<int64_t>(source->RowsAffected);
            return true;
          }
          return false;
        });
    if (!resolved) parameter.Value = TDbNull{};
  }
}

std::optional<std::string> ResolveReference(std::string_view name,
                                            const TTemplateStatement& statement,
                                            const TLSQLConnHelper& helper) {
  const size_t dollar = name.find('$');
  if (dollar == std::string_view::npos) return std::nullopt;
  const TReference reference = SplitReference(name, dollar);
  const TLSQLDataset* source = nullptr;
  VisitReferenceCandidates(statement, [&](const TTemplateStatement& candidate) {
    if (!SameTextIgnoringCase(candidate.Tag, reference.Element)) return false;
    source = helper.DatasetOf(candidate.Index);
    return source != nullptr;
  });
  if (!source) return std::nullopt;
  const int field = source->Active() ? source->FindField(reference.Field) : -1;
  if (field >= 0) {
    if (source->IsNull(field)) return std::string();
    return std::string(TrimTrailingBlanks(source->AsText(field)));
  }
  if (SameTextIgnoringCase(reference.Field, kRowsAffectedField)) {
    return std::to_string(source->RowsAffected);
  }
  return std::nullopt;
}

}  // namespace morvex
