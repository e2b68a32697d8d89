#include "convert/conversion_io.h"

#include <gtest/gtest.h>

#include "tests/support/temp_dir.h"
#include "text/stream.h"

namespace morvex {
namespace {

// A conversion reads and writes the registry's stream only for the stream
// kind; any other kind is the file at Location, whatever Stream holds.
TEST(ConversionEndpoints, StreamOnlyForTheStreamKind) {
  TTempDir dir;
  const std::string path = dir.Write("in.txt", "file bytes");
  struct {
    uint8_t kind;
    bool withStream;
    const char* expected;
  } const cases[] = {
      {skStream, true, "stream bytes"}, {skFile, true, "file bytes"},
      {skOledb, true, "file bytes"},    {skNone, true, "file bytes"},
      {skStream, false, "file bytes"},
  };
  for (const auto& c : cases) {
    TMemoryStream memory(std::string("stream bytes"));
    TConvertInput input(TXSourceInfo{c.kind, path, "", c.withStream ? &memory : nullptr});
    EXPECT_EQ(input.Stream().ReadToEnd(), c.expected) << static_cast<int>(c.kind);
  }

  const std::string out = dir.File("out.txt");
  TMemoryStream untouched;
  TConvertOutput file(TXSourceInfo{skFile, out, "", &untouched});
  file.Stream().Write("to the file");
  file.Close();
  EXPECT_EQ(TTempDir::Read(out), "to the file");
  EXPECT_EQ(untouched.Data(), "");
  TMemoryStream registry;
  TConvertOutput stream(TXSourceInfo{skStream, out, "", &registry});
  stream.Stream().Write("to the stream");
  stream.Close();
  EXPECT_EQ(registry.Data(), "to the stream");
  EXPECT_EQ(TTempDir::Read(out), "to the file");
}

}  // namespace
}  // namespace morvex
