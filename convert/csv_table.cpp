#include "convert/csv_table.h"

#include <algorithm>

#include "convert/conversion_io.h"
#include "convert/text_input.h"
#include "text/error.h"
#include "text/stream.h"

namespace morvex {

namespace {

std::string FirstCharacter(std::string_view text) {
  if (text.empty()) return {};
  size_t length = 1;
  const auto lead = static_cast<unsigned char>(text[0]);
  if (lead >= 0xF0) {
    length = 4;
  } else if (lead >= 0xE0) {
    length = 3;
  } else if (lead >= 0xC0) {
    length = 2;
  }
  return std::string(text.substr(0, std::min(length, text.size())));
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && static_cast<unsigned char>(text.front()) <= ' ') text.remove_prefix(1);
  while (!text.empty() && static_cast<unsigned char>(text.back()) <= ' ') text.remove_suffix(1);
  return text;
}

bool StartsWithAt(std::string_view text, size_t pos, std::string_view part) {
  // Separators and quotes are mostly one byte: no call for those.
  if (part.size() == 1) return pos < text.size() && text[pos] == part[0];
  return text.size() - pos >= part.size() && text.compare(pos, part.size(), part) == 0;
}

}  // namespace

TCsvReader::TCsvReader(TStream& input, std::string_view delimiter, std::string_view quote,
                       std::string_view encoding)
    : input_(std::make_unique<TTextInput>(input, encoding)),
      separator_(delimiter.empty() ? std::string(";") : FirstCharacter(delimiter)),
      quote_(FirstCharacter(Trim(quote))) {}

TCsvReader::~TCsvReader() = default;

void TCsvReader::Rewind() {
  input_->Rewind();
  chunk_.clear();
  pos_ = 0;
  atEnd_ = false;
  field_.clear();
  inQuotes_ = skipLf_ = recordOpen_ = afterCr_ = fieldReplaced_ = false;
  line_ = 1;
  quoteLine_ = 0;
  nextReplaced_ = 0;
  replacedValues_ = 0;
}

std::string TCsvReader::ReplacedValuesWarning() const {
  if (replacedValues_ == 0) return {};
  const std::string form = input_->FormName();
  std::string line = std::string(kWarningPrefix) + std::to_string(replacedValues_) +
                     " value(s) of the CSV input held bytes that are not valid " + form +
                     "; each was read with U+FFFD in their place.";
  if (form == "UTF-8") {
    line += " Name the input's code page in the encoding attribute of <source> to read them.";
  }
  return line;
}

bool TCsvReader::Fill() {
  if (atEnd_) return false;
  pos_ = 0;
  if (!input_->Next(chunk_)) {
    atEnd_ = true;
    if (!sawText_) sawNoText_ = true;
    return false;
  }
  sawText_ = true;
  nextReplaced_ = 0;
  return true;
}

bool TCsvReader::InQuotedValue() const {
  return inQuotes_ && !quote_.empty() && StartsWithAt(field_, 0, quote_);
}

void TCsvReader::EndField(std::vector<std::string>& cells, size_t& used) {
  // The cells of the last record are overwritten, so that their texts are
  // not allocated again for every record.
  if (used == cells.size()) cells.emplace_back();
  std::string& cell = cells[used++];
  if (fieldReplaced_) {
    fieldReplaced_ = false;
    ++replacedValues_;
  }
  if (quote_.empty() || !StartsWithAt(field_, 0, quote_)) {
    cell.swap(field_);
    field_.clear();
    return;
  }
  cell.clear();
  const std::string_view field = field_;
  const size_t q = quote_.size();
  size_t from = q;
  while (true) {
    const size_t at = q == 1 ? field.find(quote_[0], from) : field.find(quote_, from);
    if (at == std::string_view::npos) {
      cell.append(field.substr(from));
      break;
    }
    cell.append(field.substr(from, at - from));
    if (!StartsWithAt(field, at + q, quote_)) break;  // the closing quote
    cell.append(quote_);
    from = at + 2 * q;
  }
  field_.clear();
}

bool TCsvReader::Next(std::vector<std::string>& cells) {
  size_t used = 0;
  const char sep0 = separator_[0];
  const char quote0 = quote_.empty() ? '\0' : quote_[0];
  const bool quoting = !quote_.empty();
  while (true) {
    if (pos_ >= chunk_.size() && !Fill()) {
      // The text ended: a record in progress is complete.
      if (!recordOpen_) {
        cells.clear();
        return false;
      }
      if (InQuotedValue()) {
        throw EMorvexError("The quoted value that opens on line " + std::to_string(quoteLine_) +
                           " is not closed at the end of the CSV input.");
      }
      EndField(cells, used);
      cells.resize(used);
      recordOpen_ = false;
      inQuotes_ = false;
      return true;
    }
    const std::string_view text = chunk_;
    const std::vector<size_t>& replaced = input_->Replaced();
    while (pos_ < text.size()) {
      const char c = text[pos_];
      const auto u = static_cast<unsigned char>(c);
      if (c == '\n' && skipLf_) {
        skipLf_ = false;
        ++pos_;
        continue;
      }
      skipLf_ = false;
      if (c == '\r' || c == '\n') {
        if (InQuotedValue()) {
          if (c == '\r' || !afterCr_) ++line_;
          afterCr_ = c == '\r';
          field_.push_back(c);
          recordOpen_ = true;
          ++pos_;
          continue;
        }
        ++line_;
        afterCr_ = false;
        ++pos_;
        skipLf_ = c == '\r';
        EndField(cells, used);
        cells.resize(used);
        recordOpen_ = false;
        inQuotes_ = false;
        return true;
      }
      recordOpen_ = true;
      afterCr_ = false;
      if (c == sep0 && StartsWithAt(text, pos_, separator_)) {
        pos_ += separator_.size();
        if (inQuotes_) {
          field_.append(separator_);
        } else {
          EndField(cells, used);
        }
        continue;
      }
      if (quoting && c == quote0 && StartsWithAt(text, pos_, quote_)) {
        pos_ += quote_.size();
        inQuotes_ = !inQuotes_;
        if (inQuotes_) quoteLine_ = line_;
        field_.append(quote_);
        continue;
      }
      if (u < 32) {
        if (InQuotedValue()) field_.push_back(c);
        ++pos_;
        continue;
      }
      // A run of ordinary characters is appended at once.
      size_t end = pos_ + 1;
      while (end < text.size()) {
        const char d = text[end];
        if (static_cast<unsigned char>(d) < 32 || d == sep0 || (quoting && d == quote0)) break;
        ++end;
      }
      // Replacements are ordinary characters: only a run can hold one.
      for (; nextReplaced_ < replaced.size() && replaced[nextReplaced_] < end; ++nextReplaced_) {
        if (replaced[nextReplaced_] >= pos_) fieldReplaced_ = true;
      }
      field_.append(text, pos_, end - pos_);
      pos_ = end;
    }
  }
}

bool ReadCsvTable(const std::string& path, TStream* stream, std::string_view encodingName,
                  std::string_view delimiter, std::string_view quote, TArrayOfArrayOfString& table,
                  std::string& message) {
  table.clear();
  message.clear();
  std::unique_ptr<TFileStream> file;
  if (stream == nullptr) {
    try {
      file = std::make_unique<TFileStream>(path, TFileStream::Mode::Read);
    } catch (const EMorvexError&) {
      return false;  // an input that cannot be opened fails with an empty message
    }
    stream = file.get();
  }
  try {
    TCsvReader reader(*stream, delimiter, quote, encodingName);
    std::vector<std::string> cells;
    size_t width = 0;
    while (reader.Next(cells)) {
      width = std::max(width, cells.size());
      table.push_back(std::move(cells));
    }
    if (table.empty()) {
      message = kEmptyCsvMessage;
      return false;
    }
    for (auto& row : table) row.resize(width);
    return true;
  } catch (const EMorvexError& error) {
    table.clear();
    message = error.what();
    return false;
  }
}

}  // namespace morvex
