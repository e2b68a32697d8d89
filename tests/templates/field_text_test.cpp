// The writers' quick formatting of numbers and date-times against the
// general forms of the XML value texts, on many varied values.
#include "templates/field_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <string>

#include "xml/value_text.h"

namespace morvex {
namespace {

// The text a float field gets: the short form when it applies, else the
// general one; the short form must never differ from the general one.
void ExpectSameAsGeneralForm(double x) {
  std::string quick = "keep";
  if (AppendShortDecimalText(quick, x)) {
    EXPECT_EQ(quick, "keep" + FloatToXmlText(x)) << std::hexfloat << x;
  } else {
    EXPECT_EQ(quick, "keep") << "a refused value changed the text";
  }
}

TEST(FieldText, ShortDecimalsAreWrittenAsTheGeneralFormWritesThem) {
  for (double x : {1234.5,
                   -1234.5,
                   0.1,
                   0.1 + 0.2,
                   1.0 / 3,
                   100.0,
                   1e14,
                   999999999999999.0,
                   1e15,
                   1e15 - 0.5,
                   123456789012345.6,
                   0.0001,
                   0.00011,
                   0.0000999,
                   1e-5,
                   9.999999999999999e-5,
                   0.5,
                   -0.05,
                   2.5e-4,
                   1e300,
                   5e-324,
                   0.0,
                   -0.0,
                   std::numeric_limits<double>::quiet_NaN(),
                   std::numeric_limits<double>::infinity(),
                   4503599627370496.5,
                   9007199254740993.0,
                   0.30000000000000004,
                   1.7976931348623157e308}) {
    ExpectSameAsGeneralForm(x);
  }
  // Typical stored values: whole numbers scaled by powers of ten (prices,
  // measures), and doubles that are no short decimal at all.
  std::mt19937_64 random(20261208);
  std::uniform_int_distribution<long long> digits(-999999999999999LL, 999999999999999LL);
  std::uniform_int_distribution<int> scale(0, 20);
  std::uniform_real_distribution<double> any(-1e6, 1e6);
  int quick = 0;
  for (int i = 0; i < 200000; ++i) {
    const double scaled =
        static_cast<double>(digits(random) >> (i % 40)) / std::pow(10, scale(random));
    ExpectSameAsGeneralForm(scaled);
    ExpectSameAsGeneralForm(any(random));
    std::string text;
    if (AppendShortDecimalText(text, scaled)) ++quick;
  }
  // The quick way must serve the common values, or it is no use.
  EXPECT_GT(quick, 100000);
  std::string text;
  EXPECT_TRUE(AppendShortDecimalText(text, 1234.56));
  EXPECT_EQ(text, "1234.56");
}

TEST(FieldText, DateTimesAreWrittenAsTheirPatternsWriteThem) {
  auto expectSame = [](double x) {
    // Upper-case patterns mean the same and go the general way, which reads
    // the pattern letter by letter.
    EXPECT_EQ(DateFieldText(x), DateTimeToXmlText("YYYY-MM-DD", std::trunc(x))) << x;
    EXPECT_EQ(TimeFieldText(x), DateTimeToXmlText("HH:NN:SS", std::fabs(x - std::trunc(x)))) << x;
    EXPECT_EQ(DateTimeFieldText(x), DateTimeToXmlText("YYYY-MM-DD HH:NN:SS", x)) << x;
  };
  // Day 0, the ends of the scale and beyond, a time just before midnight,
  // times before day 0, values that are no number.
  for (double x :
       {0.0, -0.0, 0.5, -0.5, 1.0, -1.25, 41395.6041666667, -693593.0, -693594.0, 2958465.0,
        2958465.99999999, 2958466.0, 0.999999999, 41395.99999999, -1.99999999, 1e12, -1e12,
        std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity()}) {
    expectSame(x);
  }
  std::mt19937_64 random(7);
  std::uniform_real_distribution<double> days(-700000, 3000000);
  std::uniform_int_distribution<int> seconds(0, 86399);
  for (int i = 0; i < 100000; ++i) {
    expectSame(days(random));
    const double day = std::trunc(days(random));
    expectSame(day);
    expectSame(day + (day < 0 ? -1 : 1) * seconds(random) / 86400.0);
  }
  EXPECT_EQ(DateTimeFieldText(41395 + 14.5 / 24), "2013-05-01 14:30:00");
  EXPECT_EQ(TimeFieldText(0.999999999), "00:00:00");
}

}  // namespace
}  // namespace morvex
