#include "engine/paths.h"

#include <sys/stat.h>

#include <filesystem>
#include <system_error>
#include <vector>

#include "text/utf.h"

namespace morvex {

namespace {

// Resolves "." and ".." and collapses repeated separators of an absolute path.
// ".." above the root stays at the root.
std::string NormalizeAbsolute(std::string_view path) {
  std::vector<std::string_view> parts;
  size_t pos = 0;
  while (pos <= path.size()) {
    size_t end = path.find('/', pos);
    if (end == std::string_view::npos) end = path.size();
    const std::string_view part = path.substr(pos, end - pos);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    pos = end + 1;
  }
  std::string result;
  for (const std::string_view part : parts) {
    result += '/';
    result += part;
  }
  if (result.empty() || (path.back() == '/' && result.back() != '/')) result += '/';
  return result;
}

}  // namespace

std::string ResolvePath(std::string_view base, std::string_view path) {
  if (path.empty()) return {};
  if (path.front() == '/' || base.empty()) return std::string(path);
  const size_t separator = base.rfind('/');
  std::string combined(separator == std::string_view::npos ? std::string_view{}
                                                           : base.substr(0, separator + 1));
  combined += path;
  if (combined.front() != '/') {
    std::error_code error;
    const std::filesystem::path current = std::filesystem::current_path(error);
    if (error) return combined;
    combined = current.string() + "/" + combined;
  }
  return NormalizeAbsolute(combined);
}

std::string ResolveExistingPath(std::string_view base, std::string_view path) {
  std::string resolved = ResolvePath(base, path);
  if (FileExists(resolved)) return resolved;
  return std::string(path);
}

bool FileExists(const std::string& path) {
  if (path.empty()) return false;
  struct stat info;
  return ::stat(path.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

std::string FileExtension(std::string_view fileName) {
  const size_t dot = fileName.rfind('.');
  if (dot == std::string_view::npos) return {};
  const size_t separator = fileName.rfind('/');
  if (separator != std::string_view::npos && separator > dot) return {};
  return std::string(fileName.substr(dot));
}

std::string LastPathComponent(std::string_view path) {
  const size_t separator = path.rfind('/');
  return std::string(separator == std::string_view::npos ? path : path.substr(separator + 1));
}

bool IsQueryFileName(std::string_view name) {
  const std::string extension = AsciiLower(FileExtension(name));
  return extension == ".sql" || extension == ".lsql";
}

}  // namespace morvex
