#include "templates/dataset_writer_walk.h"

#include <libxml/tree.h>

#include "db/lsql_conn_helper.h"
#include "templates/template_walk.h"
#include "xml/dom.h"

namespace morvex::detail {

_xmlNode* NextChildElement(const _xmlNode* parent, const _xmlNode* after) {
  xmlNode* node = after != nullptr ? after->next : parent->children;
  while (node != nullptr && node->type != XML_ELEMENT_NODE) node = node->next;
  return node;
}

std::string TagName(const _xmlNode* element) {
  std::string name;
  if (element->ns != nullptr && element->ns->prefix != nullptr) {
    name = reinterpret_cast<const char*>(element->ns->prefix);
    name += ':';
  }
  name += reinterpret_cast<const char*>(element->name);
  return name;
}

TLSQLDataset* PhaseDataset(const _xmlNode* element, TLSQLConnHelper& helper) {
  TLSQLDataset* dataset = helper.DatasetOf(element);
  return dataset != nullptr && dataset->Tag == helper.Phase ? dataset : nullptr;
}

bool OpenStatement(_xmlNode* element, TLSQLDataset& dataset,
                   const std::vector<std::string>& parameters, TLSQLConnHelper& helper) {
  if (!dataset.Active() &&
      EvaluateTest(GetAttributeText(element, "test"), element, &parameters, helper, nullptr)) {
    helper.BindParameters(dataset, &parameters, element, nullptr);
    helper.ExecuteDataset(dataset);
  }
  return dataset.Active();
}

std::vector<int> FieldClasses(const TLSQLDataset& dataset) {
  std::vector<int> classes(static_cast<size_t>(dataset.FieldCount()));
  for (size_t i = 0; i < classes.size(); ++i) {
    classes[i] = FieldTypeClass(dataset.FieldType(static_cast<int>(i)));
  }
  return classes;
}

void ReportProgress(const ProgressSink& sink, const std::string& tag, int64_t n) {
  if (sink && n % 10000 == 0) sink(tag + ": " + std::to_string(n) + " records processed ...");
}

void ReportTotal(const ProgressSink& sink, const _xmlNode* parent, const std::string& tag,
                 int64_t n) {
  if (sink && IsTemplateRoot(parent)) {
    sink(tag + ": " + std::to_string(n) + " record(s) processed.");
  }
}

std::string WrappedMessage(const std::string& tag, int64_t n, std::string_view field,
                           std::string_view message) {
  std::string text = tag + ": ";
  if (n > 0) {
    text += "Record #" + std::to_string(n);
    if (!field.empty()) {
      text += ", Field \"";
      text += field;
      text += '"';
    }
    text += ": ";
  }
  text += message;
  return text;
}

}  // namespace morvex::detail
