// Where a transformation or a selection reads its XML and writes its result.
// A source is a stream (a file's stream carries the file's path); an output
// is a stream, or a file that is created only when the result is ready and
// removed again when writing it fails, so a failed step leaves no file.
#pragma once

#include <memory>
#include <string>

#include "xml/xml_document.h"

namespace morvex {

class TStream;
class TFileStream;

// An XML source. A stream without a path is read from position 0. A stream
// with a path reads that file and is read from where it is (a file just
// opened, which may be a pipe); the path is then the document's base URI, so
// that a relative document() or xsl:include resolves against the file's
// folder, and the name its parse errors give.
struct TXmlSource {
  TStream& Stream;
  std::string Path{};
};

// The document of `source`, loaded as LoadXmlStream / LoadXmlFile do, or as
// their ForReading forms with `forReading` (for a document never changed).
// With a path, a failed read is a parse failure, as for LoadXmlFile; without
// one, errors of the stream itself propagate.
TXmlDocument LoadXmlSource(const TXmlSource& source, bool forReading);

// Where a result goes.
class TXmlOutput {
 public:
  virtual ~TXmlOutput() = default;
  // The stream to write to; called again after Restart().
  virtual TStream& Open() = 0;
  // Whether what Open() gave has received can be taken back.
  virtual bool CanRestart() = 0;
  // Takes back everything written since the first Open().
  virtual void Restart() = 0;
  // Ends a successful write; raises when the last bytes cannot be written.
  virtual void Close() = 0;
};

// A stream, written at its position and left open.
class TXmlStreamOutput final : public TXmlOutput {
 public:
  explicit TXmlStreamOutput(TStream& stream) : stream_(stream) {}
  TStream& Open() override;
  // Only a stream written at its end: what lies beyond the position would
  // be overwritten.
  bool CanRestart() override;
  void Restart() override;
  void Close() override {}

 private:
  TStream& stream_;
  int64_t start_ = -1;
};

// A file created (replacing an existing one) by the first Open(), closed by
// Close(); one opened but not closed is removed when the output ends.
class TXmlFileOutput final : public TXmlOutput {
 public:
  explicit TXmlFileOutput(std::string path);
  ~TXmlFileOutput() override;
  TStream& Open() override;
  // A regular file is created afresh; what went to a device or a pipe
  // cannot be taken back.
  bool CanRestart() override;
  void Restart() override {}  // Open() creates the file afresh
  void Close() override;

 private:
  std::string path_;
  std::unique_ptr<TFileStream> file_;
  bool closed_ = false;
};

}  // namespace morvex
