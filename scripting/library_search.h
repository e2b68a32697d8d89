// Finding a shared library file by name the way the dynamic loader searches,
// without loading it, so that the file can be judged before any of its code
// runs (see shared_library_file.h).
#pragma once

#include <string>
#include <vector>

namespace morvex {

// Every existing file named `fileName`, in search order and each once:
// 1. in the directories of LD_LIBRARY_PATH (split at ":" and ";"). An empty
//    entry (a leading, trailing or doubled separator) is skipped: the loader
//    would take it as the current directory, a place the user never named.
//    In secure-execution mode (set-user-ID) the variable is ignored, as the
//    loader ignores it;
// 2. the files the loader's cache (/etc/ld.so.cache, format 1.1) lists for
//    that name;
// 3. in the loader's own absolute directories for this program (its run
//    path and the system directories);
// 4. in `extraDirectories` (empty ones skipped).
std::vector<std::string> FindLibraryFiles(const std::string& fileName,
                                          const std::vector<std::string>& extraDirectories);

}  // namespace morvex
