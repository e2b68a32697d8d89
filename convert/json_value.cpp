#include "convert/json_value.h"

#include <algorithm>
#include <cstring>

#include "text/utf.h"

namespace morvex {

namespace {

// Blocks grow from 64 KiB to 1 MiB, so small documents stay small.
constexpr size_t kFirstBlockBytes = 64 << 10;
constexpr size_t kBlockBytes = 1 << 20;

// A value of `kind` that holds `value` in the union member `Field`.
template <auto Field, typename T>
TSuperObject MakeScalar(TJsonKind kind, T value) {
  TSuperObject scalar;
  scalar.Kind = kind;
  scalar.*Field = value;
  return scalar;
}

// The UTF-16 sort weight of the character at `pos`: characters above U+FFFF
// sort as their high surrogate, between U+D7FF and U+E000.
uint32_t Utf16Weight(std::string_view text, size_t pos) {
  size_t at = pos;
  const char32_t c = DecodeUtf8Char(text, at);
  if (c >= 0x10000) return 0xD800 + ((c - 0x10000) >> 10);
  return c;
}

}  // namespace

int CompareJsonKeys(std::string_view a, std::string_view b) {
  const size_t n = std::min(a.size(), b.size());
  size_t i = 0;
  while (i < n && a[i] == b[i]) ++i;
  if (i == n) return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
  // Back to the start of the character that differs.
  while (i > 0 && (static_cast<unsigned char>(a[i]) & 0xC0) == 0x80) --i;
  const uint32_t x = Utf16Weight(a, i);
  const uint32_t y = Utf16Weight(b, i);
  if (x != y) return x < y ? -1 : 1;
  // Both above U+FFFF with one high surrogate: UTF-8 order is code point order.
  return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[i]) ? -1 : 1;
}

TJsonDocument::TJsonDocument() = default;
TJsonDocument::~TJsonDocument() = default;

char* TJsonDocument::Allocate(size_t bytes, size_t alignment) {
  const size_t pad = (alignment - reinterpret_cast<uintptr_t>(free_) % alignment) % alignment;
  if (pad + bytes > left_) {
    const size_t grown =
        std::min(kBlockBytes, kFirstBlockBytes << std::min<size_t>(blocks_.size(), 8));
    const size_t size = std::max(bytes, grown);
    blocks_.push_back(std::make_unique_for_overwrite<char[]>(size));
    free_ = blocks_.back().get();
    left_ = size;
  } else {
    free_ += pad;
    left_ -= pad;
  }
  char* at = free_;
  free_ += bytes;
  left_ -= bytes;
  return at;
}

std::string_view TJsonDocument::String(const TSuperObject& value) {
  return value.Kind == TJsonKind::String ? Text(value) : std::string_view();
}

std::string_view TJsonDocument::NumberText(const TSuperObject& value) {
  return value.Kind == TJsonKind::NumberText ? Text(value) : std::string_view();
}

std::string_view TJsonDocument::Text(const TSuperObject& value) {
  uint32_t length;
  std::memcpy(&length, value.Text - sizeof length, sizeof length);
  return {value.Text, length};
}

std::span<const TSuperObject> TJsonDocument::Children(const TSuperObject& value) {
  if (value.Kind != TJsonKind::Object && value.Kind != TJsonKind::Array) return {};
  uint64_t count;
  std::memcpy(&count, reinterpret_cast<const char*>(value.Children) - sizeof count, sizeof count);
  return {value.Children, static_cast<size_t>(count)};
}

const TSuperObject* TJsonDocument::Member(const TSuperObject& object, std::string_view key) const {
  if (object.Kind != TJsonKind::Object) return nullptr;
  const auto members = Children(object);
  const auto it = std::lower_bound(members.begin(), members.end(), key,
                                   [this](const TSuperObject& member, std::string_view k) {
                                     return CompareJsonKeys(keys_[member.Key], k) < 0;
                                   });
  if (it == members.end() || keys_[it->Key] != key) return nullptr;
  return &*it;
}

TSuperObject TJsonDocument::MakeBoolean(bool value) {
  return MakeScalar<&TSuperObject::Boolean>(TJsonKind::Boolean, value);
}

TSuperObject TJsonDocument::MakeInteger(int64_t value) {
  return MakeScalar<&TSuperObject::Integer>(TJsonKind::Integer, value);
}

TSuperObject TJsonDocument::MakeDouble(double value) {
  return MakeScalar<&TSuperObject::Double>(TJsonKind::Double, value);
}

TSuperObject TJsonDocument::MakeCurrency(int64_t timesTenThousand) {
  return MakeScalar<&TSuperObject::Integer>(TJsonKind::Currency, timesTenThousand);
}

TSuperObject TJsonDocument::MakeString(std::string_view text) {
  return MakeText(TJsonKind::String, text);
}

TSuperObject TJsonDocument::MakeNumberText(std::string_view text) {
  return MakeText(TJsonKind::NumberText, text);
}

TSuperObject TJsonDocument::MakeText(TJsonKind kind, std::string_view text) {
  const auto length = static_cast<uint32_t>(text.size());
  // Texts are read with memcpy: they need no alignment.
  char* at = Allocate(sizeof length + text.size(), 1);
  std::memcpy(at, &length, sizeof length);
  std::memcpy(at + sizeof length, text.data(), text.size());
  TSuperObject v;
  v.Kind = kind;
  v.Text = at + sizeof length;
  return v;
}

TSuperObject TJsonDocument::MakeArray(std::span<const TSuperObject> items) {
  const uint64_t count = items.size();
  char* at = Allocate(sizeof count + items.size_bytes(), alignof(TSuperObject));
  std::memcpy(at, &count, sizeof count);
  if (!items.empty()) std::memcpy(at + sizeof count, items.data(), items.size_bytes());
  TSuperObject v;
  v.Kind = TJsonKind::Array;
  v.Children = reinterpret_cast<const TSuperObject*>(at + sizeof count);
  return v;
}

TSuperObject TJsonDocument::MakeObject(std::span<TSuperObject> members) {
  std::stable_sort(members.begin(), members.end(),
                   [this](const TSuperObject& a, const TSuperObject& b) {
                     return a.Key != b.Key && CompareJsonKeys(keys_[a.Key], keys_[b.Key]) < 0;
                   });
  // Of equal keys (now side by side, in input order) the last one stays.
  size_t kept = 0;
  for (size_t i = 0; i < members.size(); ++i) {
    if (i + 1 < members.size() && members[i + 1].Key == members[i].Key) continue;
    members[kept++] = members[i];
  }
  TSuperObject v = MakeArray(members.first(kept));
  v.Kind = TJsonKind::Object;
  return v;
}

uint32_t TJsonDocument::InternKey(std::string_view key) {
  const auto it = keyIds_.find(key);
  if (it != keyIds_.end()) return it->second;
  char* at = Allocate(key.size() + 1, 1);
  if (!key.empty()) std::memcpy(at, key.data(), key.size());
  const std::string_view stored(at, key.size());
  const auto id = static_cast<uint32_t>(keys_.size());
  keys_.push_back(stored);
  keyIds_.emplace(stored, id);
  return id;
}

const TSuperObject* TJsonDocument::Store(const TSuperObject& value) {
  auto* at = reinterpret_cast<TSuperObject*>(Allocate(sizeof(TSuperObject), alignof(TSuperObject)));
  *at = value;
  return at;
}

}  // namespace morvex
