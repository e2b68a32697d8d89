// Path rules shared by the front end and the runner. Paths are POSIX paths:
// an absolute path ("/...") plays the role of a path naming a drive or share
// and is never rebased.
#pragma once

#include <string>
#include <string_view>

namespace morvex {

// Empty `path`: empty text. Absolute `path`: returned unchanged. Empty
// `base`: `path` unchanged. Otherwise the directory part of `base` (up to and
// including its last "/") + `path`, made absolute against the current
// directory when it is still relative, with "." and ".." components and
// repeated separators resolved lexically (symbolic links are not followed).
// A trailing "/" of `path` is kept.
std::string ResolvePath(std::string_view base, std::string_view path);

// ResolvePath, but `path` unchanged when the resolved path names no existing
// file.
std::string ResolveExistingPath(std::string_view base, std::string_view path);

// True when `path` names an existing file system entry that is not a
// directory (symbolic links followed). Never throws.
bool FileExists(const std::string& path);

// The extension of the last path component with its leading ".", or empty
// text when that component holds no ".".
std::string FileExtension(std::string_view fileName);

// The text after the last "/" (the whole text when there is none).
std::string LastPathComponent(std::string_view path);

// True when the lower-cased extension is ".sql" or ".lsql".
bool IsQueryFileName(std::string_view name);

}  // namespace morvex
