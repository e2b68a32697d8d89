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

// Writes the packed value of `input` as JSON onto `output` while reading it
// (its Encoding, whose byte-order mark comes first, and Indent), the same
// bytes as writing the whole value, holding only what later input can still
// change: each member of an element is written once the next one begins, a
// repeated member as an array item as soon as it is complete, and an element
// holding records is written member by member rather than built. It works
// when the input can be read again and what was written taken back; it
// returns false, the output as it was, when either cannot be done, when the
// input turns out to need the whole value (text beside elements, members
// out of key order, an element repeated after it was written on its own, an
// array of text pieces among repeated elements), or when it does not
// convert at all. True: the output is complete and closed.
bool WriteJsonInOnePass(TStream& input, TConvertOutput& output, const TXTransformInfo& options);

// The packed value of the XML source written as JSON (options: Encoding,
// whose byte-order mark comes first, and Indent). Raises EMorvexError on
// failure; input that does not parse gives "Cannot convert XML document to
// JSON!". Written in one pass when it can be, else from the whole value.
void XmlToJson(const TXSourceInfo& source, const TXSourceInfo& destination,
               const TXTransformInfo& options, const ProgressSink& progress = {});

}  // namespace morvex
