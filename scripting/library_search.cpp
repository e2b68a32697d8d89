#include "scripting/library_search.h"

#include <dlfcn.h>
#include <link.h>
#include <sys/auxv.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>

namespace morvex {

namespace {

std::vector<std::string> EnvironmentDirectories() {
  std::vector<std::string> directories;
  const char* path = std::getenv("LD_LIBRARY_PATH");
  if (!path || getauxval(AT_SECURE) != 0) return directories;
  const std::string_view text(path);
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find_first_of(":;", start);
    if (end == std::string_view::npos) end = text.size();
    if (end > start) directories.emplace_back(text.substr(start, end - start));
    start = end + 1;
  }
  return directories;
}

// The cache file: "glibc-ld.so.cache1.1", the entry count, the string table
// size, then 48 bytes from the start the entries of 24 bytes (flags, key and
// value offsets from the file's start, OS version, hardware capabilities).
std::vector<std::string> CachedFiles(const std::string& fileName) {
  constexpr std::string_view kMagic = "glibc-ld.so.cache1.1";
  constexpr size_t kEntriesAt = 48, kEntrySize = 24;
  std::vector<std::string> files;
  std::ifstream in("/etc/ld.so.cache", std::ios::binary);
  const std::string cache((std::istreambuf_iterator<char>(in)), {});
  if (cache.size() < kEntriesAt || !cache.starts_with(kMagic)) return files;
  const auto word = [&](size_t at) {
    uint32_t value = 0;
    std::memcpy(&value, cache.data() + at, sizeof value);
    return value;
  };
  const auto text = [&](uint32_t at) -> std::string_view {
    if (at >= cache.size()) return {};
    return std::string_view(cache.data() + at, strnlen(cache.data() + at, cache.size() - at));
  };
  const uint64_t count =
      std::min<uint64_t>(word(kMagic.size()), (cache.size() - kEntriesAt) / kEntrySize);
  for (uint64_t i = 0; i < count; ++i) {
    const size_t entry = kEntriesAt + i * kEntrySize;
    uint64_t hardware = 0;
    std::memcpy(&hardware, cache.data() + entry + 16, sizeof hardware);
    // Entries for processor-specific subdirectories are left out: the
    // loader picks them only where the processor can run them.
    if (hardware == 0 && text(word(entry + 4)) == fileName) {
      files.emplace_back(text(word(entry + 8)));
    }
  }
  return files;
}

// The loader's search list for the program itself, as it reports it; only
// absolute directories (a relative one stems from LD_LIBRARY_PATH, handled
// above, or names no fixed place).
std::vector<std::string> LoaderDirectories() {
  std::vector<std::string> directories;
  void* program = dlopen(nullptr, RTLD_LAZY);
  if (!program) return directories;
  Dl_serinfo size{};
  if (dlinfo(program, RTLD_DI_SERINFOSIZE, &size) == 0 && size.dls_size >= sizeof(Dl_serinfo)) {
    // Dl_serinfo ends in a flexible array; the buffer is sized as reported.
    auto buffer =
        std::make_unique<std::max_align_t[]>(size.dls_size / sizeof(std::max_align_t) + 1);
    auto* info = reinterpret_cast<Dl_serinfo*>(buffer.get());
    info->dls_size = size.dls_size;
    info->dls_cnt = size.dls_cnt;
    if (dlinfo(program, RTLD_DI_SERINFO, info) == 0) {
      for (unsigned i = 0; i < info->dls_cnt; ++i) {
        const char* name = info->dls_serpath[i].dls_name;
        if (name && name[0] == '/') directories.emplace_back(name);
      }
    }
  }
  dlclose(program);
  return directories;
}

bool IsRegularFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

std::vector<std::string> FindLibraryFiles(const std::string& fileName,
                                          const std::vector<std::string>& extraDirectories) {
  std::vector<std::string> files;
  const auto add = [&files](const std::string& path) {
    if (IsRegularFile(path) && std::find(files.begin(), files.end(), path) == files.end()) {
      files.push_back(path);
    }
  };
  const auto addIn = [&](const std::vector<std::string>& directories) {
    for (const std::string& directory : directories) {
      if (!directory.empty()) add(directory + "/" + fileName);
    }
  };
  addIn(EnvironmentDirectories());
  for (const std::string& path : CachedFiles(fileName)) add(path);
  addIn(LoaderDirectories());
  addIn(extraDirectories);
  return files;
}

}  // namespace morvex
