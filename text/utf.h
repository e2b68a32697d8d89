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

// Decodes the UTF-8 character at `pos` and moves `pos` past it. An invalid
// sequence gives U+FFFD and moves past its longest valid-looking start (at
// least one byte), so that decoding always advances. `pos` must be inside.
char32_t DecodeUtf8Char(std::string_view text, size_t& pos);

// Appends the UTF-8 form of `c`; surrogates and values above U+10FFFF are
// written as U+FFFD.
void AppendUtf8(std::string& out, char32_t c);

// `text` with every invalid UTF-8 sequence replaced by U+FFFD.
std::string SanitizeUtf8(std::string_view text);
// True when SanitizeUtf8 would give `text` back unchanged.
bool IsValidUtf8(std::string_view text);
// Appends SanitizeUtf8(text) to `out` without a copy in between.
void AppendSanitizedUtf8(std::string& out, std::string_view text);

// Length of the longest prefix of `text` that ends on a character boundary:
// a trailing sequence that is incomplete but could still be completed by
// further bytes is left out.
size_t CompleteUtf8Prefix(std::string_view text);

// ASCII-only lower-casing (letters A-Z), as used for keywords and switches.
std::string AsciiLower(std::string_view text);
// ASCII-only upper-casing (letters a-z); other bytes stay as they are.
char AsciiUpper(char c);
std::string AsciiUpper(std::string_view text);

// The value of a hexadecimal digit (0-9, a-f, A-F); -1 for any other byte.
int AsciiHexValue(char c);

// The blanks of keywords, names and numbers written by people.
inline constexpr std::string_view kBlanks = " \t\r\n";

// `text` without the leading and trailing characters found in `blanks`.
std::string_view TrimBlanks(std::string_view text, std::string_view blanks = kBlanks);

// `text` without its trailing spaces (spaces only: a memo that ends in a
// line break keeps it).
std::string_view TrimTrailingBlanks(std::string_view text);

// True when `a` and `b` are equal with ASCII letters compared without case.
bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b);
// True when `text` begins with `prefix`, ASCII letters compared without case.
bool StartsWithIgnoringAsciiCase(std::string_view text, std::string_view prefix);

}  // namespace morvex
