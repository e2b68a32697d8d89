#include "engine/names.h"

#include "text/case_fold.h"

namespace morvex {

std::string NameKey(std::string_view name) { return FoldCase(name); }

bool SameName(std::string_view a, std::string_view b) { return SameTextIgnoringCase(a, b); }

}  // namespace morvex
