// Texts made fit for XML element names and for one-line CSV cells.
#pragma once

#include <string>
#include <string_view>

namespace morvex {

// Every character other than "-", "_", ASCII letters and digits becomes "_",
// then leading "-", digits and "_" are removed: "1st Name" gives "st_Name".
// The result may be empty.
std::string MakeXmlName(std::string_view text);

// Collapses multi-line text (a text without LF is returned unchanged):
// trailing spaces and TABs and then one final LF are removed; the indentation
// after the first LF is taken off every line (TABs counting as one space);
// leading LFs are removed; every LF left becomes a space, or CR LF with
// `lineBreaks`.
std::string FlattenText(std::string_view text, bool lineBreaks);

}  // namespace morvex
