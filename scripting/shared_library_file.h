// A shared library file judged from its bytes alone, before it is loaded:
// loading runs the library's constructors, so a library that turns out to
// be unfit must be refused without loading it.
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace morvex {

enum class TSharedLibraryFit {
  NotLoadable,     // not an ELF shared object of this process's class, byte order and machine
  LacksFunctions,  // loadable, but its dynamic symbol table does not define every function
  Fits,
};

// Reads the ELF header, the program headers and the dynamic symbol table of
// `path` (found through the dynamic segment and its hash table, as the
// loader finds symbols) and tells whether each of `functions` is defined
// there as a global or weak function of default or protected visibility.
// An unreadable or malformed file is NotLoadable, or LacksFunctions when
// only its symbol tables are malformed.
TSharedLibraryFit InspectSharedLibrary(const std::string& path,
                                       std::span<const std::string_view> functions);

}  // namespace morvex
