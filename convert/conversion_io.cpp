#include "convert/conversion_io.h"

#include "text/csv_quote.h"
#include "text/encoding.h"
#include "text/error.h"
#include "text/stream.h"

namespace morvex {

namespace {

constexpr size_t kBlockBytes = 64 * 1024;

// The stream a conversion reads or writes: the registry's stream for the
// stream kind, none (the file at Location) for any other.
TStream* EndpointStream(const TXSourceInfo& info) {
  return info.Kind == skStream ? info.Stream : nullptr;
}

}  // namespace

TConvertInput::TConvertInput(const TXSourceInfo& source) : stream_(EndpointStream(source)) {
  if (stream_ == nullptr) {
    file_ = std::make_unique<TFileStream>(source.Location, TFileStream::Mode::Read);
    stream_ = file_.get();
  }
}

TConvertInput::~TConvertInput() = default;

TConvertOutput::TConvertOutput(const TXSourceInfo& destination)
    : stream_(EndpointStream(destination)) {
  if (stream_ == nullptr) {
    file_ = std::make_unique<TFileStream>(destination.Location, TFileStream::Mode::Create);
    stream_ = file_.get();
  }
}

TConvertOutput::~TConvertOutput() = default;

void TConvertOutput::Close() {
  if (file_) {
    static_cast<TFileStream&>(*file_).Close();
  } else {
    stream_->Flush();
  }
}

struct TEncodedTextOutput::Impl {
  Impl(TStream& s, const TEncoding& e) : stream(s), encoder(e) {}
  TStream& stream;
  TEncoder encoder;
  TEncoder::UnencodableHandler handler;
  std::string text;
  std::string bytes;

  // The bytes are handed over once: after a failed write they are not
  // offered to the stream again.
  void WriteBytes() {
    struct TClearOnExit {
      std::string& Bytes;
      ~TClearOnExit() { Bytes.clear(); }
    } clear{bytes};
    if (!bytes.empty()) stream.Write(bytes);
  }
  void Write() {
    encoder.Encode(text, bytes, handler);
    text.clear();
    WriteBytes();
  }
};

TEncodedTextOutput::TEncodedTextOutput(TStream& stream, const TEncoding& encoding,
                                       bool xmlReferences)
    : impl_(std::make_unique<Impl>(stream, encoding)) {
  if (xmlReferences && !impl_->encoder.EncodesAllCharacters()) {
    impl_->handler = [](char32_t c) {
      return "&#" + std::to_string(static_cast<uint32_t>(c)) + ";";
    };
  }
}

TEncodedTextOutput::~TEncodedTextOutput() = default;

void TEncodedTextOutput::Append(std::string_view text) {
  impl_->text.append(text);
  if (impl_->text.size() >= kBlockBytes) impl_->Write();
}

void TEncodedTextOutput::Flush() {
  if (!impl_->text.empty()) impl_->Write();
  impl_->encoder.Finish(impl_->bytes);
  impl_->WriteBytes();
}

void WriteThenFlush(TEncodedTextOutput& text, const std::function<void()>& write) {
  try {
    write();
  } catch (...) {
    try {
      text.Flush();
    } catch (...) {
    }
    throw;
  }
  text.Flush();
}

const TEncoding& BeginEncodedOutput(TConvertOutput& output, const std::string& encodingName) {
  const TEncoding& encoding = EncodingForName(encodingName);
  output.Stream().Write(encoding.Preamble());
  return encoding;
}

std::vector<std::string_view> OptionItems(std::string_view text, char separator) {
  const auto isBlank = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
  std::vector<std::string_view> items;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(separator, start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view item = text.substr(start, end - start);
    while (!item.empty() && isBlank(item.front())) item.remove_prefix(1);
    while (!item.empty() && isBlank(item.back())) item.remove_suffix(1);
    if (!item.empty()) items.push_back(item);
    start = end + 1;
  }
  return items;
}

void RewindIfSeekable(TStream& stream) {
  try {
    stream.SetPosition(0);
  } catch (const EMorvexError&) {
  }
}

bool CanSeek(TStream& stream) {
  try {
    stream.Position();
    return true;
  } catch (const EMorvexError&) {
    return false;
  }
}

int64_t RewritablePosition(TStream& output) {
  try {
    const int64_t position = output.Position();
    output.SetSize(position);
    return position;
  } catch (const EMorvexError&) {
    return -1;
  }
}

TStream& SeekableInput(TStream& input, std::unique_ptr<TStream>& copy) {
  if (CanSeek(input)) return input;
  std::unique_ptr<TFileStream> file = CreateTemporaryFile("input", "the input");
  const auto buffer = std::make_unique_for_overwrite<char[]>(kBlockBytes);
  while (const size_t count = input.Read(buffer.get(), kBlockBytes)) {
    file->Write(buffer.get(), count);
  }
  file->SetPosition(0);
  copy = std::move(file);
  return *copy;
}

void AppendCsvLine(std::string& line, const std::vector<std::string>& cells,
                   std::string_view delimiter, std::string_view quote) {
  for (size_t i = 0; i < cells.size(); ++i) {
    if (i > 0) line += delimiter;
    AppendCsvQuoted(line, cells[i], quote);
  }
  line += "\r\n";
}

void ReportProgress(const ProgressSink& progress, int64_t count) {
  if (progress && count % 10000 == 0) progress(std::to_string(count) + " records processed ...");
}

}  // namespace morvex
