// Field type classes and the value conversions the drivers share.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <limits>
#include <string>

#include "db/db_values.h"
#include "db/field_types.h"
#include "text/error.h"

namespace morvex {
namespace {

TEST(FieldTypeClass, FollowsTheClassTable) {
  struct Case {
    TFieldType type;
    int typeClass;
  } cases[] = {
      {ftSmallint, 2}, {ftInteger, 2},       {ftWord, 2},      {ftBoolean, 2},
      {ftAutoInc, 2},  {ftLargeint, 2},      {ftFloat, 3},     {ftCurrency, 3},
      {ftBCD, 3},      {ftFMTBcd, 3},        {ftDate, 4},      {ftTime, 5},
      {ftDateTime, 6}, {ftMemo, 1},          {ftBytes, 7},     {ftVarBytes, 7},
      {ftBlob, 7},     {ftGraphic, 7},       {ftFmtMemo, 7},   {ftParadoxOle, 7},
      {ftDBaseOle, 7}, {ftTypedBinary, 7},   {ftOraBlob, 7},   {ftOraClob, 7},
      {ftUnknown, 0},  {ftString, 0},        {ftFixedChar, 0}, {ftWideString, 0},
      {ftWideMemo, 0}, {ftGuid, 0},          {ftTimeStamp, 0}, {ftVariant, 0},
      {ftCursor, 0},   {ftFixedWideChar, 0}, {ftLongWord, 0},  {ftShortint, 0},
      {ftByte, 0},     {ftExtended, 0},      {ftSingle, 0},
  };
  for (const auto& c : cases) EXPECT_EQ(FieldTypeClass(c.type), c.typeClass) << c.type;
}

TEST(FieldTypeOfClass, NamesMatchExactly) {
  EXPECT_EQ(FieldTypeOfClass("text"), ftMemo);
  EXPECT_EQ(FieldTypeOfClass("integer"), ftInteger);
  EXPECT_EQ(FieldTypeOfClass("float"), ftFloat);
  EXPECT_EQ(FieldTypeOfClass("date"), ftDate);
  EXPECT_EQ(FieldTypeOfClass("time"), ftTime);
  EXPECT_EQ(FieldTypeOfClass("datetime"), ftDateTime);
  EXPECT_EQ(FieldTypeOfClass("binary"), ftBlob);
  for (const char* other : {"string", "boolean", "unknown", "", "Integer", "TEXT", "int"}) {
    EXPECT_EQ(FieldTypeOfClass(other), ftString) << other;
  }
}

double Encode(int y, int m, int d, int h = 0, int n = 0, int s = 0, int ms = 0) {
  double value = -99999;
  EXPECT_TRUE(EncodeDbDateTime({y, m, d, h, n, s, ms}, value));
  return value;
}

TEST(DbDateTime, DaysSince1899WithTheTimeAsFraction) {
  EXPECT_EQ(Encode(1899, 12, 30), 0);
  EXPECT_EQ(Encode(1900, 1, 1), 2);
  EXPECT_DOUBLE_EQ(Encode(2013, 5, 1, 14, 30), 41395 + 14.5 / 24);
  // Before day 0 the time of day is a negative fraction.
  EXPECT_DOUBLE_EQ(Encode(1899, 12, 29, 6), -1.25);
  double value = 7;
  EXPECT_FALSE(EncodeDbDateTime({2013, 2, 29}, value));
  EXPECT_FALSE(EncodeDbDateTime({0, 1, 1}, value));
  EXPECT_FALSE(EncodeDbDateTime({2013, 1, 1, 24}, value));
  EXPECT_EQ(value, 7);

  TDbDateTimeParts p;
  ASSERT_TRUE(DecodeDbDateTime(-1.25, p));
  EXPECT_EQ(p.Year * 10000 + p.Month * 100 + p.Day, 18991229);
  EXPECT_EQ(p.Hour, 6);
  // 23:59:59.9996 rounds to the next midnight.
  ASSERT_TRUE(DecodeDbDateTime(Encode(2013, 12, 31, 23, 59, 59, 999) + 0.0006 / 86400, p));
  EXPECT_EQ(p.Year * 10000 + p.Month * 100 + p.Day, 20140101);
  EXPECT_EQ(p.Hour + p.Minute + p.Second + p.Millisecond, 0);
  EXPECT_FALSE(DecodeDbDateTime(std::nan(""), p));
  EXPECT_FALSE(DecodeDbDateTime(1e12, p));
}

// Every day of the years 1 to 9999 (and the days that do not exist) against
// the standard library's calendar.
TEST(DbDateTime, EveryCalendarDayEncodesAndDecodesBack) {
  for (int y = 1; y <= 9999; ++y) {
    for (int m = 1; m <= 12; ++m) {
      for (int d = 1; d <= 31; ++d) {
        const std::chrono::year_month_day ymd{std::chrono::year{y},
                                              std::chrono::month{static_cast<unsigned>(m)},
                                              std::chrono::day{static_cast<unsigned>(d)}};
        double value = -1e9;
        const bool encoded = EncodeDbDateTime({y, m, d}, value);
        ASSERT_EQ(encoded, ymd.ok()) << y << "-" << m << "-" << d;
        if (!encoded) continue;
        const auto expected =
            std::chrono::sys_days{ymd} -
            std::chrono::sys_days{std::chrono::year{1899} / std::chrono::December / 30};
        ASSERT_EQ(value, static_cast<double>(expected.count())) << y << "-" << m << "-" << d;
      }
    }
  }
}

TEST(DbDateTime, PlainDatesAreTheDaysThatExist) {
  for (const char* date : {"2013-05-01", "2019-12-28", "0001-01-01", "9999-12-31", "2012-02-29",
                           "2000-02-29", "1899-12-30", "1987-06-30"}) {
    EXPECT_TRUE(IsPlainDbDate(date)) << date;
    double value = 0;
    EXPECT_TRUE(ParseDbDateTime(date, value));
    EXPECT_EQ(DbDateTimeText(value, ftDate), date);
  }
  for (const char* text :
       {"2013-02-30", "1900-02-29", "0000-01-01", "2013-13-01", "2013-00-10", "2013-1-05",
        " 2013-05-01", "2013-05-01 ", "2013/05/01", "2013-05-0a", "", "2013-05-01T00:00"}) {
    EXPECT_FALSE(IsPlainDbDate(text)) << text;
  }
}

TEST(DbDateTime, ParsesTheIsoForms) {
  struct Case {
    const char* text;
    double expected;
  } cases[] = {
      {"2013-05-01", Encode(2013, 5, 1)},
      {"2013-5-1", Encode(2013, 5, 1)},
      {"2013-05-01 14:30:00", Encode(2013, 5, 1, 14, 30)},
      {"2013-05-01T14:30:00Z", Encode(2013, 5, 1, 14, 30)},
      {"2013-05-01 14:30:00.1234567+02", Encode(2013, 5, 1, 14, 30, 0, 123)},
      {"2013-05-01 14:30:00-05:30", Encode(2013, 5, 1, 14, 30)},
      {" 14:30 ", Encode(1899, 12, 30, 14, 30)},
      {"08:15:30.5", Encode(1899, 12, 30, 8, 15, 30, 500)},
      {"2013-05-01 23:59:59.9999", Encode(2013, 5, 2)},
  };
  for (const auto& c : cases) {
    double value = -1;
    EXPECT_TRUE(ParseDbDateTime(c.text, value)) << c.text;
    EXPECT_DOUBLE_EQ(value, c.expected) << c.text;
  }
  for (const char* bad : {"", "abc", "2013-02-30", "2013-05-01 25:00", "24:00:00", "2013-05-01 BC",
                          "infinity", "2013/05/01", "1:2", "20130501"}) {
    double value = 0;
    EXPECT_FALSE(ParseDbDateTime(bad, value)) << bad;
  }
}

TEST(DbDateTime, TextFollowsTheFieldType) {
  double value = Encode(2013, 5, 1, 14, 30, 5);
  EXPECT_EQ(DbDateTimeText(value, ftDateTime), "2013-05-01 14:30:05");
  EXPECT_EQ(DbDateTimeText(value, ftDate), "2013-05-01");
  EXPECT_EQ(DbDateTimeText(value, ftTime), "14:30:05");
  EXPECT_EQ(DbDateTimeText(Encode(2013, 5, 1, 0, 0, 0, 7), ftDateTime), "2013-05-01 00:00:00.007");
  EXPECT_EQ(DbDateTimeText(Encode(2013, 5, 1), ftDateTime), "2013-05-01 00:00:00");
  // Without a type the value decides.
  EXPECT_EQ(DbDateTimeText(Encode(2013, 5, 1), ftUnknown), "2013-05-01");
  EXPECT_EQ(DbDateTimeText(Encode(1899, 12, 30, 9), ftUnknown), "09:00:00");
  EXPECT_EQ(DbDateTimeText(value, ftUnknown), "2013-05-01 14:30:05");
  EXPECT_EQ(DbDateTimeText(-1.25, ftDateTime), "1899-12-29 06:00:00");
  EXPECT_EQ(DbDateTimeText(1e9, ftDateTime), "");
}

TEST(DbValueText, SharedTextForms) {
  EXPECT_EQ(DbFloatText(0.1), "0.1");
  EXPECT_EQ(DbFloatText(1234.5), "1234.5");
  EXPECT_EQ(DbFloatText(3), "3");
  EXPECT_EQ(DbFloatText(0.1 + 0.2), "0.30000000000000004");
  EXPECT_EQ(DbFloatText(1e20), "1e+20");
  EXPECT_EQ(DbFloatText(std::numeric_limits<double>::quiet_NaN()), "NAN");
  EXPECT_EQ(DbFloatText(-std::numeric_limits<double>::infinity()), "-INF");

  EXPECT_EQ(DbValueText(TDbNull{}, ftString), "");
  EXPECT_EQ(DbValueText(int64_t{-42}, ftInteger), "-42");
  EXPECT_EQ(DbValueText(true, ftBoolean), "1");
  EXPECT_EQ(DbValueText(false, ftBoolean), "0");
  EXPECT_EQ(DbValueText(TDbBytes{std::string("a\0b", 3)}, ftBlob), std::string("a\0b", 3));
  EXPECT_EQ(DbValueText(TDbDateTime{Encode(2013, 5, 1)}, ftDate), "2013-05-01");
}

TEST(DbValueText, FloatAndDateTimeConversions) {
  EXPECT_EQ(DbValueFloat(std::string(" -1.5e2 "), "f"), -150);
  EXPECT_EQ(DbValueFloat(int64_t{7}, "f"), 7);
  EXPECT_EQ(DbValueFloat(TDbNull{}, "f"), 0);
  EXPECT_EQ(DbValueDateTime(std::string("2013-05-01"), "d"), Encode(2013, 5, 1));
  EXPECT_EQ(DbValueDateTime(2.5, "d"), 2.5);
  try {
    DbValueFloat(std::string("1,5"), "price");
    ADD_FAILURE();
  } catch (const EMorvexError& e) {
    EXPECT_STREQ(e.what(), "\"1,5\" is not a number (field price)");
  }
  try {
    DbValueDateTime(std::string("yesterday"), "day");
    ADD_FAILURE();
  } catch (const EMorvexError& e) {
    EXPECT_STREQ(e.what(), "\"yesterday\" is not a date or time (field day)");
  }
  EXPECT_THROW(DbValueFloat(TDbBytes{"x"}, "b"), EMorvexError);
}

TEST(ExactDecimalText, KeepsEveryDigitInOneForm) {
  const struct {
    const char* text;
    const char* exact;
  } cases[] = {
      {"12.500", "12.5"},
      {"3.000", "3"},
      {"-0.50", "-0.5"},
      {"-0.000", "0"},
      {"007", "7"},
      {".5", "0.5"},
      {"-.25", "-0.25"},
      {"+4.", "4"},
      {" 42 ", "42"},
      {"0", "0"},
      {"123456789012345678.90", "123456789012345678.9"},
  };
  for (const auto& c : cases) {
    std::string out = "untouched";
    EXPECT_TRUE(ExactDecimalText(c.text, out)) << c.text;
    EXPECT_EQ(out, c.exact) << c.text;
  }
  for (const char* other : {"", ".", "-", "1e5", "NaN", "Infinity", "1,5", "1 2", "0x10", "--1"}) {
    std::string out = "untouched";
    EXPECT_FALSE(ExactDecimalText(other, out)) << other;
    EXPECT_EQ(out, "untouched") << other;
  }
  // A numeric beyond the range of a double stays text; the words a database
  // uses for what is not a number become doubles.
  EXPECT_EQ(std::get<std::string>(ExactNumericValue("1" + std::string(309, '0'))),
            "1" + std::string(309, '0'));
  EXPECT_TRUE(std::isnan(std::get<double>(ExactNumericValue("NaN"))));
  EXPECT_EQ(std::get<double>(ExactNumericValue("-Infinity")),
            -std::numeric_limits<double>::infinity());
}

template <typename T>
T Coerced(TDbValue value, TFieldType type) {
  TDbValue result = CoerceDbParameter({std::move(value), type}, 1);
  EXPECT_TRUE(std::holds_alternative<T>(result)) << "variant index " << result.index();
  return std::holds_alternative<T>(result) ? std::get<T>(result) : T{};
}

TEST(CoerceDbParameter, ConvertsToTheDeclaredClass) {
  EXPECT_EQ(Coerced<int64_t>(std::string(" 42 "), ftInteger), 42);
  EXPECT_EQ(Coerced<int64_t>(std::string("-7"), ftLargeint), -7);
  EXPECT_EQ(Coerced<int64_t>(3.0, ftSmallint), 3);
  // A fraction is never cut away.
  EXPECT_EQ(Coerced<double>(std::string("4.5"), ftInteger), 4.5);
  EXPECT_EQ(Coerced<double>(std::string("2"), ftFloat), 2);
  EXPECT_EQ(Coerced<double>(int64_t{2}, ftBCD), 2);
  // An exact decimal type keeps the digits of a text (a numeric field bound
  // into a nested statement).
  EXPECT_EQ(Coerced<std::string>(std::string("123456789012345678.90"), ftBCD),
            "123456789012345678.9");
  EXPECT_EQ(Coerced<std::string>(std::string("-1.50"), ftFMTBcd), "-1.5");
  EXPECT_EQ(Coerced<double>(std::string("1e3"), ftBCD), 1000);
  EXPECT_EQ(Coerced<bool>(std::string("TRUE"), ftBoolean), true);
  EXPECT_EQ(Coerced<bool>(std::string("0"), ftBoolean), false);
  EXPECT_EQ(Coerced<bool>(int64_t{5}, ftBoolean), true);
  EXPECT_EQ(Coerced<TDbDateTime>(std::string("2013-05-01 14:30"), ftDateTime).Value,
            Encode(2013, 5, 1, 14, 30));
  EXPECT_EQ(Coerced<TDbDateTime>(1.5, ftDate).Value, 1.5);
  EXPECT_EQ(Coerced<TDbBytes>(std::string("raw"), ftBlob).Bytes, "raw");
  EXPECT_EQ(Coerced<std::string>(int64_t{42}, ftString), "42");
  EXPECT_EQ(Coerced<std::string>(TDbDateTime{Encode(2013, 5, 1)}, ftMemo), "2013-05-01");
  EXPECT_EQ(Coerced<std::string>(std::string("x"), ftGuid), "x");
  // No type and Null stay as they are.
  EXPECT_EQ(Coerced<std::string>(std::string("42"), ftUnknown), "42");
  EXPECT_TRUE(std::holds_alternative<TDbNull>(CoerceDbParameter({TDbNull{}, ftInteger}, 1)));
}

TEST(CoerceDbParameter, TextThatDoesNotConvertIsAnError) {
  struct Case {
    TDbValue value;
    TFieldType type;
    const char* message;
  } cases[] = {
      {std::string("abc"), ftInteger, "Parameter 3: \"abc\" is not a number"},
      {std::string(""), ftFloat, "Parameter 3: \"\" is not a number"},
      {std::string("maybe"), ftBoolean, "Parameter 3: \"maybe\" is not a boolean value"},
      {std::string("01.05.2013"), ftDate, "Parameter 3: \"01.05.2013\" is not a date or time"},
      {TDbBytes{"x"}, ftInteger, "Parameter 3: a binary value is not a number"},
  };
  for (const auto& c : cases) {
    try {
      CoerceDbParameter({c.value, c.type}, 3);
      ADD_FAILURE() << c.message;
    } catch (const EMorvexError& e) {
      EXPECT_STREQ(e.what(), c.message);
    }
  }
}

}  // namespace
}  // namespace morvex
