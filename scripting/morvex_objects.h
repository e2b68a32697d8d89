// The MORVEX object model that scripts work through: the root object with
// the step's source, transform options, destination and the project
// parameters. One implementation serves the JavaScript and Lua engines and
// the external interpreter.
#pragma once

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

// Sequential access to a source's or destination's content: Read(count)
// (all the rest without a count), Write(bytes or text), Seek(offset,
// origin 0 start / 1 current / 2 end), Position (read-write) and Size.
class TMorvexStream final : public TScriptObject {
 public:
  explicit TMorvexStream(TStream& stream) : stream_(stream) {}
  std::string_view ClassName() const override { return "TMorvexStream"; }
  std::span<const TScriptMember> Members() const override;

 protected:
  TScriptValue GetProperty(const TScriptMember& member) override;
  void SetProperty(const TScriptMember& member, const TScriptValue& value) override;
  TScriptValue CallMethod(const TScriptMember& member,
                          std::span<const TScriptValue> arguments) override;

 private:
  TStream& stream_;
};

// What sources and destinations share: Kind, Name, Text, Value, GetStream.
// Kinds "oledb" and none have no content: Text is empty, Value null,
// GetStream null, and assignments do nothing.
class TMorvexSourceDest : public TScriptObject {
 public:
  explicit TMorvexSourceDest(const TScriptSourceInfo& info);
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
  // `fallback`; never fails (unreadable content is empty text).
  std::string ReadText(const TEncoding& fallback);

  TScriptSourceInfo info_;
  std::unique_ptr<TFileStream> file_;

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
  TMorvexDestination(const TScriptSourceInfo& info, std::string encodingName);
  std::string_view ClassName() const override { return "TMorvexDestination"; }
  std::span<const TScriptMember> Members() const override;

 protected:
  TScriptValue GetProperty(const TScriptMember& member) override;
  void SetProperty(const TScriptMember& member, const TScriptValue& value) override;
  bool EnsureStream() override;

 private:
  void WriteText(const std::string& text);
  void WriteBytes(const std::string& bytes);

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

 protected:
  TScriptValue GetProperty(const TScriptMember& member) override;
  TScriptValue CallMethod(const TScriptMember& member,
                          std::span<const TScriptValue> arguments) override;

 private:
  const std::vector<std::string>* parameters_;
  TMorvexSource source_;
  TMorvexTransform transform_;
  TMorvexDestination destination_;
};

}  // namespace morvex
