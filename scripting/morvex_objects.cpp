#include "scripting/morvex_objects.h"

#include <array>

#include "text/case_fold.h"
#include "text/encoding.h"
#include "text/error.h"
#include "text/stream.h"

namespace morvex {

namespace {

std::string KindName(uint8_t kind) {
  switch (kind) {
    case skOledb:
      return "oledb";
    case skFile:
      return "file";
    case skStream:
      return "stream";
    default:
      return {};
  }
}

std::string ReadWholeFile(const std::string& path) {
  TFileStream file(path, TFileStream::Mode::Read);
  return file.ReadToEnd();
}

std::string ReadFromStart(TStream& stream) {
  stream.SetPosition(0);
  return stream.ReadToEnd();
}

// Member tables: the order is the published order; lookups ignore case.
constexpr std::array kStreamMembers{
    TScriptMember{"Read", true},         TScriptMember{"Write", true},
    TScriptMember{"Seek", true},         TScriptMember{"Position", false, true},
    TScriptMember{"Size", false, false},
};
constexpr std::array kSourceMembers{
    TScriptMember{"Kind"},
    TScriptMember{"Name"},
    TScriptMember{"Text"},
    TScriptMember{"Value"},
    TScriptMember{"GetStream", true},
    TScriptMember{"Encoding"},
};
constexpr std::array kDestinationMembers{
    TScriptMember{"Kind"},
    TScriptMember{"Name"},
    TScriptMember{"Text", false, true},
    TScriptMember{"Value", false, true},
    TScriptMember{"GetStream", true},
};
constexpr std::array kTransformMembers{
    TScriptMember{"Encoding"},      TScriptMember{"Delimiter"},     TScriptMember{"Quote"},
    TScriptMember{"HeaderRow"},     TScriptMember{"RecordTag"},     TScriptMember{"Namespaces"},
    TScriptMember{"SelNamespaces"}, TScriptMember{"IncludeParams"}, TScriptMember{"FlatText"},
    TScriptMember{"Indent"},
};
constexpr std::array kRootMembers{
    TScriptMember{"Source"},
    TScriptMember{"Transform"},
    TScriptMember{"Destination"},
    TScriptMember{"ParamCount", true},
    TScriptMember{"ParamValues", true},
    TScriptMember{"ParamNames", true},
};

bool Is(const TScriptMember& member, std::string_view name) { return member.Name == name; }

}  // namespace

// --- TMorvexStream ---

std::span<const TScriptMember> TMorvexStream::Members() const { return kStreamMembers; }

TScriptValue TMorvexStream::GetProperty(const TScriptMember& member) {
  return errors_.Note([&]() -> TScriptValue {
    if (Is(member, "Position")) return stream_.Position();
    return stream_.Size();
  });
}

void TMorvexStream::SetProperty(const TScriptMember&, const TScriptValue& value) {
  const int64_t position = ScriptValueInteger(value, "Position");
  if (position < 0) throw EMorvexError("Position must not be negative.");
  errors_.Note([&] { stream_.SetPosition(position); });
}

TScriptValue TMorvexStream::CallMethod(const TScriptMember& member,
                                       std::span<const TScriptValue> arguments) {
  if (Is(member, "Read")) {
    if (arguments.empty() || IsNull(arguments[0])) {
      return TScriptBytes{errors_.Note([&] { return stream_.ReadToEnd(); })};
    }
    RequireArguments(member, arguments, 1);
    const int64_t count = ScriptValueInteger(arguments[0], "The count of bytes to read");
    if (count < 0) throw EMorvexError("The count of bytes to read must not be negative.");
    std::string bytes;
    // Reads in pieces so that a huge count on a short stream allocates only
    // what the stream holds.
    char buffer[65536];
    while (static_cast<int64_t>(bytes.size()) < count) {
      const size_t want =
          static_cast<size_t>(std::min<int64_t>(count - bytes.size(), sizeof buffer));
      const size_t got = errors_.Note([&] { return stream_.Read(buffer, want); });
      if (got == 0) break;
      bytes.append(buffer, got);
    }
    return TScriptBytes{std::move(bytes)};
  }
  if (Is(member, "Write")) {
    RequireArguments(member, arguments, 1);
    const std::string bytes = ScriptValueBytes(arguments[0], "The data to write");
    errors_.Note([&] { stream_.Write(bytes); });
    return static_cast<int64_t>(bytes.size());
  }
  // Seek(offset[, origin])
  if (arguments.empty() || arguments.size() > 2) RequireArguments(member, arguments, 2);
  const int64_t offset = ScriptValueInteger(arguments[0], "The offset");
  const int64_t origin = arguments.size() > 1 ? ScriptValueInteger(arguments[1], "The origin") : 0;
  if (origin < 0 || origin > 2) {
    throw EMorvexError("The origin must be 0 (start), 1 (current position) or 2 (end).");
  }
  return errors_.Note([&] {
    return stream_.Seek(offset, origin == 0   ? SeekOrigin::Begin
                                : origin == 1 ? SeekOrigin::Current
                                              : SeekOrigin::End);
  });
}

// --- TMorvexSourceDest ---

TMorvexSourceDest::TMorvexSourceDest(const TXSourceInfo& info, TContentErrors& errors)
    : info_(info), errors_(errors) {}

TMorvexSourceDest::~TMorvexSourceDest() = default;

void TMorvexSourceDest::Close() {
  if (file_) errors_.Note([&] { file_->Close(); });
}

bool TMorvexSourceDest::EnsureStream() {
  if (!file_ && info_.Kind == skFile && !info_.Location.empty()) {
    file_ = std::make_unique<TFileStream>(info_.Location, TFileStream::Mode::Read);
  }
  return file_ != nullptr;
}

std::string TMorvexSourceDest::ReadText(const TEncoding& fallback) {
  const TScriptValue bytes = ReadBytes();
  if (IsNull(bytes)) return {};
  return DecodeWithPreamble(std::get<TScriptBytes>(bytes).Bytes, fallback);
}

TScriptValue TMorvexSourceDest::ReadBytes() {
  return errors_.Note([&]() -> TScriptValue {
    if (info_.Kind == skFile) {
      if (file_) return TScriptBytes{ReadFromStart(*file_)};
      if (info_.Location.empty()) return {};
      return TScriptBytes{ReadWholeFile(info_.Location)};
    }
    if (info_.Kind == skStream && info_.Stream) {
      return TScriptBytes{ReadFromStart(*info_.Stream)};
    }
    return {};
  });
}

TScriptValue TMorvexSourceDest::GetProperty(const TScriptMember& member) {
  if (Is(member, "Kind")) return KindName(info_.Kind);
  if (Is(member, "Name")) return info_.ShownLocation.empty() ? info_.Location : info_.ShownLocation;
  if (Is(member, "Text")) return ReadText(SystemAnsiEncoding());
  return ReadBytes();
}

TScriptValue TMorvexSourceDest::CallMethod(const TScriptMember& member,
                                           std::span<const TScriptValue> arguments) {
  // GetStream
  RequireArguments(member, arguments, 0);
  if (!wrapper_) {
    TStream* stream = nullptr;
    if (info_.Kind == skFile && errors_.Note([&] { return EnsureStream(); })) {
      stream = file_.get();
    } else if (info_.Kind == skStream) {
      stream = info_.Stream;
    }
    if (!stream) return {};
    errors_.Note([&] { stream->SetPosition(0); });
    wrapper_ = std::make_unique<TMorvexStream>(*stream, errors_);
  }
  return static_cast<TScriptObject*>(wrapper_.get());
}

// --- TMorvexSource ---

std::span<const TScriptMember> TMorvexSource::Members() const { return kSourceMembers; }

TScriptValue TMorvexSource::GetProperty(const TScriptMember& member) {
  if (Is(member, "Encoding")) return info_.Encoding;
  // Content without a byte-order mark is read in the source's encoding when
  // it names one.
  if (Is(member, "Text")) {
    return ReadText(info_.Encoding.empty() ? SystemAnsiEncoding()
                                           : EncodingForName(info_.Encoding));
  }
  return TMorvexSourceDest::GetProperty(member);
}

// --- TMorvexDestination ---

TMorvexDestination::TMorvexDestination(const TXSourceInfo& info, TContentErrors& errors,
                                       std::string encodingName)
    : TMorvexSourceDest(info, errors), encodingName_(std::move(encodingName)) {}

std::span<const TScriptMember> TMorvexDestination::Members() const { return kDestinationMembers; }

TScriptValue TMorvexDestination::GetProperty(const TScriptMember& member) {
  return TMorvexSourceDest::GetProperty(member);
}

bool TMorvexDestination::EnsureStream() {
  if (!file_ && info_.Kind == skFile && !info_.Location.empty()) {
    file_ = std::make_unique<TFileStream>(info_.Location, TFileStream::Mode::Create);
  }
  return file_ != nullptr;
}

void TMorvexDestination::SetProperty(const TScriptMember& member, const TScriptValue& value) {
  if (Is(member, "Text")) {
    const std::string text = ScriptValueText(value);
    const TEncoding& encoding = EncodingForName(encodingName_);
    // The byte-order mark only begins content: text added behind earlier
    // content through an open file carries none.
    const auto encode = [&](bool atStart) {
      std::string bytes = atStart ? std::string(encoding.Preamble()) : std::string();
      if (!text.empty()) bytes += encoding.GetBytes(text);
      return bytes;
    };
    // An empty text writes nothing, but still creates (truncates) the file.
    errors_.Note([&] {
      if (file_) {
        if (!text.empty()) file_->Write(encode(file_->Position() == 0));
      } else {
        Replace(text.empty() ? std::string() : encode(true));
      }
    });
  } else {
    const std::string bytes = ScriptValueBytes(value, "Value");
    errors_.Note([&] {
      if (file_) {
        file_->Write(bytes);
      } else {
        Replace(bytes);
      }
    });
  }
}

void TMorvexDestination::Replace(const std::string& bytes) {
  if (info_.Kind == skFile && !info_.Location.empty()) {
    TFileStream file(info_.Location, TFileStream::Mode::Create);
    file.Write(bytes);
    file.Close();
  } else if (info_.Kind == skStream && info_.Stream) {
    info_.Stream->SetSize(0);
    info_.Stream->SetPosition(0);
    info_.Stream->Write(bytes);
  }
}

// --- TMorvexTransform ---

std::span<const TScriptMember> TMorvexTransform::Members() const { return kTransformMembers; }

TScriptValue TMorvexTransform::GetProperty(const TScriptMember& member) {
  if (Is(member, "Encoding")) return info_.Encoding;
  if (Is(member, "Delimiter")) return info_.Delimiter;
  if (Is(member, "Quote")) return info_.Quote;
  if (Is(member, "HeaderRow")) return info_.HeaderRow;
  if (Is(member, "RecordTag")) return info_.RecordTag;
  if (Is(member, "Namespaces")) return info_.Namespaces;
  if (Is(member, "SelNamespaces")) return info_.SelNamespaces;
  if (Is(member, "IncludeParams")) return info_.IncludeParams;
  if (Is(member, "FlatText")) return info_.FlatText;
  return info_.Indent;
}

// --- TMorvexWSHIntf ---

TMorvexWSHIntf::TMorvexWSHIntf(const TXSourceInfo& source,
                               const std::vector<std::string>* parameters,
                               const TXTransformInfo& transform, const TXSourceInfo& destination)
    : parameters_(parameters),
      source_(source, errors_),
      transform_(transform),
      destination_(destination, errors_, transform.Encoding) {}

std::span<const TScriptMember> TMorvexWSHIntf::Members() const { return kRootMembers; }

int TMorvexWSHIntf::ParamCount() const {
  return parameters_ ? static_cast<int>(parameters_->size()) : 0;
}

bool TMorvexWSHIntf::ParamValue(std::string_view name, std::string& value) const {
  if (!parameters_) return false;
  for (const std::string& entry : *parameters_) {
    const size_t equals = entry.find('=');
    if (SameTextIgnoringCase(std::string_view(entry).substr(0, equals), name)) {
      value = equals == std::string::npos ? std::string() : entry.substr(equals + 1);
      return true;
    }
  }
  return false;
}

std::string TMorvexWSHIntf::ParamName(int64_t index) const {
  if (index < 0 || index >= ParamCount()) {
    throw EMorvexError("Parameter index " + std::to_string(index) + " is out of range (" +
                       std::to_string(ParamCount()) + " parameters).");
  }
  const std::string& entry = (*parameters_)[static_cast<size_t>(index)];
  return entry.substr(0, entry.find('='));
}

void TMorvexWSHIntf::Close() {
  source_.Close();
  destination_.Close();
}

TScriptValue TMorvexWSHIntf::GetProperty(const TScriptMember& member) {
  if (Is(member, "Source")) return static_cast<TScriptObject*>(&source_);
  if (Is(member, "Transform")) return static_cast<TScriptObject*>(&transform_);
  return static_cast<TScriptObject*>(&destination_);
}

TScriptValue TMorvexWSHIntf::CallMethod(const TScriptMember& member,
                                        std::span<const TScriptValue> arguments) {
  if (Is(member, "ParamCount")) {
    RequireArguments(member, arguments, 0);
    return static_cast<int64_t>(ParamCount());
  }
  RequireArguments(member, arguments, 1);
  if (Is(member, "ParamValues")) {
    std::string value;
    if (!ParamValue(ScriptValueText(arguments[0]), value)) return {};
    return value;
  }
  return ParamName(ScriptValueInteger(arguments[0], "The parameter index"));
}

}  // namespace morvex
