// XML into the packed JSON form, read by a reader of its own (not the XML
// service): elements become members, repeated elements arrays, attributes
// "@" members and text among elements "#text".
#pragma once

#include <memory>
#include <string>

#include "convert/conversion_io.h"
#include "convert/json_value.h"

namespace morvex {

class TStream;

// Reads the XML text of `stream` from its start into a packed value (the
// document's root). The text is decoded by its byte-order mark (UTF-16LE,
// UTF-16BE, UTF-8); without one, by the encoding its declaration names when
// the built-in table knows it, else as UTF-8. A declaration that contradicts
// the mark, malformed markup, an unknown entity or a repeated attribute give
// nullptr, with the reason and position in `error`.
std::unique_ptr<TJsonDocument> XmlToJsonTree(TStream& stream, std::string* error = nullptr);

// The packed value of the XML source written as JSON (options: Encoding,
// whose byte-order mark comes first, and Indent). False with the message on
// failure; input that does not parse gives "Cannot convert XML document to
// JSON!".
bool XmlToJson(const TConvertEndpoint& source, const TConvertEndpoint& destination,
               const TConvertOptions& options, std::string& message);

}  // namespace morvex
