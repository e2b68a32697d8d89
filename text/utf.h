// UTF-8 <-> UTF-16 helpers for the places where text is counted, cut or
// encoded in UTF-16 code units (255-character cuts, base64 of UTF-16LE bytes).
#pragma once

#include <string>
#include <string_view>

namespace morvex {

// Invalid UTF-8 sequences become U+FFFD.
std::u16string Utf8ToUtf16(std::string_view text);
// Unpaired surrogates become U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);

// The UTF-16LE bytes of UTF-8 text (two per code unit, no byte-order mark).
std::string Utf8ToUtf16LeBytes(std::string_view text);

// The first `maxUnits` UTF-16 code units of `text`, never cutting inside a
// UTF-8 sequence nor between the two halves of a surrogate pair.
std::string CutToUtf16Units(std::string_view text, size_t maxUnits);

// ASCII-only lower-casing (letters A-Z), as used for keywords and switches.
std::string AsciiLower(std::string_view text);

}  // namespace morvex
