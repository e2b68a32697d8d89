// The walks over a prepared query template: preparation, the execute-only
// walk, the close walk and `test` conditions. The sessions, the dataset
// writers and the importers share them.
//
// A template is an XML element tree under a root `lsql`. A child element
// with text that is not all white space is a statement element; its
// statement is its first such stretch of text (adjacent text and CDATA
// nodes together) without leading white space. Statement elements nest: a
// nested statement runs once per record of its parent. Elements without
// statement text, and everything below them, are not statements. Each walk
// considers only statements whose phase (the dataset's Tag) equals the
// helper's Phase, at every depth.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "db/lsql_conn_helper.h"
#include "templates/dataset_writer_options.h"

struct _xmlNode;

namespace morvex {

// Creates the dataset of every statement element below `element` (depth
// first, document order), types its parameters from `declarations`, tags it
// with its phase (-1 after-open, -2 before-close, 0 otherwise; sets the
// helper's HasAfterOpen/HasBeforeClose) and attaches it to the element. The
// first error ends the preparation silently: later statement elements stay
// without a handle and never run.
void PrepareTemplate(_xmlNode* element, const _xmlNode* declarations, TLSQLConnHelper& helper);

// Runs the statements of the helper's Phase among the children of `parent`
// and, once per record, their nested statements: a dataset that is not
// active runs when its `test` holds (bound, executed), and is read to its
// end. With `report` and a sink, each element directly under a template
// root gives "<tag>: <n> record(s) processed."; every 10000th record of an
// element gives "<tag>: <n> records processed ...". Errors come out as
// "<tag>: <message>", or "<tag>: Record #<n>: <message>" once a record has
// started. Returns the rows affected by all statements run, at all depths.
int64_t ExecuteTemplate(_xmlNode* parent, const std::vector<std::string>* parameters,
                        const TNameValuePairs* pairs, bool report, const ProgressSink& sink,
                        TLSQLConnHelper& helper);

// Closes the datasets of all statement elements below `element`, descendants
// first, and with `free` frees them. Never throws.
void CloseTemplate(_xmlNode* element, bool free, TLSQLConnHelper& helper) noexcept;

// True when the `test` condition `text` of `element` holds: an empty text is
// true. References ":name" are replaced as text, longest name first: project
// parameters, then `pairs` (CR LF in a value becomes a blank), then element
// references (SubstituteReferences); what is left is removed. The result
// goes to EvaluateCondition; a condition that does not evaluate is false.
bool EvaluateTest(std::string_view text, const _xmlNode* element,
                  const std::vector<std::string>* parameters, TLSQLConnHelper& helper,
                  const TNameValuePairs* pairs);

// True when the element's local name is exactly "lsql".
bool IsTemplateRoot(const _xmlNode* element);

}  // namespace morvex
