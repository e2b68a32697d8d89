// Where a file destination's step writes, and how its finished output takes
// the destination's place.
//
// A regular file destination (or one that does not exist yet) is written to
// a temporary file created beside it and renamed over it only when the step
// succeeds, so a failed or interrupted step never leaves a partial file that
// looks complete. The new file keeps the permission bits of the file it
// replaces, and its owner and group where the process may set them.
// Character and block devices, FIFOs and sockets are written in place, as
// shell redirection does. Symbolic links are followed where the kernel's
// protected-symlinks rule would follow them: the file they name is replaced
// and the link stays. Descriptor links (/dev/stdout, /proc/self/fd/N) are
// written through in place.
#pragma once

#include <signal.h>
#include <sys/types.h>

#include <functional>
#include <optional>
#include <string>

#include "engine/project_defs.h"

namespace morvex {

// The catchable signals whose default action ends the process. A run ends
// on each of them only after removing the temporary file of the step being
// written (RemovePendingDestinationFile); they are held back while that file
// is created.
inline constexpr int kRunEndingSignals[] = {SIGINT,  SIGTERM, SIGHUP,  SIGQUIT, SIGALRM,
                                            SIGUSR1, SIGUSR2, SIGXCPU, SIGXFSZ};

// What a replaced file hands on to the file that takes its place.
struct TFileAttributes {
  mode_t Mode = 0;  // permission bits (0777)
  uid_t Owner = 0;
  gid_t Group = 0;
};

// The path the symbolic links starting at `path` lead to in the end (that
// file need not exist). A relative link text is taken against the directory
// of the link. `path` itself when it is no link, or after 40 links (a loop).
// A link of /proc/<pid>/fd stands for an open descriptor and is not followed:
// the path of that link is returned.
//
// A link is followed only where the kernel's protected-symlinks rule lets
// this process follow it: the link belongs to the process's effective user
// or to the owner of its directory, or that directory is not both sticky and
// world-writable. Otherwise another user may have planted it (in /tmp) to make
// the run delete or overwrite a file of its choice: raises "Cannot write
// destination file: " + path + ": the symbolic link " + link + " belongs to
// another user in a sticky world-writable directory".
std::string FollowSymbolicLinks(const std::string& path);

// Deletes the existing destination file before the step runs, so that a
// failed step leaves no file rather than an old one. Symbolic links are
// followed (FollowSymbolicLinks, whose refusal deletes nothing) and the file
// they name is deleted (the link stays); devices, FIFOs, sockets and
// directories are never deleted. Returns the attributes of the deleted file,
// for its replacement; none when no regular file was there. Raises "Cannot
// delete old destination file: " + path on failure.
std::optional<TFileAttributes> DeleteOldDestinationFile(const std::string& path);

// The output file of one step. Only one exists at a time (steps run one
// after another); its temporary file is known to RemovePendingDestinationFile.
class TDestinationFile {
 public:
  // Creates the temporary file (exclusive create, named "." + file name +
  // ".morvex-" + process id + "-" + random letters) in the directory of the
  // file `path` leads to: mode 0666 less the umask for a new destination, 0600
  // while it is written when `replaced` gives the attributes of the file it
  // replaces (Commit applies them). Temporary files of this destination whose
  // process no longer exists (left by a killed run) are removed first.
  // Writes in place when that file is a device, FIFO, socket or directory, or
  // when no temporary file can be created there (a missing directory: the
  // step then reports its own error). A FIFO is opened for writing here,
  // which waits for its reader as shell redirection does, and is held open
  // until the step ends: the reader then sees the end of the data only once,
  // and no byte is written before it is there.
  explicit TDestinationFile(const std::string& path,
                            const std::optional<TFileAttributes>& replaced = std::nullopt);
  // Removes the temporary file unless Commit succeeded.
  ~TDestinationFile();

  TDestinationFile(const TDestinationFile&) = delete;
  TDestinationFile& operator=(const TDestinationFile&) = delete;

  // The path the step writes to: the temporary file or the destination.
  const std::string& WritePath() const { return writePath_; }
  bool WritesInPlace() const { return writePath_ == path_; }

  // Gives the temporary file the replaced file's permission bits, and its
  // owner and group as far as the process may set them, then renames it over
  // the destination (ends a FIFO's data). Raises "Cannot write destination
  // file: " + path + ": " + reason when the rename fails.
  void Commit();

  // `message` with the temporary file's path shown as the destination's.
  std::string ShowDestinationPath(std::string message) const;

 private:
  std::string path_;       // as the project names it
  std::string target_;     // the file the links lead to
  std::string writePath_;  // temporary file or path_
  std::optional<TFileAttributes> replaced_;
  bool committed_ = false;
  int fifo_ = -1;  // a FIFO destination's writing end, held while the step runs

  void HoldFifoOpen();
  void ReleaseFifo();
};

// True when the file destination `location` is this process's standard
// output: "-", or a path that leads to descriptor 1 (/dev/stdout, /dev/fd/1,
// /proc/self/fd/1, a link to one of them).
bool IsStandardOutput(const std::string& location);

// Runs `step` with a file destination's Location pointing at its write path
// and commits the output when the step returns; `replaced` is what
// DeleteOldDestinationFile returned for it. An error the step raises names
// the destination rather than the temporary file. Other destination kinds run
// `step` unchanged.
void WriteDestination(TXSourceInfo& destination, const std::function<void()>& step,
                      const std::optional<TFileAttributes>& replaced = std::nullopt);

// Removes the temporary file of the step being run, if any. Safe to call
// from a signal handler.
void RemovePendingDestinationFile() noexcept;

}  // namespace morvex
