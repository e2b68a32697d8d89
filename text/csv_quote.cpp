#include "text/csv_quote.h"

namespace morvex {

void AppendCsvQuoted(std::string& out, std::string_view value, std::string_view quote) {
  out.append(quote);
  if (quote.empty()) {
    out.append(value);
  } else {
    size_t from = 0;
    for (size_t at = value.find(quote); at != std::string_view::npos;
         at = value.find(quote, from)) {
      out.append(value, from, at + quote.size() - from);
      out.append(quote);
      from = at + quote.size();
    }
    out.append(value, from);
  }
  out.append(quote);
}

}  // namespace morvex
