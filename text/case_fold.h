// Letter case and letter-ness of names users write (stream names, parameter
// names, element names in templates), decided per Unicode character with the
// C.UTF-8 character classes, so that "Čísla" and "čísla" are one name.
// Without that locale only ASCII letters change case and every non-ASCII
// character counts as a letter.
#pragma once

#include <string>
#include <string_view>

namespace morvex {

// `text` lower-cased character by character (invalid UTF-8 becomes U+FFFD).
std::string FoldCase(std::string_view text);

// True when `a` and `b` are equal ignoring letter case.
bool SameTextIgnoringCase(std::string_view a, std::string_view b);

// A letter of any script or a decimal digit.
bool IsLetterOrDigit(char32_t cp);

}  // namespace morvex
