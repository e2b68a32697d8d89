#include "convert/text_input.h"

#include <string_view>

#include "text/encoding.h"
#include "text/error.h"
#include "text/stream.h"
#include "text/utf.h"

namespace morvex {

namespace {

constexpr size_t kChunkBytes = 256 * 1024;

bool IsHighSurrogate(char32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(char32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

constexpr char32_t kReplacementCharacter = 0xFFFD;
constexpr std::string_view kReplacementUtf8 = "\xEF\xBF\xBD";

// The encoding a source names when it is one the input may be decoded in:
// neither unknown nor a Unicode form nor the system encoding (UTF-8).
const TEncoding* DeclaredEncoding(std::string_view name) {
  if (name.empty()) return nullptr;
  const TEncoding* encoding = nullptr;
  try {
    encoding = &EncodingForName(name);
  } catch (const EMorvexError&) {
    return nullptr;
  }
  const std::string& iconvName = encoding->IconvName();
  if (iconvName.empty() || iconvName.starts_with("UTF-")) return nullptr;
  return encoding;
}

}  // namespace

TTextInput::~TTextInput() = default;

bool TTextInput::InvalidUtf8() {
  std::string piece = pending_;
  bool invalid = false;
  for (;;) {
    const size_t n = stream_.Read(readBuffer_.get(), kChunkBytes);
    piece.append(readBuffer_.get(), n);
    const size_t complete = n == 0 ? piece.size() : CompleteUtf8Prefix(piece);
    if (!IsValidUtf8(std::string_view(piece).substr(0, complete))) {
      invalid = true;
      break;
    }
    piece.erase(0, complete);
    if (n == 0) break;
  }
  stream_.SetPosition(start_);
  pending_.clear();
  return invalid;
}

TTextInput::TTextInput(TStream& stream, std::string_view declaredEncoding) : stream_(stream) {
  char mark[4] = {0, 0, 0, 0};
  size_t got = 0;
  while (got < 4) {
    const size_t n = stream_.Read(mark + got, 4 - got);
    if (n == 0) break;
    got += n;
  }
  const std::string_view head(mark, got);
  const TByteOrderMark bom = ByteOrderMarkOf(head);
  const size_t skip = bom.Length;
  if (bom.IconvName == "UTF-32LE") {
    form_ = Form::Utf32Le;
  } else if (bom.IconvName == "UTF-32BE") {
    form_ = Form::Utf32Be;
  } else if (bom.IconvName == "UTF-16LE") {
    form_ = Form::Utf16Le;
  } else if (bom.IconvName == "UTF-16BE") {
    form_ = Form::Utf16Be;
  }
  // The bytes read after the mark are kept, so that pipes need no seeking.
  pending_.assign(head.substr(skip));
  try {
    start_ = stream_.Position() - static_cast<int64_t>(pending_.size());
  } catch (const EMorvexError&) {
    start_ = -1;
  }
  if (skip == 0 && start_ >= 0) declared_ = DeclaredEncoding(declaredEncoding);
  if (declared_ != nullptr) {
    readBuffer_ = std::make_unique_for_overwrite<char[]>(kChunkBytes);
    if (InvalidUtf8()) {
      form_ = Form::Declared;
      decoder_ = std::make_unique<TDecoder>(*declared_);
    }
  }
}

void TTextInput::Rewind() {
  if (start_ < 0) throw EMorvexError("The input cannot be read a second time.");
  stream_.SetPosition(start_);
  pending_.clear();
  if (form_ == Form::Declared) decoder_ = std::make_unique<TDecoder>(*declared_);
}

std::string TTextInput::FormName() const {
  switch (form_) {
    case Form::Utf8:
      return "UTF-8";
    case Form::Utf16Le:
      return "UTF-16LE";
    case Form::Utf16Be:
      return "UTF-16BE";
    case Form::Utf32Le:
      return "UTF-32LE";
    case Form::Utf32Be:
      return "UTF-32BE";
    case Form::Declared:
      break;
  }
  return declared_->IconvName();
}

size_t TTextInput::DecodeUtf8Replacing(std::string& chunk) {
  // As SanitizeUtf8, noting where each replacement goes.
  const std::string_view bytes = buffer_;
  size_t pos = 0;
  while (pos < bytes.size()) {
    const size_t start = pos;
    if (DecodeUtf8Char(bytes, pos) == kReplacementCharacter &&
        bytes.substr(start, pos - start) != kReplacementUtf8) {
      replaced_.push_back(chunk.size());
      chunk.append(kReplacementUtf8);
    } else {
      chunk.append(bytes, start, pos - start);
    }
  }
  return bytes.size();
}

size_t TTextInput::DecodeUnits(std::string& chunk, bool atEnd) {
  const bool wide = form_ == Form::Utf32Le || form_ == Form::Utf32Be;
  const bool le = form_ == Form::Utf16Le || form_ == Form::Utf32Le;
  const size_t width = wide ? 4 : 2;
  const auto unit = [&](size_t at) {
    char32_t value = 0;
    for (size_t i = 0; i < width; ++i) {
      const auto byte = static_cast<unsigned char>(buffer_[at + (le ? width - 1 - i : i)]);
      value = value << 8 | byte;
    }
    return value;
  };
  const size_t end = buffer_.size() / width * width;
  size_t at = 0;
  while (at < end) {
    char32_t c = unit(at);
    size_t used = width;
    if (!wide && IsHighSurrogate(c)) {
      if (at + 2 >= end && !atEnd) break;  // its pair comes with the next read
      if (at + 2 < end && IsLowSurrogate(unit(at + 2))) {
        c = 0x10000 + ((c - 0xD800) << 10) + (unit(at + 2) - 0xDC00);
        used = 4;
      }
    }
    if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) {
      replaced_.push_back(chunk.size());
      chunk.append(kReplacementUtf8);
    } else {
      AppendUtf8(chunk, c);
    }
    at += used;
  }
  // Bytes that cannot form a unit at the very end are dropped.
  return atEnd ? buffer_.size() : at;
}

bool TTextInput::Next(std::string& chunk) {
  chunk.clear();
  replaced_.clear();
  if (!readBuffer_) readBuffer_ = std::make_unique_for_overwrite<char[]>(kChunkBytes);
  while (chunk.empty()) {
    const size_t n = stream_.Read(readBuffer_.get(), kChunkBytes);
    const bool atEnd = n == 0;
    buffer_.assign(pending_);
    pending_.clear();
    buffer_.append(readBuffer_.get(), n);
    if (buffer_.empty()) return false;

    if (form_ == Form::Declared) {
      const size_t used = decoder_->Decode(buffer_, atEnd, chunk);
      pending_.assign(buffer_, used);
    } else if (form_ == Form::Utf8) {
      const size_t complete = atEnd ? buffer_.size() : CompleteUtf8Prefix(buffer_);
      pending_.assign(buffer_, complete);
      buffer_.resize(complete);
      // Valid text is the chunk as it stands: no copy.
      if (IsValidUtf8(buffer_)) {
        chunk.swap(buffer_);
      } else {
        DecodeUtf8Replacing(chunk);
      }
    } else {
      pending_.assign(buffer_, DecodeUnits(chunk, atEnd));
    }
    if (atEnd && chunk.empty()) return false;
  }
  return true;
}

}  // namespace morvex
