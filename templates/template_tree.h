// The query template as the program reads it: a tree of statements built
// once from the template's XML, which the preparation, the walks, the
// writers, the importers and the project check all read.
//
// A template is an XML element tree under a root (named `lsql` in every
// project). A child element with text that is not all white space is a
// statement element; its statement is its first such stretch of text
// (adjacent text and CDATA nodes together) without leading white space.
// Statement elements nest: a nested statement runs once per record of its
// parent. Elements without statement text, and everything below them, are
// not statements and have no place in the tree.
//
// References ":element$field" in a statement or its `test` name a field of
// the current record of another statement: the preceding siblings of the
// statement, nearest first, then its enclosing statements, nearest first
// (ReferenceCandidates).
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "db/lsql_dataset.h"
#include "xml/element_view.h"

namespace morvex {

struct TTemplateStatement {
  std::string Tag;   // the element's name as written, with its prefix
  std::string Sql;   // the statement text; empty for the root
  std::string Test;  // the `test` attribute; empty: always runs
  TPhase Phase = TPhase::Main;
  bool NoWrite = false;   // no-write="true": the writers leave it out
  std::string RecordTag;  // the record-tag attribute; empty: the writer's default
  long Line = 0;          // where the element starts; 0 when unknown
  // The statement's number, in document order from 0 (depth first); the
  // root has none (kRootIndex).
  size_t Index = 0;
  size_t Position = 0;                         // among its parent's Children
  const TTemplateStatement* Parent = nullptr;  // null for the root
  std::vector<std::unique_ptr<TTemplateStatement>> Children;

  bool IsRoot() const { return Parent == nullptr; }
};

inline constexpr size_t kRootIndex = static_cast<size_t>(-1);

class TTemplateTree {
 public:
  // The tree of the template whose root element is `root` (no element: an
  // empty tree). Phases: after-open="true" gives AfterOpen, otherwise
  // before-close="true" gives BeforeClose.
  explicit TTemplateTree(TXmlElement root);

  TTemplateTree(const TTemplateTree&) = delete;
  TTemplateTree& operator=(const TTemplateTree&) = delete;

  // The root: its Tag is the root element's name, its Children the top-level
  // statements.
  const TTemplateStatement& Root() const { return root_; }
  // Every statement, in document order (depth first): Statement(s.Index) is s.
  size_t StatementCount() const { return statements_.size(); }
  const TTemplateStatement& Statement(size_t index) const { return *statements_.at(index); }

 private:
  void AddChildren(TTemplateStatement& parent, TXmlElement element);

  TTemplateStatement root_;
  std::vector<const TTemplateStatement*> statements_;
};

// Calls `visit` with each statement a reference of `statement` may point to,
// in the order a reference searches them: its preceding siblings, nearest
// first, then its enclosing statements, nearest first (the root is none of
// them). Stops when `visit` returns true; returns whether one did.
template <typename Visit>
bool VisitReferenceCandidates(const TTemplateStatement& statement, Visit&& visit) {
  const TTemplateStatement* parent = statement.Parent;
  if (!parent) return false;
  const auto& siblings = parent->Children;
  for (size_t position = statement.Position; position-- > 0;) {
    if (visit(*siblings[position])) return true;
  }
  for (; parent && !parent->IsRoot(); parent = parent->Parent) {
    if (visit(*parent)) return true;
  }
  return false;
}

}  // namespace morvex
