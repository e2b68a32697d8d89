// The JSON value tree. Every JSON document the system reads or writes lives in
// one TJsonDocument: values are 16-byte cells in the document's arena, strings
// and child lists are stored beside them, and object keys are interned once
// per document. A document of many records therefore takes about twice the
// size of its text.
//
// Values are immutable once built and children are always built before
// their parent, so no value can contain itself: walks need no cycle guard.
// An object's members are kept in ascending key order, keys compared as
// UTF-16 code units (unsigned), a shorter key before a longer one it begins;
// putting a key twice keeps the last value. Texts are UTF-8.
//
// A number that no machine type holds exactly enough (an integer beyond
// 64 bits, a number beyond the range of a double) is kept as its decimal
// text (NumberText), so that its digits are written out as they came in.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace morvex {

enum class TJsonKind : uint8_t {
  Null,
  Boolean,
  Double,
  Currency,
  Integer,
  Object,
  Array,
  String,
  NumberText
};

// One value. Read it through the accessors of TJsonDocument.
struct TSuperObject {
  TJsonKind Kind = TJsonKind::Null;
  uint32_t Key = 0;  // the key id when the value is an object member
  union {
    bool Boolean;
    double Double;
    int64_t Integer;               // also a currency value times 10000
    const char* Text;              // string or number text: bytes preceded by their uint32 length
    const TSuperObject* Children;  // object or array: preceded by their uint64 count
  };
  TSuperObject() : Integer(0) {}
};
static_assert(sizeof(TSuperObject) == 16);

// Compares keys as UTF-16 code units: <0, 0 or >0.
int CompareJsonKeys(std::string_view a, std::string_view b);

class TJsonDocument {
 public:
  TJsonDocument();
  ~TJsonDocument();
  TJsonDocument(const TJsonDocument&) = delete;
  TJsonDocument& operator=(const TJsonDocument&) = delete;

  // The root value, or nullptr when the document holds none.
  const TSuperObject* Root() const { return root_; }
  void SetRoot(const TSuperObject* root) { root_ = root; }

  // --- reading ---
  static std::string_view String(const TSuperObject& value);
  // The decimal text of a NumberText value ("-123456789012345678901",
  // "1E400"); empty for every other kind.
  static std::string_view NumberText(const TSuperObject& value);
  // Members of an object (in key order) or items of an array; empty otherwise.
  static std::span<const TSuperObject> Children(const TSuperObject& value);
  std::string_view KeyOf(const TSuperObject& member) const { return keys_[member.Key]; }
  // The member with `key`, or nullptr.
  const TSuperObject* Member(const TSuperObject& object, std::string_view key) const;

  // --- building ---
  static TSuperObject MakeNull() { return {}; }
  static TSuperObject MakeBoolean(bool value);
  static TSuperObject MakeInteger(int64_t value);
  static TSuperObject MakeDouble(double value);
  static TSuperObject MakeCurrency(int64_t timesTenThousand);
  TSuperObject MakeString(std::string_view text);
  // A number kept as its text, which must be a JSON number.
  TSuperObject MakeNumberText(std::string_view text);
  // An array of `items`, in order.
  TSuperObject MakeArray(std::span<const TSuperObject> items);
  // An object of `members` whose Key fields are set (InternKey); sorted here,
  // and of members with equal keys the last one stays.
  TSuperObject MakeObject(std::span<TSuperObject> members);
  uint32_t InternKey(std::string_view key);
  // A copy of `value` stored in the arena, to be the root.
  const TSuperObject* Store(const TSuperObject& value);
  // How many blocks of memory the arena holds (each up to 1 MB).
  size_t BlockCount() const { return blocks_.size(); }

 private:
  char* Allocate(size_t bytes, size_t alignment);
  TSuperObject MakeText(TJsonKind kind, std::string_view text);
  static std::string_view Text(const TSuperObject& value);

  std::vector<std::unique_ptr<char[]>> blocks_;
  char* free_ = nullptr;
  size_t left_ = 0;
  std::vector<std::string_view> keys_;
  std::unordered_map<std::string_view, uint32_t> keyIds_;
  const TSuperObject* root_ = nullptr;
};

}  // namespace morvex
