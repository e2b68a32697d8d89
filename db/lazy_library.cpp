// The binder behind the stubs that scripts/lazy-library-stubs generates for
// the PostgreSQL client library and the ODBC driver manager. Those libraries
// and what they pull in (TLS, Kerberos, LDAP) cost more start-up time than the
// rest of the program together, and most runs never connect to either: each
// is loaded when one of its functions is first called.
#include <dlfcn.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>

namespace {

// Laid out by the generated assembly; see scripts/lazy-library-stubs.
struct TLazyLibrary {
  const char* Soname;
  const char* const* Names;
  void** Table;
  uint64_t Count;
  void* Handle;
};

// Nothing can be reported through the caller, which expects the library's
// own result: a library that is not installed ends the run, as a missing
// library at start-up would have.
[[noreturn]] void Fail(const char* what, const char* name) {
  const char* reason = dlerror();
  std::fprintf(stderr, "Fatal error: cannot load %s %s: %s\n", what, name,
               reason != nullptr ? reason : "not found");
  std::fflush(stderr);
  _exit(2);
}

}  // namespace

// Loads the library on its first use, binds function `index` for all later
// calls and returns its address. Called from the stubs' assembly only.
extern "C" void* MorvexLazyBind(TLazyLibrary* library, uint32_t index) {
  if (library->Handle == nullptr) {
    library->Handle = dlopen(library->Soname, RTLD_NOW | RTLD_LOCAL);
    if (library->Handle == nullptr) Fail("the library", library->Soname);
  }
  void* address = dlsym(library->Handle, library->Names[index]);
  if (address == nullptr) Fail("the function", library->Names[index]);
  library->Table[index] = address;
  return address;
}
