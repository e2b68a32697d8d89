// JSON records written as CSV lines.
#pragma once

#include <string>

#include "convert/conversion_io.h"

namespace morvex {

// The records are the items (or, for an object, the member values in key
// order) of the value the RecordTag path selects, or without a path of the
// single member's value of a one-member object, else of the document.
// A record object gives one cell per non-null member, a record array one per
// non-null item; strings, numbers and booleans give their text, objects and
// arrays an empty cell with FlatText, otherwise their compact JSON. Cells are
// enclosed in the Quote text (quotes inside doubled) and joined by the
// Delimiter text; lines end in CR LF, in the options' Encoding with its
// byte-order mark first. With HeaderRow the first record's keys (for an
// array record: its positions, "col_N" for object and array items) come
// first. False with the message on failure; input that does not parse gives
// "Cannot convert XML document to JSON!".
bool JsonToCsv(const TConvertEndpoint& source, const TConvertEndpoint& destination,
               const TConvertOptions& options, const ProgressSink& progress, std::string& message);

}  // namespace morvex
