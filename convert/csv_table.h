// The CSV dialect reader. Records end at CR LF, a lone CR or a lone LF; cells
// are separated by the first character of the delimiter (";" when it is
// empty). With a quote character, a cell that starts with it runs to the next
// single quote character, two in a row standing for one, and anything after
// the closing quote is dropped. Inside such a quoted cell the separator, line
// ends and every other character belong to the value, so that multi-line
// cells read back unchanged; outside one, control characters other than the
// separator are ignored. A text that does not end in a line end still ends
// its last record; a quoted value still open at the end of the text is an
// error, since it would take in every line after its opening quote.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace morvex {

class TStream;
class TTextInput;

// Reads records one at a time from a stream (see TTextInput for decoding).
class TCsvReader {
 public:
  // `quote` is trimmed; an all-blank quote switches quoting off. `encoding`
  // is the source's declared encoding (see TTextInput).
  TCsvReader(TStream& input, std::string_view delimiter, std::string_view quote,
             std::string_view encoding = {});
  ~TCsvReader();
  TCsvReader(const TCsvReader&) = delete;
  TCsvReader& operator=(const TCsvReader&) = delete;

  // Fills `cells` with the next record; false at the end of the text.
  // Raises EMorvexError naming the line where a quoted value opened that the
  // text never closes, and the stream's read error.
  bool Next(std::vector<std::string>& cells);
  // True once the whole input has been seen to hold no text at all.
  bool InputWasEmpty() const { return sawNoText_; }
  // Starts again at the first record.
  void Rewind();
  // How many values read since the start (or the last Rewind) hold U+FFFD
  // in place of input that was not valid in its Unicode form.
  int64_t ReplacedValueCount() const { return replacedValues_; }
  // The warning line for those values; empty when there are none.
  std::string ReplacedValuesWarning() const;

 private:
  bool Fill();
  void EndField(std::vector<std::string>& cells, size_t& used);
  bool InQuotedValue() const;

  std::unique_ptr<TTextInput> input_;
  std::string separator_;
  std::string quote_;
  std::string chunk_;
  size_t pos_ = 0;
  bool atEnd_ = false;
  bool sawText_ = false;
  bool sawNoText_ = false;
  std::string field_;
  bool inQuotes_ = false;
  bool skipLf_ = false;      // the last character was a CR that ended a record
  bool recordOpen_ = false;  // characters seen since the last record ended
  int64_t line_ = 1;         // the line of the text being read, from 1
  bool afterCr_ = false;     // the last character was a CR inside a quoted value
  int64_t quoteLine_ = 0;    // the line where the open quoted value opened
  size_t nextReplaced_ = 0;  // the first replacement of the chunk not yet passed
  bool fieldReplaced_ = false;
  int64_t replacedValues_ = 0;
};

// The message of a CSV input that holds no text.
inline constexpr const char* kEmptyCsvMessage = "The CSV input is empty.";

// Rows of text cells.
using TArrayOfArrayOfString = std::vector<std::vector<std::string>>;

// Reads a whole CSV text into a table in which every row has as many cells as
// the widest one, shorter rows filled with empty texts. The input is `stream`
// from its position, or else the file at `path`. Whatever `encodingName`
// says, a byte-order mark decides the decoding and text without one is UTF-8,
// which is also the system code page here. Returns false with
// kEmptyCsvMessage for an input that is empty, with an empty message for a
// file that cannot be opened, and with the error's message for a quoted
// value that is never closed or a failed read.
bool ReadCsvTable(const std::string& path, TStream* stream, std::string_view encodingName,
                  std::string_view delimiter, std::string_view quote, TArrayOfArrayOfString& table,
                  std::string& message);

}  // namespace morvex
