// What a template statement's ":name" parameters are bound to, and where an
// ":element$field" reference points (the statements TTemplateStatement's
// VisitReferenceCandidates names, each through the dataset the session
// attached to it). Binding a parameter looks past a candidate that cannot
// supply the value; text substitution stops at the first statement with the
// right name and a dataset. The pseudo-field "rowsaffected" gives the
// candidate's RowsAffected in both, also when its dataset is not active (a
// statement that only changes data leaves it inactive).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "db/lsql_conn_helper.h"
#include "db/parameter_entries.h"
#include "templates/template_tree.h"
#include "xml/element_view.h"

namespace morvex {

// Gives parameters still of type ftUnknown the type declared for them in
// `declarations` (the project's parameters element; nothing happens without
// one): the name with "$" turned into "-" names a child element (tried as
// written, then upper-cased), whose `kind` attribute is the value type name
// (FieldTypeOfClass).
void PrepareParameterTypes(TLSQLDataset& dataset, TXmlElement declarations);

// Sets every parameter of `dataset`, the dataset of `statement`, before an
// execution, in order:
// 1. a project parameter of that name (ignoring case) with a non-empty
//    value: that text (type ftString unless typed already);
// 2. a name with "$": the first pair of that whole name (ignoring case),
//    then the reference element$field resolved from `statement`'s place
//    (the field's current value and type, or RowsAffected as ftInteger);
// 3. anything else, an empty project parameter among them: Null.
// `parameters` and `pairs` may be null. The names are looked up once per
// parameter list, pair names and statement (see TLSQLDataset::BindPlan).
void BindParameters(TLSQLDataset& dataset, const TParameterValues* parameters,
                    const TTemplateStatement& statement, const TNameValuePairs* pairs,
                    const TLSQLConnHelper& helper);

// The text of the reference `name` ("element$field", letter case ignored)
// from `statement`'s place: the field's text with trailing blanks removed
// (empty for Null), or RowsAffected for "rowsaffected"; nothing for a name
// without "$", or when the first statement of that name with a dataset has
// no such field.
std::optional<std::string> ResolveReference(std::string_view name,
                                            const TTemplateStatement& statement,
                                            const TLSQLConnHelper& helper);

}  // namespace morvex
