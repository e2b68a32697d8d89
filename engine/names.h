// Names that users write in projects and on the command line (stream names,
// parameter names) are compared without regard to letter case in every
// script, not only in ASCII. These helpers decide letter case and letter-ness
// per Unicode character using the C.UTF-8 character classes. Without that
// locale only ASCII letters change case and every non-ASCII character counts
// as a letter.
#pragma once

#include <string>
#include <string_view>

// IsParameterName, for the callers that check names users write.
#include "text/parameter_name.h"

namespace morvex {

// `name` lower-cased character by character (invalid UTF-8 becomes U+FFFD).
std::string NameKey(std::string_view name);

// True when `a` and `b` are the same name ignoring letter case.
bool SameName(std::string_view a, std::string_view b);

}  // namespace morvex
