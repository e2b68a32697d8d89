#include "db/lsql_conn_helper.h"

#include <string_view>

#include "db/driver.h"
#include "db/parameter_entries.h"
#include "text/utf.h"
#include "xml/dom.h"
#include "xml/xml_nodes.h"

namespace morvex {

namespace {

constexpr const char* kHandleAttribute = "morvex-qptr";
constexpr std::string_view kRowsAffectedField = "rowsaffected";
// A queued execution's tag: the record number above these bits, the
// element's index in queuedElements_ in them.
constexpr int kElementBits = 16;
constexpr uint64_t kElementMask = (uint64_t{1} << kElementBits) - 1;

// Where a reference of `element` may point: the preceding siblings, nearest
// first, then the ancestors, nearest first. Calls `visit` with each element
// until it returns true; returns whether one did.
template <typename Visit>
bool VisitCandidates(const _xmlNode* element, Visit&& visit) {
  for (const _xmlNode* node = PreviousSiblingElement(element); node;
       node = PreviousSiblingElement(node)) {
    if (visit(node)) return true;
  }
  for (const _xmlNode* node = ParentElement(element); node; node = ParentElement(node)) {
    if (visit(node)) return true;
  }
  return false;
}

struct TReference {
  std::string_view Element;
  std::string_view Field;
};

TReference SplitReference(std::string_view name, size_t dollar) {
  return {name.substr(0, dollar), name.substr(dollar + 1)};
}

// The first element child of `declarations` whose qualified name is `name`.
const _xmlNode* FindDeclaration(const _xmlNode* declarations, std::string_view name) {
  return FirstChildElement(const_cast<_xmlNode*>(declarations), name);
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
    found.Pair = -1;
    if (!found.Dollar) continue;
    for (size_t p = 0; p < pairs.size(); ++p) {
      if (SameTextIgnoringCase(pairs[p].first, dataset.ParamName(i))) {
        found.Pair = static_cast<int>(p);
        break;
      }
    }
  }
  plan.PairNames.resize(pairs.size());
  for (size_t p = 0; p < pairs.size(); ++p) plan.PairNames[p].assign(pairs[p].first);
  plan.PairsFound = true;
}

// Whether any element that a reference of `element` may point to has the
// name of each parameter's element part. The template's elements stay as
// they are while it runs, so a name that none has is bound as Null at once.
void FindReferableElements(TLSQLDataset::TBindPlan& plan, const TLSQLDataset& dataset,
                           const _xmlNode* element) {
  for (int i = 0; i < dataset.ParamCount(); ++i) {
    TLSQLDataset::TBindPlan::TParam& found = plan.Params[i];
    if (!found.Dollar) continue;
    const std::string& name = dataset.ParamName(i);
    const TReference reference = SplitReference(name, name.find('$'));
    found.MayRefer = VisitCandidates(element, [&](const _xmlNode* candidate) {
      return SameTextIgnoringCase(TagName(candidate), reference.Element);
    });
  }
  plan.ReferencesFrom = element;
}

}  // namespace

TLSQLConnHelper::~TLSQLConnHelper() { FreeAllDatasets(); }

std::unique_ptr<TLSQLDataset> TLSQLConnHelper::CreateDataset(std::string_view statementText) {
  return std::make_unique<TLSQLDataset>(*Connection, statementText);
}

void TLSQLConnHelper::PrepareParameterTypes(TLSQLDataset& dataset, const _xmlNode* declarations) {
  if (!declarations) return;
  for (int i = 0; i < dataset.ParamCount(); ++i) {
    TDbParameter& parameter = dataset.Param(i);
    if (parameter.DataType != ftUnknown) continue;
    std::string name = dataset.ParamName(i);
    for (char& c : name) {
      if (c == '$') c = '-';
    }
    const _xmlNode* declaration = FindDeclaration(declarations, name);
    if (!declaration) declaration = FindDeclaration(declarations, AsciiUpper(name));
    if (declaration) parameter.DataType = FieldTypeOfClass(GetAttributeText(declaration, "kind"));
  }
}

void TLSQLConnHelper::BindParameters(TLSQLDataset& dataset, const TParameterValues* parameters,
                                     const _xmlNode* element, const TNameValuePairs* pairs) {
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

    if (plan.ReferencesFrom != element) FindReferableElements(plan, dataset, element);
    if (!found.MayRefer) {
      parameter.Value = TDbNull{};
      continue;
    }
    const std::string& name = dataset.ParamName(i);
    const TReference reference = SplitReference(name, name.find('$'));
    const bool resolved = VisitCandidates(element, [&](const _xmlNode* candidate) {
      if (!SameTextIgnoringCase(TagName(candidate), reference.Element)) return false;
      const TLSQLDataset* source = DatasetOf(candidate);
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

void TLSQLConnHelper::SubstituteReferences(std::string& text, const std::vector<std::string>& names,
                                           const _xmlNode* element, TReplaceReference replace) {
  for (const std::string& name : names) {
    const size_t dollar = name.find('$');
    if (dollar == std::string::npos) continue;
    const TReference reference = SplitReference(name, dollar);
    const TLSQLDataset* source = nullptr;
    VisitCandidates(element, [&](const _xmlNode* candidate) {
      if (!SameTextIgnoringCase(TagName(candidate), reference.Element)) return false;
      source = DatasetOf(candidate);
      return source != nullptr;
    });
    if (!source) continue;
    const int field = source->Active() ? source->FindField(reference.Field) : -1;
    if (field >= 0) {
      const std::string value = source->IsNull(field) ? std::string() : source->AsText(field);
      replace(text, name, TrimTrailingBlanks(value));
    } else if (SameTextIgnoringCase(reference.Field, kRowsAffectedField)) {
      replace(text, name, std::to_string(source->RowsAffected));
    }
  }
}

int32_t TLSQLConnHelper::ExecuteDataset(TLSQLDataset& dataset) {
  dataset.Execute();
  return dataset.RowsAffected < 0 ? 0 : dataset.RowsAffected;
}

bool TLSQLConnHelper::QueueDataset(TLSQLDataset& dataset, const _xmlNode* element) {
  if (QueueRecord <= 0 || !dataset.Queueable) return false;
  size_t index = 0;
  while (index < queuedElements_.size() && queuedElements_[index] != element) ++index;
  if (index > kElementMask) return false;
  if (index == queuedElements_.size()) queuedElements_.push_back(element);
  return dataset.TryQueue(static_cast<uint64_t>(QueueRecord) << kElementBits | index);
}

int64_t TLSQLConnHelper::FlushQueue() { return Connection ? Connection->Flush() : 0; }

int64_t TLSQLConnHelper::QueuedRecord(uint64_t tag) {
  return static_cast<int64_t>(tag >> kElementBits);
}

const _xmlNode* TLSQLConnHelper::QueuedElement(uint64_t tag) const {
  const size_t index = tag & kElementMask;
  return index < queuedElements_.size() ? queuedElements_[index] : nullptr;
}

TLSQLDataset& TLSQLConnHelper::AttachDataset(_xmlNode* element,
                                             std::unique_ptr<TLSQLDataset> dataset) {
  const int handle = nextHandle_++;
  std::unique_ptr<TLSQLDataset>& slot = datasets_[element];
  slot = std::move(dataset);
  SetPlainAttribute(element, kHandleAttribute, std::to_string(handle));
  return *slot;
}

TLSQLDataset* TLSQLConnHelper::DatasetOf(const _xmlNode* element) const {
  const auto found = datasets_.find(element);
  return found == datasets_.end() ? nullptr : found->second.get();
}

void TLSQLConnHelper::FreeDataset(const _xmlNode* element) { datasets_.erase(element); }

void TLSQLConnHelper::FreeAllDatasets() { datasets_.clear(); }

}  // namespace morvex
