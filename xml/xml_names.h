// XML names as the writers check them. Names that come from data (column
// names, template element names, record tags, parameter names) become element
// names of generated documents; one XML cannot hold would make the whole
// output unreadable.
#pragma once

#include <string_view>

namespace morvex {

// True for a name XML 1.0 allows as an element or attribute name (a prefix
// and a colon included).
bool IsXmlName(std::string_view name);

// True for an XML name without a colon. Generated documents declare no
// namespaces, so a prefixed name there would name an undeclared namespace.
bool IsXmlNcName(std::string_view name);

// Throws EMorvexError "\"<name>\" is not a valid XML name" unless IsXmlName.
void RequireXmlName(std::string_view name);

// The same for IsXmlNcName: names taken from data are checked with it.
void RequireXmlNcName(std::string_view name);

}  // namespace morvex
