// Cheap text tests that classify inline-option arguments: which script
// language a file extension names, whether an argument carries a kind prefix,
// and whether the last argument is a file or a connection string. They only
// look at text (the drive-letter rules classify text typed on any platform)
// and never touch the file system. Positions count UTF-16 code units, as the
// inline-options form has always counted characters.
#pragma once

#include <string>
#include <string_view>

namespace morvex {

// The script language named by the file's extension (lower-cased, without
// its "."): "pas"/"dpas" "zqscript", "vbs" "VBScript", "js" "JScript", "pls"
// "PerlScript", "rxs" "ooRexxScript", "pys" "PythonScript", "tcls"
// "TclScript", "phps" "ActivePHPScript", "rbs" "RubyScript", "ops"
// "OpScript", "lua" "LuaScript"; empty text for any other extension.
std::string ScriptLanguageForFile(std::string_view fileName);

// When the first ":" of `argument` stands at position 3 to 24 (1-based) and
// the text before it holds no white space, quote (' " `), parenthesis or
// "=", that text is the kind, returned, and `argument` becomes the text after
// the colon. Otherwise (no colon, a drive colon at position 2, a colon
// further right, or a query such as "select :day::::date") returns empty
// text and leaves `argument` unchanged.
std::string SplitKindPrefix(std::string& argument);

// False for empty text. True for a drive path (":" at position 2) or a share
// path (leading "\\"); otherwise true unless the text holds both ";" and "=",
// which makes it a connection string.
bool LooksLikeFilePath(std::string_view argument);

}  // namespace morvex
