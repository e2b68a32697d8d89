// JSON records written as CSV lines.
#pragma once

#include <string>

#include "convert/conversion_io.h"

namespace morvex {

// The records are the items (or, for an object, the member values in key
// order) of the value the RecordTag path selects, or without a path of the
// single member's value of a one-member object, else of the document.
// The columns are found in a first pass over the records: every member name
// that an object record has with a value that is not null, in key order,
// then every position that an array record fills with a value that is not
// null. Each line has one cell per column, empty where the record has none
// (a record with no such value writes no line). Strings, numbers and
// booleans give their text, objects and arrays an empty cell with FlatText,
// otherwise their compact JSON. Cells are enclosed in the Quote text (quotes
// inside doubled) and joined by the Delimiter text; lines end in CR LF, in
// the options' Encoding with its byte-order mark first. With HeaderRow the
// column names come first (a position is named by its place in the line,
// with "col_" before it when its first value is an object or array). Raises
// EMorvexError on failure; input that does not parse gives "Cannot
// convert XML document to JSON!", and a root object of several members none
// of which gives a cell, without a RecordTag, "record-tag is needed: the
// root holds N members".
void JsonToCsv(const TXSourceInfo& source, const TXSourceInfo& destination,
               const TXTransformInfo& options, const ProgressSink& progress);

}  // namespace morvex
