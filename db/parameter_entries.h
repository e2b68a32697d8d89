// Parameter names and references. The run's parameter list holds ordered
// "name=value" texts whose name is everything before the first "=", compared
// without regard to letter case (in every script, not only ASCII), the first
// entry of a name winning. Element tag names in templates are compared the
// same way.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "text/case_fold.h"

namespace morvex {

// The entry named `name` ignoring case, or nullptr when there is none.
const std::string* FindParameterEntry(const std::vector<std::string>& entries,
                                      std::string_view name);

// The text after the first "=" of an entry (empty when it has none).
std::string_view ParameterEntryValue(std::string_view entry);

// Replaces every occurrence of ":" + `name` in `text` (ASCII letters compared
// without case) by `value`, in one sweep: inserted values are not searched
// again.
void ReplaceReference(std::string& text, std::string_view name, std::string_view value);

}  // namespace morvex
