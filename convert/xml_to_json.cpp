// The packed form is built from the events of the SAX reader every XML input
// goes through (the same encodings, DTD refusal and depth limit). Each
// element becomes a builder on a stack; when the element ends it is packed
// into its parent's builder and, when it stays an object, frozen into the
// document. Memory holds the builders of the open elements, the text run
// being read and the finished values.
//
// Text keeps the conversion's own rules, which work on the text as written:
// white space from a character reference ("&#13;", which the XML writers
// write for CR) is content, never a line break or blank to drop, so the
// reader tells the two apart (CharactersFromReference).
#include "convert/xml_to_json.h"

#include <algorithm>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "convert/conversion_io.h"
#include "convert/json_parser.h"
#include "convert/json_writer.h"
#include "text/error.h"
#include "text/stream.h"
#include "xml/input_policy.h"
#include "xml/sax_parser.h"

namespace morvex {

namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// A member value while its element is open: a value, or an array that may
// still grow. Depth counts the arrays and objects nested in Value (or in
// the deepest item), so that the finished value's nesting is known.
struct TBuildValue {
  TSuperObject Value;
  std::vector<TSuperObject> Items;
  bool IsArray = false;
  int Depth = 0;
};

// The nesting of the value a builder value freezes into.
int DepthOf(const TBuildValue& value) { return value.IsArray ? value.Depth + 1 : value.Depth; }

struct TBuildMember {
  uint32_t Key;
  TBuildValue Value;
};

// Raised inside the one-pass writer when the input turns out to need the
// whole tree: what it wrote is taken back and the tree is built instead.
struct TNeedsTree {};

// An element whose object is written while it is read: its members go out
// one at a time, in key order, each as soon as no later sibling can change
// it. A member's value is held (Pending) until the next member shows whether
// it stays one value or becomes the first item of an array of repeated
// elements; an element written on its own (Lone) can no longer become an
// array item, so a later sibling of its name needs the tree.
struct TStreamState {
  enum class TMember : uint8_t { None, Pending, Array, Lone };
  int Level = 0;      // the nesting of its object in the output
  bool Empty = true;  // no member written yet
  std::string Key;    // the current member's key, else the last attribute's
  TMember Member = TMember::None;
  std::shared_ptr<TJsonDocument> PendingDocument;
  TSuperObject PendingValue;
  int PendingDepth = 0;
  int ItemsDepth = 0;  // the deepest item of the open array
  int Depth = 0;       // the deepest member written
};

struct TElementBuilder {
  std::string Name;
  std::vector<TBuildMember> Members;   // "@" attributes, child elements, "#text"
  std::vector<TSuperObject> Children;  // the text pieces ("#children")
  // One pass only: the attributes lead Members; the child elements packed
  // so far; the document of an element built
  // under a written one (which holds its subtree), and the state of an
  // element being written.
  size_t Attributes = 0;
  int ChildValues = 0;
  bool KeepBuilding = false;
  std::shared_ptr<TJsonDocument> Document;
  std::unique_ptr<TStreamState> Stream;
};

// An element built under a written one starts to be written itself once it
// holds this many records (objects of one repeated name), or this many
// children of any kind.
constexpr size_t kWrittenAtRecords = 2;
constexpr int kWrittenAtChildren = 1024;

// The blocks of a document that elements built one after another share.
constexpr size_t kDocumentBlocks = 4;

class TPackedXmlReader {
 public:
  // Builds the whole value into `document`.
  explicit TPackedXmlReader(TJsonDocument& document)
      : document_(&document), textKey_(document.InternKey("#text")) {}
  // Writes the value onto `out` while reading; raises TNeedsTree when the
  // input needs the whole tree.
  explicit TPackedXmlReader(TJsonStreamWriter& out) : out_(&out) {}

  void Connect(TXMLParser& parser) {
    parser.OnStartPrefixMapping = [this](std::string_view prefix, std::string_view uri) {
      namespaces_.emplace_back(
          prefix.empty() ? std::string("@xmlns") : "@xmlns:" + std::string(prefix),
          std::string(uri));
    };
    parser.OnStartElement = [this](std::string_view, std::string_view, std::string_view qName,
                                   const TXMLAttributes& attributes) {
      StartElement(qName, attributes);
    };
    parser.OnEndElement = [this](std::string_view, std::string_view, std::string_view) {
      EndRun();
      if (open_.back().Stream) {
        CloseWritten();
      } else {
        Close();
        if (out_) MaybeWrite();
      }
    };
    parser.OnCharacters = [this, &parser](std::string_view chars) {
      if (inCData_) {
        cdata_.append(chars);
      } else {
        Characters(chars, parser.CharactersFromReference());
      }
    };
    parser.OnStartCData = [this] {
      EndRun();
      inCData_ = true;
      cdata_.clear();
    };
    parser.OnEndCData = [this] {
      inCData_ = false;
      if (!open_.empty()) AddPiece(cdata_);
    };
    parser.OnComment = [this](std::string_view) { EndRun(); };
    parser.OnProcessingInstruction = [this](std::string_view, std::string_view) { EndRun(); };
    parser.OnEndDocument = [this] { EndRun(); };
  }

  // The packed root; nullopt when the document had none. Its nesting is
  // RootDepth(). Written() tells that the one pass wrote the whole root.
  const std::optional<TSuperObject>& Root() const { return root_; }
  int RootDepth() const { return rootDepth_; }
  bool Written() const { return written_; }

 private:
  void StartElement(std::string_view qName, const TXMLAttributes& attributes) {
    EndRun();
    TElementBuilder element;
    element.Name = qName;
    if (out_ && (open_.empty() || open_.back().Stream)) UseDocument(element, Acquire());
    // Namespace declarations were attributes as written: they stay members.
    for (const auto& [key, uri] : namespaces_) AddAttribute(element, key, uri);
    namespaces_.clear();
    for (int i = 0; i < attributes.Length(); ++i) {
      const TAttribute& attribute = attributes.Item(i);
      AddAttribute(element, "@" + attribute.QName, attribute.Value);
    }
    element.Attributes = element.Members.size();
    const bool root = open_.empty();
    open_.push_back(std::move(element));
    // The root is always an object: it is written from its start.
    if (out_ && root) {
      SortAttributes(open_.back());
      BeginWritten(open_.back(), 0, open_.back().Document);
    }
  }

  void AddAttribute(TElementBuilder& element, const std::string& key, std::string value) {
    for (char& c : value) {
      if (c == '\t' || c == '\r' || c == '\n') c = ' ';
    }
    element.Members.push_back(
        {document_->InternKey(key), {document_->MakeString(value), {}, false}});
  }

  // A text run, in the pieces the reader delivers: leading white space
  // skipped, each line break with the blanks before it and the white space
  // after it made one space, trailing blanks removed (EndRun). Only literal
  // white space counts; characters from references are kept as they are.
  void Characters(std::string_view chars, bool fromReference) {
    if (fromReference) {
      run_.append(chars);
      trailingBlanks_ = 0;
      skipping_ = false;
      return;
    }
    for (const char c : chars) {
      if (skipping_ && IsSpace(c)) continue;
      skipping_ = false;
      if (c == '\r' || c == '\n') {
        run_.resize(run_.size() - trailingBlanks_);
        run_.push_back(' ');
        trailingBlanks_ = 1;
        skipping_ = true;
      } else {
        run_.push_back(c);
        trailingBlanks_ = c == ' ' ? trailingBlanks_ + 1 : 0;
      }
    }
  }

  void EndRun() {
    run_.resize(run_.size() - trailingBlanks_);
    // Text made only of white space adds nothing; the reader refuses other
    // text outside the root element.
    if (!run_.empty() && !open_.empty()) AddPiece(run_);
    run_.clear();
    trailingBlanks_ = 0;
    skipping_ = true;
  }

  void AddPiece(std::string_view piece) {
    // Text beside the members of a written object would be "#text", which
    // comes first, or a member named by the element: the tree decides.
    if (open_.back().Stream) throw TNeedsTree();
    open_.back().Children.push_back(document_->MakeString(piece));
  }

  TSuperObject Freeze(TBuildValue& value) {
    if (!value.IsArray) return value.Value;
    return document_->MakeArray(value.Items);
  }

  // The object of an element's members, and its nesting.
  TBuildValue FreezeObject(TElementBuilder& element) {
    std::vector<TSuperObject> members;
    members.reserve(element.Members.size());
    int depth = 0;
    for (TBuildMember& member : element.Members) {
      TSuperObject value = Freeze(member.Value);
      value.Key = member.Key;
      members.push_back(value);
      depth = std::max(depth, DepthOf(member.Value));
    }
    return {document_->MakeObject(members), {}, false, depth + 1};
  }

  void Close() {
    TElementBuilder element = std::move(open_.back());
    open_.pop_back();
    TElementBuilder* parent = open_.empty() ? nullptr : &open_.back();
    const uint32_t nameKey = document_->InternKey(element.Name);
    CloseBuilt(element, parent, nameKey);
    element.Document.reset();
  }

  void CloseBuilt(TElementBuilder& element, TElementBuilder* parent, uint32_t nameKey) {
    if (element.Children.size() == 1) {
      const TSuperObject text = element.Children[0];
      if (element.Members.empty()) {
        if (parent) {
          Deliver(*parent, element, nameKey, {text, {}, false});
        } else {
          // A root holding only text keeps its name.
          std::vector<TSuperObject> members(2);
          members[0] = document_->MakeString(element.Name);
          members[0].Key = document_->InternKey("#name");
          members[1] = text;
          members[1].Key = textKey_;
          Finish({document_->MakeObject(members), {}, false, 1});
        }
        return;
      }
      AddBuilt(element, nameKey, {text, {}, false});
      const TBuildValue object = FreezeObject(element);
      if (parent) {
        Deliver(*parent, element, nameKey, object);
      } else {
        Finish(object);
      }
      return;
    }
    for (const TSuperObject& piece : element.Children)
      AddBuilt(element, textKey_, {piece, {}, false});
    if (!parent) {
      Finish(FreezeObject(element));
      return;
    }
    // Counting "#name", which is still a member here.
    const size_t memberCount = element.Members.size() + 1;
    if (memberCount == 2 && element.Members[0].Key == textKey_) {
      Deliver(*parent, element, nameKey, std::move(element.Members[0].Value));
    } else if (memberCount > 1) {
      Deliver(*parent, element, nameKey, FreezeObject(element));
    }
  }

  // A packed child goes into its parent's members, or out as a member of a
  // written parent.
  void Deliver(TElementBuilder& parent, TElementBuilder& element, uint32_t key, TBuildValue value) {
    if (parent.Stream) {
      WriteMember(parent, element.Name, value, std::move(element.Document));
      return;
    }
    ++parent.ChildValues;
    AddBuilt(parent, key, std::move(value));
  }

  // The member rule: a new name is stored, an array grows (an array value is
  // appended as one item), any other value becomes an array of the old value
  // and the new one.
  void AddBuilt(TElementBuilder& element, uint32_t key, TBuildValue value) {
    // Repeated elements mostly follow each other: the last member first.
    auto& members = element.Members;
    for (size_t n = members.size(), i = n; i-- > 0;) {
      TBuildMember& member = members[i];
      if (member.Key != key) continue;
      TBuildValue& old = member.Value;
      if (!old.IsArray) {
        old.Items.push_back(old.Value);
        old.IsArray = true;
      }
      old.Items.push_back(value.IsArray ? document_->MakeArray(value.Items) : value.Value);
      old.Depth = std::max(old.Depth, DepthOf(value));
      return;
    }
    element.Members.push_back({key, std::move(value)});
  }

  void Finish(const TBuildValue& root) {
    root_ = root.Value;
    rootDepth_ = root.Depth;
  }

  // --- the one pass: writing while reading ---

  // Elements built one after another share a document (keys are interned
  // once per document) until it grows to a few blocks; then the next one
  // starts a new document, and the old one goes once nothing holds it.
  std::shared_ptr<TJsonDocument> Acquire() {
    if (!shared_ || shared_->BlockCount() >= kDocumentBlocks) {
      shared_ = std::make_shared<TJsonDocument>();
    }
    return shared_;
  }

  void UseDocument(TElementBuilder& element, std::shared_ptr<TJsonDocument> document) {
    document_ = document.get();
    textKey_ = document_->InternKey("#text");
    element.Document = std::move(document);
  }

  std::string_view KeyText(uint32_t key) const {
    TSuperObject member;
    member.Key = key;
    return document_->KeyOf(member);
  }

  // The top element is written from now on when it holds records (a
  // repeated child that is an object, the common case: records under their
  // statement) or many children, together with the elements it is built in
  // up to the nearest written one, when all their members so far are in key
  // order and nothing later can move them. An element in whose parent's
  // members its name comes only once cannot become an array item later, so
  // among the elements it is built in, only those whose name continues an
  // array or which hold nothing but it (a wrapper) are written: the first
  // of several masters, with a detail statement of many records, stays built.
  void MaybeWrite() {
    TElementBuilder& top = open_.back();
    if (top.Stream || top.KeepBuilding) return;
    const std::vector<TBuildMember>& members = top.Members;
    const bool records = members.size() > top.Attributes && members.back().Value.IsArray &&
                         members.back().Value.Items.size() >= kWrittenAtRecords &&
                         members.back().Value.Items.back().Kind == TJsonKind::Object;
    if (!records && top.ChildValues < kWrittenAtChildren) return;
    size_t first = open_.size() - 1;
    while (!open_[first - 1].Stream) --first;
    for (size_t i = first; i < open_.size(); ++i) {
      TElementBuilder& element = open_[i];
      const TElementBuilder& parent = open_[i - 1];
      const bool wrapper = element.Members.size() == element.Attributes;
      if (!InKeyOrder(element) || !ComesNext(parent, element.Name) ||
          (i + 1 < open_.size() && !wrapper && !ContinuesArray(parent, element.Name))) {
        top.KeepBuilding = true;
        return;
      }
    }
    const std::shared_ptr<TJsonDocument> document = open_[first].Document;
    for (size_t i = first; i < open_.size(); ++i) {
      BeginWritten(open_[i], OpenMember(open_[i - 1], open_[i].Name), document);
    }
  }

  // No text and the members in key order (the attributes, sorted, first).
  bool InKeyOrder(TElementBuilder& element) {
    if (!element.Children.empty()) return false;
    SortAttributes(element);
    const std::vector<TBuildMember>& members = element.Members;
    for (size_t i = 1; i < members.size(); ++i) {
      if (CompareJsonKeys(KeyText(members[i - 1].Key), KeyText(members[i].Key)) >= 0) return false;
    }
    return true;
  }

  // The key a child named `name` comes after in `parent` (members in key
  // order), empty for none.
  std::string_view LastKey(const TElementBuilder& parent) const {
    if (parent.Stream) return parent.Stream->Key;
    return parent.Members.empty() ? std::string_view() : KeyText(parent.Members.back().Key);
  }

  // Whether a child named `name` continues the array of `parent`'s last
  // member.
  bool ContinuesArray(const TElementBuilder& parent, const std::string& name) const {
    if (parent.Stream && (parent.Stream->Member == TStreamState::TMember::None ||
                          parent.Stream->Member == TStreamState::TMember::Lone)) {
      return false;
    }
    if (!parent.Stream && parent.Members.size() == parent.Attributes) return false;
    return LastKey(parent) == name;
  }

  // Whether a child named `name` can be the next member of `parent`.
  bool ComesNext(const TElementBuilder& parent, const std::string& name) const {
    const std::string_view last = LastKey(parent);
    return last.empty() || CompareJsonKeys(name, last) > 0 || ContinuesArray(parent, name);
  }

  // Where the object of a child named `name` of the written `parent` goes:
  // its key is written (or the next item of the array it belongs to begun)
  // and its level returned.
  int OpenMember(TElementBuilder& parent, const std::string& name) {
    TStreamState& state = *parent.Stream;
    if (BeginMember(state, name)) return state.Level + 2;
    out_->Key(name, state.Empty, state.Level);
    state.Empty = false;
    state.Member = TStreamState::TMember::Lone;
    return state.Level + 1;
  }

  // Begins the next child named `name` of a written element: true when it is
  // the next item of the current member's array (opened now when the held
  // value is its first item), false when it starts a new member, which must
  // come after the last one in key order (the one before it ends here).
  bool BeginMember(TStreamState& state, const std::string& name) {
    if (state.Member == TStreamState::TMember::None || name != state.Key) {
      NextKey(state, name);
      return false;
    }
    if (state.Member == TStreamState::TMember::Lone) throw TNeedsTree();
    if (state.Member == TStreamState::TMember::Pending) {
      OpenArray(state);
    } else {
      out_->Comma();
    }
    return true;
  }

  // The pending value becomes the first item of an array.
  void OpenArray(TStreamState& state) {
    out_->Key(state.Key, state.Empty, state.Level);
    state.Empty = false;
    out_->OpenArray(state.Level + 1);
    out_->Value(*state.PendingDocument, state.PendingValue, state.Level + 2);
    out_->Comma();
    state.ItemsDepth = state.PendingDepth;
    state.PendingDocument.reset();
    state.Member = TStreamState::TMember::Array;
  }

  // Ends the current member of `state` and makes `name` the next key, which
  // must come after it.
  void NextKey(TStreamState& state, const std::string& name) {
    if (!state.Key.empty() && CompareJsonKeys(name, state.Key) <= 0) throw TNeedsTree();
    EndMember(state);
    state.Key = name;
  }

  void EndMember(TStreamState& state) {
    switch (state.Member) {
      case TStreamState::TMember::Pending:
        out_->Key(state.Key, state.Empty, state.Level);
        state.Empty = false;
        out_->Value(*state.PendingDocument, state.PendingValue, state.Level + 1);
        state.Depth = std::max(state.Depth, state.PendingDepth);
        state.PendingDocument.reset();
        break;
      case TStreamState::TMember::Array:
        out_->CloseArray();
        state.Depth = std::max(state.Depth, state.ItemsDepth + 1);
        break;
      case TStreamState::TMember::Lone:
      case TStreamState::TMember::None:
        break;
    }
    state.Member = TStreamState::TMember::None;
  }

  // A packed child of the written `parent`: held, or written as the next
  // item of an array.
  void WriteMember(TElementBuilder& parent, const std::string& name, const TBuildValue& value,
                   std::shared_ptr<TJsonDocument> document) {
    // An array value of text pieces merges with later siblings: the tree
    // decides.
    if (value.IsArray) throw TNeedsTree();
    TStreamState& state = *parent.Stream;
    if (BeginMember(state, name)) {
      out_->Value(*document, value.Value, state.Level + 2);
      state.ItemsDepth = std::max(state.ItemsDepth, value.Depth);
      return;
    }
    state.Member = TStreamState::TMember::Pending;
    state.PendingValue = value.Value;
    state.PendingDepth = value.Depth;
    state.PendingDocument = std::move(document);
  }

  void SortAttributes(TElementBuilder& element) {
    std::stable_sort(element.Members.begin(),
                     element.Members.begin() + static_cast<ptrdiff_t>(element.Attributes),
                     [this](const TBuildMember& a, const TBuildMember& b) {
                       return CompareJsonKeys(KeyText(a.Key), KeyText(b.Key)) < 0;
                     });
  }

  // Opens the object of `element` at `level` and writes its members so far
  // (in key order): all but the last child, which is held or whose array is
  // left open.
  void BeginWritten(TElementBuilder& element, int level,
                    const std::shared_ptr<TJsonDocument>& document) {
    element.Stream = std::make_unique<TStreamState>();
    TStreamState& state = *element.Stream;
    state.Level = level;
    out_->OpenObject();
    std::vector<TBuildMember>& members = element.Members;
    const size_t written =
        members.size() > element.Attributes ? members.size() - 1 : members.size();
    for (size_t i = 0; i < written; ++i) {
      out_->Key(KeyText(members[i].Key), state.Empty, level);
      state.Empty = false;
      out_->Value(*document_, Freeze(members[i].Value), level + 1);
      state.Depth = std::max(state.Depth, DepthOf(members[i].Value));
    }
    if (!members.empty()) state.Key = KeyText(members.back().Key);
    if (written < members.size()) {
      TBuildValue& last = members.back().Value;
      if (last.IsArray) {
        out_->Key(state.Key, state.Empty, level);
        state.Empty = false;
        out_->OpenArray(level + 1);
        for (size_t i = 0; i < last.Items.size(); ++i) {
          if (i > 0) out_->Comma();
          out_->Value(*document_, last.Items[i], level + 2);
        }
        state.ItemsDepth = last.Depth;
        state.Member = TStreamState::TMember::Array;
      } else {
        state.Member = TStreamState::TMember::Pending;
        state.PendingValue = last.Value;
        state.PendingDepth = last.Depth;
        state.PendingDocument = document;
      }
    }
    members.clear();
    element.Document.reset();
  }

  // Ends the written top element: its last member and its closing brace.
  void CloseWritten() {
    TStreamState& state = *open_.back().Stream;
    EndMember(state);
    out_->CloseObject(state.Empty, state.Level);
    const int depth = state.Depth + 1;
    open_.pop_back();
    if (open_.empty()) {
      rootDepth_ = depth;
      written_ = true;
      return;
    }
    TStreamState& parent = *open_.back().Stream;
    if (parent.Member == TStreamState::TMember::Array) {
      parent.ItemsDepth = std::max(parent.ItemsDepth, depth);
    } else {
      parent.Depth = std::max(parent.Depth, depth);
    }
  }

  TJsonDocument* document_ = nullptr;
  uint32_t textKey_ = 0;
  TJsonStreamWriter* out_ = nullptr;
  std::shared_ptr<TJsonDocument> shared_;
  std::vector<TElementBuilder> open_;
  std::vector<std::pair<std::string, std::string>> namespaces_;  // of the next element
  std::string run_;
  size_t trailingBlanks_ = 0;  // literal blanks ending run_
  bool skipping_ = true;       // literal white space is skipped here
  bool inCData_ = false;
  std::string cdata_;
  std::optional<TSuperObject> root_;
  int rootDepth_ = 0;
  bool written_ = false;
};

}  // namespace

// The tree then reports an input that does not convert.
bool WriteJsonInOnePass(TStream& input, TConvertOutput& output, const TXTransformInfo& options) {
  const int64_t start = RewritablePosition(output.Stream());
  if (start < 0 || !CanSeek(input)) return false;
  bool written = false;
  {
    const TEncoding& encoding = BeginEncodedOutput(output, options.Encoding);
    TJsonStreamWriter writer(output.Stream(), encoding, options.Indent);
    TPackedXmlReader reader(writer);
    TXMLParser parser;
    reader.Connect(parser);
    bool failed = false;
    parser.OnFatalError = [&failed](const TXMLLocator&, std::string_view, int) { failed = true; };
    RewindIfSeekable(input);
    try {
      parser.Parse(input);
      written = !failed && reader.Written() && reader.RootDepth() <= kMaxNestingDepth;
    } catch (const TNeedsTree&) {
    } catch (const EMorvexError&) {
    }
    if (written) writer.Flush();
  }
  if (written) {
    output.Close();
    return true;
  }
  output.Stream().SetSize(start);
  output.Stream().SetPosition(start);
  return false;
}

std::unique_ptr<TJsonDocument> XmlToJsonTree(TStream& stream, std::string* error) {
  RewindIfSeekable(stream);
  auto document = std::make_unique<TJsonDocument>();
  TPackedXmlReader reader(*document);
  TXMLParser parser;
  reader.Connect(parser);
  std::string reason;
  parser.OnFatalError = [&reason](const TXMLLocator& where, std::string_view message, int) {
    reason = "line " + std::to_string(where.Line) + ", column " + std::to_string(where.Column) +
             ": " + std::string(message);
  };
  try {
    parser.Parse(stream);
  } catch (const EMorvexError&) {
    if (reason.empty()) throw;  // not the input's fault (the stream failed)
  }
  if (reason.empty() && !reader.Root()) reason = "the document has no root element";
  // Whatever reads the JSON back refuses what nests deeper.
  if (reason.empty() && reader.RootDepth() > kMaxNestingDepth) {
    reason = OutputTooDeepMessage("its JSON");
  }
  if (!reason.empty()) {
    if (error) *error = std::move(reason);
    return nullptr;
  }
  document->SetRoot(document->Store(*reader.Root()));
  return document;
}

void XmlToJson(const TXSourceInfo& source, const TXSourceInfo& destination,
               const TXTransformInfo& options, const ProgressSink&) {
  TConvertInput input(source);
  TConvertOutput output(destination);
  if (WriteJsonInOnePass(input.Stream(), output, options)) return;
  std::string reason;
  std::unique_ptr<TJsonDocument> document = XmlToJsonTree(input.Stream(), &reason);
  if (!document) throw EMorvexError(NoJsonValueMessage(source.Location, reason));
  const TEncoding& encoding = BeginEncodedOutput(output, options.Encoding);
  WriteJsonOutput(*document, *document->Root(), output.Stream(), encoding, options.Indent);
  output.Close();
}

}  // namespace morvex
