#include "convert/xml_names.h"

#include <gtest/gtest.h>

namespace morvex {
namespace {

TEST(XmlNames, MakeXmlName) {
  const std::pair<const char*, const char*> cases[] = {
      {"1st Name", "st_Name"},
      {"id", "id"},
      {"-_9a-b", "a-b"},
      {"", ""},
      {"123", ""},
      {"ä b", "b"},
      {"Größe", "Gr__e"},
      {"Order.Date", "Order_Date"},
  };
  for (const auto& [text, name] : cases) EXPECT_EQ(MakeXmlName(text), name) << text;
}

TEST(XmlNames, FlattenText) {
  const std::tuple<const char*, bool, const char*> cases[] = {
      {"no line feed  ", false, "no line feed  "},
      {"a\nb", false, "a b"},
      {"a\nb", true, "a\r\nb"},
      {"\n    first\n    second\n  ", false, "first second"},
      {"x\n\tindented\n\tagain\n", false, "x indented again"},
      {"\n\nlead", false, "lead"},
      {"a\n  b\n    c", false, "a b   c"},
      {"line\n", false, "line"},
  };
  for (const auto& [text, breaks, flat] : cases) EXPECT_EQ(FlattenText(text, breaks), flat) << text;
}

}  // namespace
}  // namespace morvex
