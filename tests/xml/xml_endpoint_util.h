// Transformations and selections with their source, stylesheet and output
// given as a file path or a stream (a text for a stylesheet), opened as the
// engine opens them, for tests that cover each combination.
#pragma once

#include <string>
#include <string_view>

#include "tests/support/raised_message.h"
#include "text/stream.h"
#include "xml/xml_endpoints.h"
#include "xml/xpath.h"
#include "xml/xslt.h"

namespace morvex::testing {

// A stylesheet given as text rather than as a file path.
struct TStylesheetText {
  std::string_view Text;
};

template <typename Use>
void WithSource(TStream& stream, Use&& use) {
  use(TXmlSource{stream});
}
template <typename Use>
void WithSource(const std::string& path, Use&& use) {
  TFileStream file(path, TFileStream::Mode::Read);
  use(TXmlSource{file, path});
}

inline TStylesheet StylesheetOf(const std::string& path) { return TStylesheet::File(path); }
inline TStylesheet StylesheetOf(TStylesheetText text) { return TStylesheet::Text(text.Text); }

template <typename Use>
void WithOutput(TStream& stream, Use&& use) {
  TXmlStreamOutput output(stream);
  use(output);
}
template <typename Use>
void WithOutput(const std::string& path, Use&& use) {
  TXmlFileOutput output(path);
  use(output);
}

// TransformXml; false with the error's message in `message`.
template <typename Source, typename Stylesheet, typename Output>
bool Transform(Source&& source, Stylesheet&& stylesheet, Output&& output,
               const TTransformParameters& parameters, std::string& message) {
  message.clear();
  return Succeeds(
      [&] {
        WithSource(source, [&](const TXmlSource& input) {
          WithOutput(output, [&](TXmlOutput& destination) {
            TransformXml(input, StylesheetOf(stylesheet), destination, parameters);
          });
        });
      },
      message);
}

// SelectXmlToDocument (the source's path is not used); -1 with the error's
// message in `message`.
template <typename Source, typename Output>
int Select(Source&& source, Output&& destination, std::string_view expressions,
           const TXmlOptions* options, std::string_view rootAttributes,
           std::string_view selectionNamespaces, std::string_view rootPath, std::string& message) {
  message.clear();
  int count = -1;
  const bool done = Succeeds(
      [&] {
        WithSource(source, [&](const TXmlSource& input) {
          WithOutput(destination, [&](TXmlOutput& output) {
            count = SelectXmlToDocument(input.Stream, output, expressions, options, rootAttributes,
                                        selectionNamespaces, rootPath);
          });
        });
      },
      message);
  return done ? count : -1;
}

// EvaluateXPathText of a source: true with the text, or false with the
// error's message, in `textOrMessage`.
template <typename Source>
bool Evaluate(Source&& source, std::string_view expression, std::string& textOrMessage,
              std::string_view selectionNamespaces) {
  return Succeeds(
      [&] {
        WithSource(source, [&](const TXmlSource& input) {
          textOrMessage = EvaluateXPathText(input, expression, selectionNamespaces);
        });
      },
      textOrMessage);
}

}  // namespace morvex::testing
