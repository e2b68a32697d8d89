// The MORVEX object model that scripts work through: the root object with
// the step's source, transform options, destination and the project
// parameters. A source's or destination's `Stream` belongs to the caller (the
// project's stream registry) and must outlive the run; the name scripts see
// is its ShownLocation when set, else its Location. One implementation serves the JavaScript and
// Lua engines and the external interpreter.
#pragma once

#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "scripting/script_object.h"
#include "text/step_info.h"

namespace morvex {

class TStream;
class TFileStream;
class TEncoding;

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
  TMorvexSourceDest(const TXSourceInfo& info, TContentErrors& errors);
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

  TXSourceInfo info_;
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
  TMorvexDestination(const TXSourceInfo& info, TContentErrors& errors, std::string encodingName);
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
  explicit TMorvexTransform(const TXTransformInfo& info) : info_(info) {}
  std::string_view ClassName() const override { return "TMorvexTransform"; }
  std::span<const TScriptMember> Members() const override;

 protected:
  TScriptValue GetProperty(const TScriptMember& member) override;

 private:
  TXTransformInfo info_;
};

// The root object "MORVEX": Source, Transform, Destination, and the methods
// ParamCount(), ParamValues(name) and ParamNames(index) over the project's
// live "name=value" parameter list (null when there is none).
class TMorvexWSHIntf final : public TScriptObject {
 public:
  TMorvexWSHIntf(const TXSourceInfo& source, const std::vector<std::string>* parameters,
                 const TXTransformInfo& transform, const TXSourceInfo& destination);

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
