// XML into the packed JSON form, read through the SAX reader every XML input
// goes through: elements become members, repeated elements arrays,
// attributes "@" members and text among elements "#text".
#pragma once

#include <memory>
#include <string>

#include "convert/conversion_io.h"
#include "convert/json_value.h"

namespace morvex {

class TStream;

// Reads the XML text of `stream` from its start into a packed value (the
// document's root). The input is decoded as every XML reader decodes it (its
// byte-order mark, else the encoding its declaration names). Malformed
// markup, a DTD, an unknown entity, a repeated attribute, nesting deeper than
// kMaxNestingDepth, or a packed value that would nest deeper than that give
// nullptr, with "line L, column C: <reason>" (or the reason alone) in
// `error`. Errors of the stream itself (EMorvexError) propagate.
std::unique_ptr<TJsonDocument> XmlToJsonTree(TStream& stream, std::string* error = nullptr);

// The packed value of the XML source written as JSON (options: Encoding,
// whose byte-order mark comes first, and Indent). Raises EMorvexError on
// failure; input that does not parse gives "Cannot convert XML document to
// JSON!".
void XmlToJson(const TXSourceInfo& source, const TXSourceInfo& destination,
               const TXTransformInfo& options);

}  // namespace morvex
