// The MORVEX object model that scripts work through: the root object with
// the step's source, transform options, destination and the project
// parameters. One implementation serves the JavaScript and Lua engines and
// the external interpreter.
#pragma once

#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "scripting/script_object.h"

namespace morvex {

class TStream;
class TFileStream;
class TEncoding;

enum class TScriptContentKind { None, Oledb, File, Stream };

// A source or destination as the script step sees it. `Stream` belongs to
// the caller (the project's stream registry) and must outlive the run.
struct TScriptSourceInfo {
  TScriptContentKind Kind = TScriptContentKind::None;
  std::string Location;  // connection string, file path or stream name
  std::string Encoding;  // sources only; empty means none given
  TStream* Stream = nullptr;
  // The name scripts see when it is not Location (a file destination is
  // written through a temporary file beside it).
  std::string ShownName{};
};

// The transform options a script reads, and the script text itself.
struct TScriptTransformInfo {
  std::string Content;
  std::string SecondContent;
  std::string Encoding = "utf-8";
  std::string Delimiter = ";";
  std::string Quote = "\"";
  bool HeaderRow = true;
  std::string RecordTag;
  std::string Namespaces;
  std::string SelNamespaces;
  bool IncludeParams = true;
  bool FlatText = true;
  bool Indent = false;
  std::string Language;
};

// The first read or write error of a step's source or destination content.
// A script may catch the error it raised; the step still fails with it, so
// that a partly written or unread content is never reported as success.
class TContentErrors {
 public:
  // Runs `access` (a read or write of content); notes its failure, the first
  // one only, before letting it propagate.
  template <class Access>
  decltype(auto) Note(Access&& access) {
    try {
      return access();
    } catch (const std::exception& e) {
      if (first_.empty()) first_ = e.what();
      throw;
    }
  }
  const std::string& First() const { return first_; }

 private:
  std::string first_;
};

// Sequential access to a source's or destination's content: Read(count)
// (all the rest without a count), Write(bytes or text), Seek(offset,
// origin 0 start / 1 current / 2 end), Position (read-write) and Size.
class TMorvexStream final : public TScriptObject {
 public:
  TMorvexStream(TStream& stream, TContentErrors& errors) : stream_(stream), errors_(errors) {}
  std::string_view ClassName() const override { return "TMorvexStream"; }
  std::span<const TScriptMember> Members() const override;

 protected:
  TScriptValue GetProperty(const TScriptMember& member) override;
  void SetProperty(const TScriptMember& member, const TScriptValue& value) override;
  TScriptValue CallMethod(const TScriptMember& member,
                          std::span<const TScriptValue> arguments) override;

 private:
  TStream& stream_;
  TContentErrors& errors_;
};

// What sources and destinations share: Kind, Name, Text, Value, GetStream.
// Kinds "oledb" and none have no content: Text is empty, Value null,
// GetStream null, and assignments do nothing. Every read or write failure
// raises EMorvexError naming the file and the system's reason, and is noted
// in `errors` (owned by the caller, outliving the object).
class TMorvexSourceDest : public TScriptObject {
 public:
  TMorvexSourceDest(const TScriptSourceInfo& info, TContentErrors& errors);
  ~TMorvexSourceDest() override;

  // Flushes and closes a file the script opened through GetStream. Raises
  // EMorvexError when buffered bytes cannot be written.
  void Close();

 protected:
  TScriptValue GetProperty(const TScriptMember& member) override;
  TScriptValue CallMethod(const TScriptMember& member,
                          std::span<const TScriptValue> arguments) override;

  // Opens the file of a "file" kind with a location when it is not open yet;
  // reports whether a file is open. Raises EMorvexError when it cannot open.
  virtual bool EnsureStream();

  // The content as text, decoded by its byte-order mark, else with
  // `fallback`; empty when there is no content.
  std::string ReadText(const TEncoding& fallback);
  // The content as bytes; null when there is no content.
  TScriptValue ReadBytes();

  TScriptSourceInfo info_;
  std::unique_ptr<TFileStream> file_;
  TContentErrors& errors_;

 private:
  std::unique_ptr<TMorvexStream> wrapper_;
};

class TMorvexSource final : public TMorvexSourceDest {
 public:
  using TMorvexSourceDest::TMorvexSourceDest;
  std::string_view ClassName() const override { return "TMorvexSource"; }
  std::span<const TScriptMember> Members() const override;

 protected:
  TScriptValue GetProperty(const TScriptMember& member) override;
};

// Text and Value accept assignment. Text is written in the transform's
// encoding (`encodingName`); GetStream creates (truncates) the file.
class TMorvexDestination final : public TMorvexSourceDest {
 public:
  TMorvexDestination(const TScriptSourceInfo& info, TContentErrors& errors,
                     std::string encodingName);
  std::string_view ClassName() const override { return "TMorvexDestination"; }
  std::span<const TScriptMember> Members() const override;

 protected:
  TScriptValue GetProperty(const TScriptMember& member) override;
  void SetProperty(const TScriptMember& member, const TScriptValue& value) override;
  bool EnsureStream() override;

 private:
  // Makes `bytes` the whole content (a file destination without an open
  // stream is created or truncated).
  void Replace(const std::string& bytes);

  std::string encodingName_;
};

// The ten read-only transform options.
class TMorvexTransform final : public TScriptObject {
 public:
  explicit TMorvexTransform(const TScriptTransformInfo& info) : info_(info) {}
  std::string_view ClassName() const override { return "TMorvexTransform"; }
  std::span<const TScriptMember> Members() const override;

 protected:
  TScriptValue GetProperty(const TScriptMember& member) override;

 private:
  TScriptTransformInfo info_;
};

// The root object "MORVEX": Source, Transform, Destination, and the methods
// ParamCount(), ParamValues(name) and ParamNames(index) over the project's
// live "name=value" parameter list (null when there is none).
class TMorvexWSHIntf final : public TScriptObject {
 public:
  TMorvexWSHIntf(const TScriptSourceInfo& source, const std::vector<std::string>* parameters,
                 const TScriptTransformInfo& transform, const TScriptSourceInfo& destination);

  std::string_view ClassName() const override { return "TMorvexWSHIntf"; }
  std::span<const TScriptMember> Members() const override;

  TMorvexSource& Source() { return source_; }
  TMorvexTransform& Transform() { return transform_; }
  TMorvexDestination& Destination() { return destination_; }

  int ParamCount() const;
  // The value of the first parameter named `name` ignoring letter case;
  // false when there is none.
  bool ParamValue(std::string_view name, std::string& value) const;
  // Raises EMorvexError for an index outside 0 to ParamCount() - 1.
  std::string ParamName(int64_t index) const;

  // Closes the source's and destination's files (see TMorvexSourceDest).
  void Close();

  // The first read or write error of the source's or destination's content
  // during the step, caught by the script or not; empty when none.
  const std::string& ContentError() const { return errors_.First(); }

 protected:
  TScriptValue GetProperty(const TScriptMember& member) override;
  TScriptValue CallMethod(const TScriptMember& member,
                          std::span<const TScriptValue> arguments) override;

 private:
  const std::vector<std::string>* parameters_;
  TContentErrors errors_;
  TMorvexSource source_;
  TMorvexTransform transform_;
  TMorvexDestination destination_;
};

}  // namespace morvex
