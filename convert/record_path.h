// Where the records of an XML document are, found while it is read.
#pragma once

#include <string>
#include <string_view>

namespace morvex {

// Follows the open elements of a document and decides its record path.
// With a record tag ("order" or "orders/order") the record elements are
// those whose path ends with "/" + the tag, at any depth. Without one, a
// root named morvex_data (the dataset layout) has "r" records; any other
// root is passed over and its first child names the records.
class TRecordPath {
 public:
  explicit TRecordPath(std::string_view recordTag)
      : known_(!recordTag.empty()), recordPath_("/" + std::string(recordTag)) {}

  // An element opens; decides the record path when it is still open.
  void Enter(std::string_view qName);
  // The innermost open element closes.
  void Leave();

  // True once the record path is decided.
  bool Known() const { return known_; }
  // True when the innermost open element's path ends with the record path.
  bool AtRecord() const;
  // The "/"-joined names of the open elements.
  const std::string& ElementPath() const { return elementPath_; }

 private:
  bool known_;
  bool skipRoot_ = true;
  std::string recordPath_;
  std::string elementPath_;
};

}  // namespace morvex
