// JSON written as XML text: members become elements, "@" members
// attributes, arrays repeated elements; a top-level array becomes the
// dataset layout (a morvex_data root with one r element per item).
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "convert/conversion_io.h"
#include "convert/json_value.h"

namespace morvex {

// Receives the XML text piece by piece.
using TXmlTextSink = std::function<void(std::string_view)>;

// Writes `value` as XML. `level` below 0 writes no line breaks; from 0 on,
// every tag starts a line (CR LF and `level` TABs) and text stands on a line
// of its own one level deeper. An object with a name is an element (its "@"
// members its attributes, the others its child elements one level deeper);
// without a name its non-"@" members are written at the same level. Items of
// an array are written with the array's name. A null writes nothing. Text
// and attribute values escape ", &, < and >; characters XML cannot hold
// become U+FFFD. `rootAttributes` (name="value" text) goes onto the element
// written for `name`, or onto each member's element when there is no name.
// `openElements` counts the elements already open around the output.
// Raises EMorvexError for a member name that cannot be an element name, and
// for an element that would nest deeper than any XML reader accepts
// (kMaxNestingDepth).
void WriteJsonAsXml(const TJsonDocument& document, const TSuperObject& value,
                    const TXmlTextSink& out, std::string_view name, int level,
                    std::string_view rootAttributes, int openElements = 0);

// The declaration and the root chosen for `value` (see JsonToXml), with the
// value selected by the options' RecordTag path when it is not empty.
void ProcessJSONToXML(const TJsonDocument& document, const TXTransformInfo& options,
                      bool utf8Output, const TXmlTextSink& out);

// Parses the JSON source and writes it as XML in the options' Encoding (its
// byte-order mark first), with Indent, Namespaces as root attributes and
// RecordTag as a path to the value to write. Raises EMorvexError on
// failure; input that does not parse gives "Cannot convert XML document to
// JSON!".
void JsonToXml(const TXSourceInfo& source, const TXSourceInfo& destination,
               const TXTransformInfo& options, const ProgressSink& progress = {});

}  // namespace morvex
