#include "xml/value_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <string>

namespace morvex {
namespace {

constexpr const char* kXmlPattern = "yyyy-mm-ddThh:nn:ss";

TEST(XmlTextToFloat, AcceptsOnlyPlainDecimalText) {
  struct Case {
    const char* text;
    double expected;
  } cases[] = {
      {"1.50", 1.5}, {" 2.5 ", 2.5}, {"+3", 3},    {"-3e2", -300}, {".5", 0.5}, {"1E-5", 1e-5},
      {"", 0},       {"abc", 0},     {"1,5", 0},   {"1,000.5", 0}, {"1.5x", 0}, {"+-1", 0},
      {"inf", 0},    {"nan", 0},     {"1e400", 0}, {"0x10", 0},    {"-", 0},    {"12 34", 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(XmlTextToFloat(c.text), c.expected) << '"' << c.text << '"';
  }
}

TEST(FloatToXmlText, GeneralFormWithFifteenDigits) {
  struct Case {
    double value;
    const char* expected;
  } cases[] = {
      {1.5, "1.5"},
      {0.1, "0.1"},
      {0.1 + 0.2, "0.3"},
      {1.0 / 3, "0.333333333333333"},
      {2.0 / 3, "0.666666666666667"},
      {100, "100"},
      {-1234.5, "-1234.5"},
      {123.456, "123.456"},
      {0.0001, "0.0001"},
      {0.00001, "1E-5"},
      {1.5e-10, "1.5E-10"},
      {1e20, "1E20"},
      {1e300, "1E300"},
      {1.23456789012345e14, "123456789012345"},
      {999999999999999.0, "999999999999999"},
      {1e15, "1E15"},
      {1.23456789012346e15, "1.23456789012346E15"},
      {999999999999999.9, "1E15"},  // rounding carries into the exponent
      {0.0, "0"},
      {-0.0, "0"},
      {std::numeric_limits<double>::quiet_NaN(), "NAN"},
      {-std::numeric_limits<double>::infinity(), "-INF"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FloatToXmlText(c.value), c.expected) << c.value;
  }
}

// Whole days for the dates below: 1899-12-30 is day 0.
constexpr double kMay1st2013 = 41395;

TEST(XmlTextToDateTime, ReadsFixedPositions) {
  struct Case {
    const char* text;
    double expected;
  } cases[] = {
      {"2013-05-01 00:00:00", kMay1st2013},
      {"2013-05-01", kMay1st2013},
      {"2013-05-01T12:00:00", kMay1st2013 + 0.5},
      {"2013/05/01-06:00:00", kMay1st2013 + 0.25},  // separators are not examined
      {"12:30:00", 12.5 / 24},                      // a time alone
      {"06:00", 0.25},
      {"1899-12-30 06:00:00", 0.25},   // the epoch date adds nothing
      {"1899-12-29 06:00:00", -1.25},  // before the epoch the time is subtracted
      {"2013", 0},                     // no full date: the time of day alone
      {"2013-00-01 06:00:00", 0.25},
      {"abc", 0},
      {"", 0},
      {"2012-02-29", 40968},  // leap years
      {"2000-02-29", 36585},
      {"2013-02-29", 0},  // dates and times that do not exist
      {"1900-02-29", 0},
      {"2013-04-31", 0},
      {"2013-13-01", 0},
      {"2013-05-01 25:00:00", 0},
      {"2013-05-01 24:00:00", 0},
      {"2013-05-01 12:60:00", 0},
      {"25:00:00", 0},
      {"2013-05-01 -1:00:00", 0},
  };
  for (const auto& c : cases) {
    EXPECT_DOUBLE_EQ(XmlTextToDateTime(c.text), c.expected) << '"' << c.text << '"';
  }
}

TEST(DateTimeToXmlText, XmlPatternPicksDateTimeOrBoth) {
  struct Case {
    double value;
    const char* expected;
  } cases[] = {
      {0, ""},
      {kMay1st2013, "2013-05-01"},
      {kMay1st2013 + 14.5 / 24, "2013-05-01T14:30:00"},
      {12.5 / 24, "12:30:00"},
      {-1.25, "1899-12-29T06:00:00"},
      {-1, "1899-12-29"},
      {-36522, "1800-01-01"},
      {1, "1899-12-31"},
      {-693593, "0001-01-01"},
      {2958465 + 86399.0 / 86400, "9999-12-31T23:59:59"},
      // Fractions of a second are cut after rounding to the millisecond; only
      // a time within half a millisecond of midnight carries into the next day.
      {kMay1st2013 + 59.6 / 86400, "2013-05-01T00:00:59"},
      {kMay1st2013 + 59.4 / 86400, "2013-05-01T00:00:59"},
      {kMay1st2013 + 46800.0 / 86400 - 1e-12, "2013-05-01T13:00:00"},
      {kMay1st2013 + 86399.9999 / 86400, "2013-05-02"},
      {0.99999999, "23:59:59"},
      {-1.99999999, "1899-12-29T23:59:59"},
      {1e-9, "00:00:00"},
      // Beyond the years 1 to 9999, or not a number.
      {2958466, ""},
      {-693594, ""},
      {1e300, ""},
      {std::numeric_limits<double>::quiet_NaN(), ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DateTimeToXmlText(kXmlPattern, c.value), c.expected) << c.value;
  }
}

TEST(DateTimeToXmlText, OtherPatternsReplaceLetterGroups) {
  const double v = kMay1st2013 + (14 * 3600 + 5 * 60 + 9) / 86400.0;
  EXPECT_EQ(DateTimeToXmlText("yyyy-mm-dd hh:nn:ss", v), "2013-05-01 14:05:09");
  EXPECT_EQ(DateTimeToXmlText("yyyy-mm-dd", v), "2013-05-01");
  EXPECT_EQ(DateTimeToXmlText("hh:nn:ss", v), "14:05:09");
  EXPECT_EQ(DateTimeToXmlText("d.m.yy h:n:s", v), "1.5.13 14:5:9");
  EXPECT_EQ(DateTimeToXmlText("YYYY/MM/DD", v), "2013/05/01");
  EXPECT_EQ(DateTimeToXmlText("yyyy-mm-dd hh:nn:ss", kMay1st2013), "2013-05-01 00:00:00");
  EXPECT_EQ(DateTimeToXmlText("hh:nn:ss", 0.99999999), "23:59:59");
  EXPECT_EQ(DateTimeToXmlText("hh:nn:ss", 0.999999999), "00:00:00");
  EXPECT_EQ(DateTimeToXmlText("hh:nn:ss", 0), "");
}

TEST(DateTimeToXmlText, ReadsBackEveryWholeSecondOfADay) {
  // Float noise in the time fraction must never show as 59 seconds or 24:00.
  for (int s = 0; s < 86400; s += 7) {
    char text[32];
    std::snprintf(text, sizeof text, "2013-05-01T%02d:%02d:%02d", s / 3600, s / 60 % 60, s % 60);
    const std::string expected = s == 0 ? "2013-05-01" : text;
    ASSERT_EQ(DateTimeToXmlText(kXmlPattern, XmlTextToDateTime(text)), expected);
  }
}

TEST(Base64, TextIsEncodedAsUtf16LeBytes) {
  EXPECT_EQ(Base64OfText(""), "");
  EXPECT_EQ(Base64OfText("A"), "QQA=");
  EXPECT_EQ(Base64OfText("AB"), "QQBCAA==");
  EXPECT_EQ(Base64OfText("\xE2\x82\xAC"), "rCA=");          // U+20AC: AC 20
  EXPECT_EQ(Base64OfText("\xF0\x9F\x98\x80"), "PdgA3g==");  // U+1F600: 3D D8 00 DE
}

TEST(Base64, BytesFollowTheStandardAlphabet) {
  EXPECT_EQ(Base64OfBytes(""), "");
  EXPECT_EQ(Base64OfBytes("f"), "Zg==");
  EXPECT_EQ(Base64OfBytes("fo"), "Zm8=");
  EXPECT_EQ(Base64OfBytes("foo"), "Zm9v");
  EXPECT_EQ(Base64OfBytes("foobar"), "Zm9vYmFy");
  EXPECT_EQ(Base64OfBytes(std::string("\x00\xFF\xFE", 3)), "AP/+");
}

TEST(Base64, LinesOf76CharactersJoinedByCrLf) {
  // 57 code units are 114 bytes: exactly two full lines.
  const std::string two = Base64OfText(std::string(57, 'a'));
  ASSERT_EQ(two.size(), 76u + 2 + 76);
  EXPECT_EQ(two.find("\r\n"), 76u);
  EXPECT_EQ(two.rfind("\r\n"), 76u);
  EXPECT_NE(two.back(), '\n');

  // 57 bytes are exactly one line; one byte more starts a second.
  EXPECT_EQ(Base64OfBytes(std::string(57, 'x')).size(), 76u);
  const std::string more = Base64OfBytes(std::string(58, 'x'));
  EXPECT_EQ(more.size(), 76u + 2 + 4);
  EXPECT_EQ(more.substr(76, 2), "\r\n");
  EXPECT_EQ(more.substr(78), "eA==");
}

}  // namespace
}  // namespace morvex
