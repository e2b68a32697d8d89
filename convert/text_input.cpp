#include "convert/text_input.h"

#include <string_view>

#include "text/encoding.h"
#include "text/error.h"
#include "text/stream.h"
#include "text/utf.h"

namespace morvex {

namespace {

constexpr size_t kChunkBytes = 256 * 1024;

bool IsHighSurrogate(unsigned unit) { return unit >= 0xD800 && unit <= 0xDBFF; }

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
  char mark[3] = {0, 0, 0};
  size_t got = 0;
  while (got < 3) {
    const size_t n = stream_.Read(mark + got, 3 - got);
    if (n == 0) break;
    got += n;
  }
  const std::string_view head(mark, got);
  size_t skip = 0;
  if (head.starts_with("\xEF\xBB\xBF")) {
    skip = 3;
  } else if (head.starts_with("\xFF\xFE")) {
    form_ = Form::Utf16Le;
    skip = 2;
  } else if (head.starts_with("\xFE\xFF")) {
    form_ = Form::Utf16Be;
    skip = 2;
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

bool TTextInput::Next(std::string& chunk) {
  chunk.clear();
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
        chunk = SanitizeUtf8(buffer_);
      }
    } else {
      const size_t units = buffer_.size() / 2;
      std::u16string text;
      text.reserve(units);
      const bool le = form_ == Form::Utf16Le;
      for (size_t i = 0; i < units; ++i) {
        const auto a = static_cast<unsigned char>(buffer_[2 * i]);
        const auto b = static_cast<unsigned char>(buffer_[2 * i + 1]);
        text.push_back(static_cast<char16_t>(le ? (a | b << 8) : (a << 8 | b)));
      }
      size_t keepFrom = units * 2;
      if (!atEnd && !text.empty() && IsHighSurrogate(text.back())) {
        text.pop_back();
        keepFrom -= 2;
      }
      // An odd byte at the very end cannot form a character: it is dropped.
      if (!atEnd) pending_.assign(buffer_, keepFrom);
      chunk = Utf16ToUtf8(text);
    }
    if (atEnd && chunk.empty()) return false;
  }
  return true;
}

}  // namespace morvex
