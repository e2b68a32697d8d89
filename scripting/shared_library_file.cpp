#include "scripting/shared_library_file.h"

#include <elf.h>
#include <fcntl.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <vector>

namespace morvex {

namespace {

using Header = ElfW(Ehdr);
using Segment = ElfW(Phdr);
using Dynamic = ElfW(Dyn);
using Symbol = ElfW(Sym);

// Bounded reads at offsets of one file; every read that would leave the
// file fails instead.
class TFileReader {
 public:
  explicit TFileReader(const std::string& path) : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
    struct stat st {};
    if (fd_ >= 0 && ::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode)) {
      size_ = static_cast<uint64_t>(st.st_size);
    }
  }
  ~TFileReader() {
    if (fd_ >= 0) ::close(fd_);
  }
  TFileReader(const TFileReader&) = delete;
  TFileReader& operator=(const TFileReader&) = delete;

  bool Read(uint64_t offset, void* out, uint64_t count) const {
    if (offset > size_ || count > size_ - offset) return false;
    uint64_t done = 0;
    while (done < count) {
      const ssize_t n = ::pread(fd_, static_cast<char*>(out) + done, count - done,
                                static_cast<off_t>(offset + done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      done += static_cast<uint64_t>(n);
    }
    return true;
  }

  uint64_t Size() const { return size_; }

  template <class T>
  bool Read(uint64_t offset, T& out) const {
    return Read(offset, &out, sizeof out);
  }

  template <class T>
  bool ReadArray(uint64_t offset, uint64_t count, std::vector<T>& out) const {
    if (count > size_ / sizeof(T)) return false;
    out.resize(count);
    return Read(offset, out.data(), count * sizeof(T));
  }

 private:
  int fd_;
  uint64_t size_ = 0;
};

// The machine this program was built for, from its own ELF header.
uint16_t OwnMachine() {
  static const uint16_t machine = [] {
    Header header{};
    return TFileReader("/proc/self/exe").Read(0, header) ? header.e_machine : uint16_t{EM_NONE};
  }();
  return machine;
}

bool LoadableHere(const Header& header) {
  constexpr unsigned char kClass = sizeof(void*) == 8 ? ELFCLASS64 : ELFCLASS32;
  constexpr unsigned char kByteOrder =
      std::endian::native == std::endian::little ? ELFDATA2LSB : ELFDATA2MSB;
  return std::memcmp(header.e_ident, ELFMAG, SELFMAG) == 0 && header.e_ident[EI_CLASS] == kClass &&
         header.e_ident[EI_DATA] == kByteOrder && header.e_type == ET_DYN &&
         header.e_machine != EM_NONE && header.e_machine == OwnMachine() &&
         header.e_phentsize == sizeof(Segment);
}

// The file offset of a virtual address inside a loaded segment's file bytes.
bool FileOffset(const std::vector<Segment>& segments, uint64_t address, uint64_t& offset) {
  for (const Segment& segment : segments) {
    if (segment.p_type == PT_LOAD && address >= segment.p_vaddr &&
        address - segment.p_vaddr < segment.p_filesz) {
      offset = segment.p_offset + (address - segment.p_vaddr);
      return true;
    }
  }
  return false;
}

// Where the dynamic segment says the symbol tables are (file offsets).
struct TSymbolTables {
  uint64_t Strings = 0, StringsSize = 0, Symbols = 0, Hash = 0, GnuHash = 0;
  bool HasHash = false, HasGnuHash = false;
};

bool ReadSymbolTables(const TFileReader& file, const std::vector<Segment>& segments,
                      TSymbolTables& tables) {
  const auto dynamic = std::find_if(segments.begin(), segments.end(),
                                    [](const Segment& s) { return s.p_type == PT_DYNAMIC; });
  std::vector<Dynamic> entries;
  if (dynamic == segments.end() ||
      !file.ReadArray(dynamic->p_offset, dynamic->p_filesz / sizeof(Dynamic), entries)) {
    return false;
  }
  uint64_t strings = 0, symbols = 0, hash = 0, gnuHash = 0, symbolSize = sizeof(Symbol);
  bool hasStrings = false, hasSymbols = false;
  for (const Dynamic& entry : entries) {
    if (entry.d_tag == DT_NULL) break;
    switch (entry.d_tag) {
      case DT_STRTAB:
        strings = entry.d_un.d_ptr;
        hasStrings = true;
        break;
      case DT_STRSZ:
        tables.StringsSize = entry.d_un.d_val;
        break;
      case DT_SYMTAB:
        symbols = entry.d_un.d_ptr;
        hasSymbols = true;
        break;
      case DT_SYMENT:
        symbolSize = entry.d_un.d_val;
        break;
      case DT_HASH:
        hash = entry.d_un.d_ptr;
        tables.HasHash = true;
        break;
      case DT_GNU_HASH:
        gnuHash = entry.d_un.d_ptr;
        tables.HasGnuHash = true;
        break;
      default:
        break;
    }
  }
  if (!hasStrings || !hasSymbols || symbolSize != sizeof(Symbol)) return false;
  if (tables.HasHash && !FileOffset(segments, hash, tables.Hash)) return false;
  if (tables.HasGnuHash && !FileOffset(segments, gnuHash, tables.GnuHash)) return false;
  return FileOffset(segments, strings, tables.Strings) &&
         FileOffset(segments, symbols, tables.Symbols);
}

// The number of dynamic symbols: the chain count of the SysV hash table, or
// one past the last symbol a GNU hash chain reaches. False when unknown.
bool SymbolCount(const TFileReader& file, const TSymbolTables& tables, uint64_t& count) {
  if (tables.HasHash) {
    uint32_t sizes[2];  // buckets, chains
    if (!file.Read(tables.Hash, sizes)) return false;
    count = sizes[1];
    return true;
  }
  if (!tables.HasGnuHash) return false;
  uint32_t head[4];  // buckets, first hashed symbol, bloom words, bloom shift
  if (!file.Read(tables.GnuHash, head)) return false;
  const uint64_t bucketsAt = tables.GnuHash + sizeof head + uint64_t{head[2]} * sizeof(ElfW(Addr));
  std::vector<uint32_t> buckets;
  if (!file.ReadArray(bucketsAt, head[0], buckets)) return false;
  const uint32_t last = buckets.empty() ? 0 : *std::max_element(buckets.begin(), buckets.end());
  if (last < head[1]) {
    count = head[1];
    return true;
  }
  // The chain of the last bucket ends with the last symbol (its low bit set).
  const uint64_t chainsAt = bucketsAt + uint64_t{head[0]} * sizeof(uint32_t);
  uint32_t chain[256];
  for (uint64_t index = last;;) {
    const uint64_t at = chainsAt + (index - head[1]) * sizeof(uint32_t);
    if (at >= file.Size()) return false;
    const uint64_t words =
        std::min<uint64_t>(std::size(chain), (file.Size() - at) / sizeof(uint32_t));
    if (words == 0 || !file.Read(at, chain, words * sizeof(uint32_t))) return false;
    for (uint64_t i = 0; i < words; ++i, ++index) {
      if (chain[i] & 1) {
        count = index + 1;
        return true;
      }
    }
  }
}

bool IsExportedFunction(const Symbol& symbol) {
  const unsigned type = ELF64_ST_TYPE(symbol.st_info);
  const unsigned binding = ELF64_ST_BIND(symbol.st_info);
  const unsigned visibility = ELF64_ST_VISIBILITY(symbol.st_other);
  return symbol.st_shndx != SHN_UNDEF && (type == STT_FUNC || type == STT_GNU_IFUNC) &&
         (binding == STB_GLOBAL || binding == STB_WEAK || binding == STB_GNU_UNIQUE) &&
         (visibility == STV_DEFAULT || visibility == STV_PROTECTED);
}

}  // namespace

TSharedLibraryFit InspectSharedLibrary(const std::string& path,
                                       std::span<const std::string_view> functions) {
  const TFileReader file(path);
  Header header{};
  std::vector<Segment> segments;
  if (!file.Read(0, header) || !LoadableHere(header) ||
      !file.ReadArray(header.e_phoff, header.e_phnum, segments)) {
    return TSharedLibraryFit::NotLoadable;
  }
  TSymbolTables tables;
  uint64_t count = 0;
  std::vector<Symbol> symbols;
  std::vector<char> strings;
  if (!ReadSymbolTables(file, segments, tables) || !SymbolCount(file, tables, count) ||
      !file.ReadArray(tables.Symbols, count, symbols) ||
      !file.ReadArray(tables.Strings, tables.StringsSize, strings)) {
    return TSharedLibraryFit::LacksFunctions;
  }
  std::vector<bool> found(functions.size());
  for (const Symbol& symbol : symbols) {
    if (!IsExportedFunction(symbol) || symbol.st_name >= strings.size()) continue;
    const char* name = strings.data() + symbol.st_name;
    const size_t room = strings.size() - symbol.st_name;
    const std::string_view text(name, strnlen(name, room));
    for (size_t i = 0; i < functions.size(); ++i) {
      if (text == functions[i]) found[i] = true;
    }
  }
  return std::all_of(found.begin(), found.end(), [](bool f) { return f; })
             ? TSharedLibraryFit::Fits
             : TSharedLibraryFit::LacksFunctions;
}

}  // namespace morvex
