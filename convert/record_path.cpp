#include "convert/record_path.h"

namespace morvex {

void TRecordPath::Enter(std::string_view qName) {
  elementPath_ += '/';
  elementPath_ += qName;
  if (known_) return;
  if (elementPath_ == "/morvex_data") {
    recordPath_ = "/r";
    known_ = true;
  } else if (skipRoot_) {
    skipRoot_ = false;
  } else {
    recordPath_ = "/";
    recordPath_ += qName;
    known_ = true;
  }
}

void TRecordPath::Leave() {
  const size_t slash = elementPath_.rfind('/');
  elementPath_.resize(slash == std::string::npos ? 0 : slash);
}

bool TRecordPath::AtRecord() const {
  return elementPath_.size() >= recordPath_.size() &&
         elementPath_.compare(elementPath_.size() - recordPath_.size(), recordPath_.size(),
                              recordPath_) == 0;
}

}  // namespace morvex
