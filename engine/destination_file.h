// Where a file destination's step writes, and how its finished output takes
// the destination's place.
//
// A regular file destination (or one that does not exist yet) is written to
// a temporary file created beside it and renamed over it only when the step
// succeeds, so a failed or interrupted step never leaves a partial file that
// looks complete. Character and block devices, FIFOs and sockets are written
// in place, as shell redirection does. Symbolic links are followed: the file
// they name is replaced and the link stays. Descriptor links (/dev/stdout,
// /proc/self/fd/N) are written through in place.
#pragma once

#include <functional>
#include <string>

#include "engine/project_defs.h"

namespace morvex {

// The path the symbolic links starting at `path` lead to in the end (that
// file need not exist). A relative link text is taken against the directory
// of the link. `path` itself when it is no link, or after 40 links (a loop).
// A link of /proc/<pid>/fd stands for an open descriptor and is not followed:
// the path of that link is returned.
std::string FollowSymbolicLinks(const std::string& path);

// Deletes the existing destination file before the step runs. Symbolic links
// are followed and the file they name is deleted (the link stays); devices,
// FIFOs, sockets and directories are never deleted. Raises "Cannot delete old
// destination file: " + path on failure.
void DeleteOldDestinationFile(const std::string& path);

// The output file of one step. Only one exists at a time (steps run one
// after another); its temporary file is known to RemovePendingDestinationFile.
class TDestinationFile {
 public:
  // Creates the temporary file (mode 0666 less the umask, exclusive create,
  // named "." + file name + ".morvex-" + random letters) in the directory of
  // the file `path` leads to. Writes in place when that file is a device,
  // FIFO, socket or directory, or when no temporary file can be created there
  // (a missing directory: the step then reports its own error). A FIFO is
  // opened for writing here, which waits for its reader as shell redirection
  // does, and is held open until the step ends: the reader then sees the
  // end of the data only once, and no byte is written before it is there.
  explicit TDestinationFile(const std::string& path);
  // Removes the temporary file unless Commit succeeded.
  ~TDestinationFile();

  TDestinationFile(const TDestinationFile&) = delete;
  TDestinationFile& operator=(const TDestinationFile&) = delete;

  // The path the step writes to: the temporary file or the destination.
  const std::string& WritePath() const { return writePath_; }
  bool WritesInPlace() const { return writePath_ == path_; }

  // Renames the temporary file over the destination (ends a FIFO's data).
  // Raises "Cannot write
  // destination file: " + path + ": " + reason when that fails.
  void Commit();

  // `message` with the temporary file's path shown as the destination's.
  std::string ShowDestinationPath(std::string message) const;

 private:
  std::string path_;       // as the project names it
  std::string target_;     // the file the links lead to
  std::string writePath_;  // temporary file or path_
  bool committed_ = false;
  int fifo_ = -1;  // a FIFO destination's writing end, held while the step runs

  void HoldFifoOpen();
  void ReleaseFifo();
};

// Runs `step` with a file destination's Location pointing at its write path
// and commits the output when the step returns. An error the step raises
// names the destination rather than the temporary file. Other destination
// kinds run `step` unchanged.
void WriteDestination(TXSourceInfo& destination, const std::function<void()>& step);

// Removes the temporary file of the step being run, if any. Safe to call
// from a signal handler.
void RemovePendingDestinationFile() noexcept;

}  // namespace morvex
