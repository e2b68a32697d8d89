#include "templates/template_walk.h"

#include <libxml/tree.h>

#include <exception>
#include <string>

#include "db/parameter_entries.h"
#include "templates/condition.h"
#include "templates/parameter_names.h"
#include "text/error.h"
#include "xml/dom.h"
#include "xml/xml_nodes.h"

namespace morvex {

namespace {

constexpr int64_t kProgressInterval = 10000;

bool IsBlank(char c) { return static_cast<unsigned char>(c) <= ' '; }

// The statement of a template element: its first stretch of text that is
// not all white space, without leading white space. A stretch is a run of
// adjacent text and CDATA nodes, so a statement may be written in a CDATA
// section ("<q><![CDATA[... a < 5]]></q>") or partly in one. Empty when the
// element has none.
std::string StatementText(const xmlNode* element) {
  std::string text;
  for (const xmlNode* child = element->children;; child = child->next) {
    if (child && (child->type == XML_TEXT_NODE || child->type == XML_CDATA_SECTION_NODE)) {
      if (child->content) text += reinterpret_cast<const char*>(child->content);
      continue;
    }
    size_t start = 0;
    while (start < text.size() && IsBlank(text[start])) ++start;
    if (start < text.size()) return text.substr(start);
    if (!child) return {};
    text.clear();
  }
}

// True when a name of the form element$field refers to an element named `tag`.
bool RefersTo(std::string_view name, std::string_view tag) {
  const size_t dollar = name.find('$');
  return dollar != std::string_view::npos && SameTextIgnoringCase(name.substr(0, dollar), tag);
}

// True when the statement or the `test` condition of `element` names a field
// of an element called `tag`.
bool ElementRefersTo(const xmlNode* element, std::string_view tag, TLSQLConnHelper& helper) {
  if (const TLSQLDataset* dataset = helper.DatasetOf(element)) {
    for (int i = 0; i < dataset->ParamCount(); ++i) {
      if (RefersTo(dataset->ParamName(i), tag)) return true;
    }
  }
  for (const std::string& name : ExtractParameterNames(GetAttributeText(element, "test"))) {
    if (RefersTo(name, tag)) return true;
  }
  return false;
}

// A statement that has been read to its end can only be referred to by its
// later siblings (references search preceding siblings and ancestors, and
// nested statements run only while their parent is on a record). Those that
// name it get its last record; keeping it costs a copy of every record, so
// no other statement pays for it.
void MarkKeptRecords(const xmlNode* element, TLSQLConnHelper& helper) {
  for (const xmlNode* child = element->children; child; child = child->next) {
    if (child->type != XML_ELEMENT_NODE) continue;
    TLSQLDataset* dataset = helper.DatasetOf(child);
    if (!dataset) continue;
    const std::string tag = TagName(child);
    bool referred = false;
    for (const xmlNode* later = child->next; later && !referred; later = later->next) {
      referred = later->type == XML_ELEMENT_NODE && ElementRefersTo(later, tag, helper);
    }
    dataset->SetKeepLastRecord(referred);
    MarkKeptRecords(child, helper);
  }
}

void PrepareChildren(xmlNode* element, const xmlNode* declarations, TLSQLConnHelper& helper) {
  for (xmlNode* child = element->children; child; child = child->next) {
    if (child->type != XML_ELEMENT_NODE) continue;
    const std::string text = StatementText(child);
    if (text.empty()) continue;
    std::unique_ptr<TLSQLDataset> dataset = helper.CreateDataset(text);
    helper.PrepareParameterTypes(*dataset, declarations);
    int phase = 0;
    if (GetAttributeBool(child, "after-open", false)) {
      phase = -1;
      helper.HasAfterOpen = true;
    } else if (GetAttributeBool(child, "before-close", false)) {
      phase = -2;
      helper.HasBeforeClose = true;
    }
    dataset->Tag = phase;
    helper.AttachDataset(child, std::move(dataset));
    PrepareChildren(child, declarations, helper);
  }
}

std::string WrappedMessage(const std::string& tag, int64_t n, const char* message) {
  if (n == 0) return tag + ": " + message;
  return tag + ": Record #" + std::to_string(n) + ": " + message;
}

}  // namespace

void PrepareTemplate(_xmlNode* element, const _xmlNode* declarations, TLSQLConnHelper& helper) {
  if (!element) return;
  try {
    PrepareChildren(element, declarations, helper);
  } catch (const std::exception&) {
    // A statement that cannot be prepared ends the preparation; the
    // statements prepared so far still run.
  }
  MarkKeptRecords(element, helper);
}

int64_t ExecuteTemplate(_xmlNode* parent, const std::vector<std::string>* parameters,
                        const TNameValuePairs* pairs, bool report, const ProgressSink& sink,
                        TLSQLConnHelper& helper) {
  int64_t total = 0;
  if (!parent) return total;
  for (xmlNode* child = parent->children; child; child = child->next) {
    if (child->type != XML_ELEMENT_NODE) continue;
    TLSQLDataset* dataset = helper.DatasetOf(child);
    if (!dataset || dataset->Tag != helper.Phase) continue;
    const std::string tag = TagName(child);
    int64_t n = 0;
    try {
      if (!dataset->Active() &&
          EvaluateTest(GetAttributeText(child, "test"), child, parameters, helper, pairs)) {
        helper.BindParameters(*dataset, parameters, child, pairs);
        total += helper.ExecuteDataset(*dataset);
      }
      if (dataset->Active()) {
        while (!dataset->Eof()) {
          ++n;
          total += ExecuteTemplate(child, parameters, pairs, report, sink, helper);
          CloseTemplate(child, false, helper);
          if (sink && n % kProgressInterval == 0) {
            sink(tag + ": " + std::to_string(n) + " records processed ...");
          }
          dataset->Next();
        }
      }
      if (report && sink && IsTemplateRoot(parent)) {
        sink(tag + ": " + std::to_string(n) + " record(s) processed.");
      }
    } catch (const EMorvexError& error) {
      throw EMorvexError(WrappedMessage(tag, n, error.what()));
    }
  }
  return total;
}

void CloseTemplate(_xmlNode* element, bool free, TLSQLConnHelper& helper) noexcept {
  if (!element) return;
  for (xmlNode* child = element->children; child; child = child->next) {
    if (child->type != XML_ELEMENT_NODE) continue;
    CloseTemplate(child, free, helper);
    if (TLSQLDataset* dataset = helper.DatasetOf(child)) {
      dataset->Close();
      if (free) helper.FreeDataset(child);
    }
  }
}

bool EvaluateTest(std::string_view text, const _xmlNode* element,
                  const std::vector<std::string>* parameters, TLSQLConnHelper& helper,
                  const TNameValuePairs* pairs) {
  if (text.empty()) return true;
  std::string condition(text);
  const std::vector<std::string> names = ExtractParameterNames(text);

  // Longest first, so that a name is replaced before a shorter one that is
  // its prefix.
  std::vector<std::string> remaining;
  remaining.reserve(names.size());
  for (auto name = names.rbegin(); name != names.rend(); ++name) {
    const std::string* entry = parameters ? FindParameterEntry(*parameters, *name) : nullptr;
    if (entry) {
      ReplaceReference(condition, *name, ParameterEntryValue(*entry));
    } else {
      remaining.push_back(*name);
    }
  }

  if (!remaining.empty() && pairs) {
    std::vector<std::string> unpaired;
    for (const std::string& name : remaining) {
      const std::pair<std::string, std::string>* found = nullptr;
      for (const auto& pair : *pairs) {
        if (SameTextIgnoringCase(pair.first, name)) {
          found = &pair;
          break;
        }
      }
      if (!found) {
        unpaired.push_back(name);
        continue;
      }
      std::string value;
      value.reserve(found->second.size());
      const std::string& raw = found->second;
      for (size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n') {
          value.push_back(' ');
          ++i;
        } else {
          value.push_back(raw[i]);
        }
      }
      ReplaceReference(condition, name, value);
    }
    remaining = std::move(unpaired);
  }

  if (!remaining.empty()) helper.SubstituteReferences(condition, remaining, element);
  for (const std::string& name : remaining) ReplaceReference(condition, name, "");
  return EvaluateCondition(condition);
}

bool IsTemplateRoot(const _xmlNode* element) {
  return element && element->type == XML_ELEMENT_NODE && element->name &&
         std::string_view(reinterpret_cast<const char*>(element->name)) == "lsql";
}

}  // namespace morvex
