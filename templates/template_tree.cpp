#include "templates/template_tree.h"

namespace morvex {

TTemplateTree::TTemplateTree(TXmlElement root) {
  root_.Index = kRootIndex;
  if (!root) return;
  root_.Tag = root.Name();
  root_.Line = root.Line();
  AddChildren(root_, root);
}

void TTemplateTree::AddChildren(TTemplateStatement& parent, TXmlElement element) {
  for (TXmlElement child = element.FirstChild(); child; child = child.NextSibling()) {
    std::string sql = child.FirstTextRun();
    if (sql.empty()) continue;  // neither it nor anything below it runs
    auto statement = std::make_unique<TTemplateStatement>();
    statement->Tag = child.Name();
    statement->Sql = std::move(sql);
    statement->Test = child.Attribute("test");
    if (child.BoolAttribute("after-open", false)) {
      statement->Phase = TPhase::AfterOpen;
    } else if (child.BoolAttribute("before-close", false)) {
      statement->Phase = TPhase::BeforeClose;
    }
    statement->NoWrite = child.BoolAttribute("no-write", false);
    statement->RecordTag = child.Attribute("record-tag");
    statement->Line = child.Line();
    statement->Index = statements_.size();
    statement->Position = parent.Children.size();
    statement->Parent = &parent;
    statements_.push_back(statement.get());
    TTemplateStatement& added = *parent.Children.emplace_back(std::move(statement));
    AddChildren(added, child);
  }
}

}  // namespace morvex
