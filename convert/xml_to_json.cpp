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

struct TElementBuilder {
  std::string Name;
  std::vector<TBuildMember> Members;   // "@" attributes, child elements, "#text"
  std::vector<TSuperObject> Children;  // the text pieces ("#children")
};

class TPackedXmlReader {
 public:
  explicit TPackedXmlReader(TJsonDocument& document)
      : document_(document), textKey_(document.InternKey("#text")) {}

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
      Close();
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
  // RootDepth().
  const std::optional<TSuperObject>& Root() const { return root_; }
  int RootDepth() const { return rootDepth_; }

 private:
  void StartElement(std::string_view qName, const TXMLAttributes& attributes) {
    EndRun();
    TElementBuilder element;
    element.Name = qName;
    // Namespace declarations were attributes as written: they stay members.
    for (const auto& [key, uri] : namespaces_) AddAttribute(element, key, uri);
    namespaces_.clear();
    for (int i = 0; i < attributes.Length(); ++i) {
      const TAttribute& attribute = attributes.Item(i);
      AddAttribute(element, "@" + attribute.QName, attribute.Value);
    }
    open_.push_back(std::move(element));
  }

  void AddAttribute(TElementBuilder& element, const std::string& key, std::string value) {
    for (char& c : value) {
      if (c == '\t' || c == '\r' || c == '\n') c = ' ';
    }
    element.Members.push_back({document_.InternKey(key), {document_.MakeString(value), {}, false}});
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
    open_.back().Children.push_back(document_.MakeString(piece));
  }

  TSuperObject Freeze(TBuildValue& value) {
    if (!value.IsArray) return value.Value;
    return document_.MakeArray(value.Items);
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
    return {document_.MakeObject(members), {}, false, depth + 1};
  }

  void Close() {
    TElementBuilder element = std::move(open_.back());
    open_.pop_back();
    TElementBuilder* parent = open_.empty() ? nullptr : &open_.back();
    const uint32_t nameKey = document_.InternKey(element.Name);

    if (element.Children.size() == 1) {
      const TSuperObject text = element.Children[0];
      if (element.Members.empty()) {
        if (parent) {
          AddBuilt(*parent, nameKey, {text, {}, false});
        } else {
          // A root holding only text keeps its name.
          std::vector<TSuperObject> members(2);
          members[0] = document_.MakeString(element.Name);
          members[0].Key = document_.InternKey("#name");
          members[1] = text;
          members[1].Key = textKey_;
          Finish({document_.MakeObject(members), {}, false, 1});
        }
        return;
      }
      AddBuilt(element, nameKey, {text, {}, false});
      const TBuildValue object = FreezeObject(element);
      if (parent) {
        AddBuilt(*parent, nameKey, object);
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
      AddBuilt(*parent, nameKey, std::move(element.Members[0].Value));
    } else if (memberCount > 1) {
      AddBuilt(*parent, nameKey, FreezeObject(element));
    }
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
      old.Items.push_back(value.IsArray ? document_.MakeArray(value.Items) : value.Value);
      old.Depth = std::max(old.Depth, DepthOf(value));
      return;
    }
    element.Members.push_back({key, std::move(value)});
  }

  void Finish(const TBuildValue& root) {
    root_ = root.Value;
    rootDepth_ = root.Depth;
  }

  TJsonDocument& document_;
  uint32_t textKey_;
  std::vector<TElementBuilder> open_;
  std::vector<std::pair<std::string, std::string>> namespaces_;  // of the next element
  std::string run_;
  size_t trailingBlanks_ = 0;  // literal blanks ending run_
  bool skipping_ = true;       // literal white space is skipped here
  bool inCData_ = false;
  std::string cdata_;
  std::optional<TSuperObject> root_;
  int rootDepth_ = 0;
};

}  // namespace

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
               const TXTransformInfo& options) {
  TConvertInput input(source);
  TConvertOutput output(destination);
  std::string reason;
  std::unique_ptr<TJsonDocument> document = XmlToJsonTree(input.Stream(), &reason);
  if (!document) throw EMorvexError(NoJsonValueMessage(source.Location, reason));
  const TEncoding& encoding = BeginEncodedOutput(output, options.Encoding);
  WriteJsonOutput(*document, *document->Root(), output.Stream(), encoding, options.Indent);
  output.Close();
}

}  // namespace morvex
