// JSON path selection and the jpath transformation.
#pragma once

#include <string>
#include <string_view>

#include "convert/conversion_io.h"
#include "convert/json_value.h"

namespace morvex {

// A path is a sequence of steps: a member name, "." and a member name, or a
// 0-based array position in square brackets right after the step it applies
// to ("orders[0].items"). Each step descends from the value the previous one
// reached; a step that finds nothing gives nullptr. An empty path selects the
// value itself. Raises EMorvexError ("The path X uses syntax JSON path does
// not support: [*]") for brackets holding anything but a position, and for
// the steps "$", "*" and ".." of other dialects when no member of that name
// exists.
const TSuperObject* SelectJsonPath(const TJsonDocument& document, const TSuperObject& value,
                                   std::string_view path);

// Parses the JSON source and writes, in the options' Encoding (its
// byte-order mark first) and with Indent, the value that the path in
// Content selects, or the whole document when Content is empty. Content may
// list several paths, one a line: the output is then an array of their
// selections in order. Raises EMorvexError on any failure: an input that
// does not parse, a path that selects nothing, files.
void JPathTransform(const TXSourceInfo& source, const TXSourceInfo& destination,
                    const TXTransformInfo& options, const ProgressSink& progress = {});

}  // namespace morvex
