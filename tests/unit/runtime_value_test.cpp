// Values and their conversions: how numbers show, how texts become numbers,
// trimming, emptiness, dates, the substring test, equality and arithmetic.
#include <cmath>
#include <functional>
#include <limits>

#include "runtime_fixture.h"

namespace runtime_test {
namespace {

using rt::Value;

std::string Str(const Value& number) { return rt::STR(number).Text(); }
std::string StrOfVal(const std::string& text) { return rt::STR(rt::VAL(text)).Text(); }
std::string Padded(const std::string& text, size_t field) {
  return std::string(field - text.size(), ' ') + text;
}

using ValueTest = RuntimeTest;

TEST_F(ValueTest, WholeNumbersShowTenWideAndOverflowToStars) {
  EXPECT_EQ(Str(12), "        12");
  EXPECT_EQ(Str(-1), "        -1");
  EXPECT_EQ(Str(0), "         0");
  EXPECT_EQ(rt::LTRIM(rt::STR(2013)).Text(), "2013");
  EXPECT_EQ(Str(2147483647), "2147483647");
  EXPECT_EQ(Str(std::numeric_limits<int32_t>::min()), "**********");
}

TEST_F(ValueTest, ValTakesWidthAndDecimalsFromTheText) {
  struct Case {
    const char* text;
    double value;
    const char* shown;  // STR of the result
  };
  const Case cases[] = {
      {"15", 15, "15"},
      {" 15", 15, " 15"},
      {"015", 15, " 15"},
      {"15abc", 15, "   15"},
      {"15.50", 15.5, "15.50"},
      {"2.", 2, " 2"},
      {".5", 0.5, "0.5"},
      {"-.5", -0.5, "-0.5"},
      {"-1.5", -1.5, "-1.5"},
      {"1.2.3", 1.2, "1.200"},  // the decimals count every character after the first "."
      {"- 5", 0, "  0"},        // nothing but digits may follow the sign
      {"1e3", 1, "  1"},
      {"+7", 7, " 7"},
      {"\t\r\n 8", 8, "    8"},
      {"", 0, "         0"},      // no width: 10
      {"abc", 0, "  0"},
      {"-0", 0, " 0"},
      {"12345678901", 12345678901.0, "12345678901"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    Value number = rt::VAL(c.text);
    ASSERT_TRUE(number.IsNumber());
    EXPECT_DOUBLE_EQ(number.AsDouble(), c.value);
    EXPECT_EQ(Str(number), c.shown);
  }
  EXPECT_FALSE(std::signbit(rt::VAL("-0").AsDouble()));
  // A width of 100 or more falls back to 10, or 20 for large values.
  EXPECT_EQ(StrOfVal("7" + std::string(99, ' ')), "         7");
  EXPECT_EQ(rt::VAL("99999999999" + std::string(95, ' ')).AsNumber().width, 20);
}

TEST_F(ValueTest, TheMonitorsMinutesComeOutAsTyped) {
  for (const char* text : {"15", " 15", "015", "15abc"}) {
    EXPECT_EQ(rt::LTRIM(rt::STR(rt::VAL(text))).Text(), "15") << text;
  }
  EXPECT_EQ(rt::LTRIM(rt::STR(rt::VAL("15.50"))).Text(), "15.50");
  EXPECT_EQ(rt::LTRIM(rt::STR(rt::VAL("2."))).Text(), "2");
  EXPECT_EQ(rt::LTRIM(rt::STR(rt::VAL("2.5"))).Text(), "2.5");
  EXPECT_TRUE(rt::VAL(".5") < Value(1));
}

TEST_F(ValueTest, DecimalsRoundHalfAwayFromZero) {
  EXPECT_EQ(Str(rt::Number{2.675, 1, 2, false}), "2.68");
  // Halves that binary holds just below them still round as their digits say.
  EXPECT_EQ(Str(rt::Number{1.005, 1, 2, false}), "1.01");
  EXPECT_EQ(Str(rt::Number{1.015, 1, 2, false}), "1.02");
  EXPECT_EQ(Str(rt::Number{-2.5, 3, 0, false}), " -3");
  EXPECT_EQ(Str(rt::Number{-0.001, 1, 2, false}), "0.00");  // no "-0.00"
  EXPECT_EQ(Str(rt::Number{123.456, 2, 2, false}), "*****");
}

TEST_F(ValueTest, SumsAndProductsCarryWidthAndDecimals) {
  // Whole numbers stay whole within 32 bits, else become floating with 2 decimals.
  EXPECT_EQ(Str(Value(40) + Value(2)), "        42");
  EXPECT_EQ(Str(Value(2147483647) + Value(1)), "2147483648.00");
  EXPECT_EQ(Str(Value(-1000000000) - Value(1)), "**********");  // still whole, 11 characters
  // 10^10 and more, or -10^9 and less: 20 wide.
  EXPECT_EQ(Str(Value(100000) * Value(100000)), Padded("10000000000.00", 23));
  EXPECT_EQ(Str(Value(-2147483647) - Value(2)), Padded("-2147483649.00", 23));
  // A floating operand: sums keep the larger decimals, products add them.
  EXPECT_EQ(Str(rt::VAL("1.5") + rt::VAL("2.25")), "         3.75");
  EXPECT_EQ(Str(rt::VAL("1.5") * rt::VAL("2.25")), "         3.375");
  EXPECT_EQ(Str(rt::VAL("1.5") * Value(60) * Value(1000)), Padded("90000.0", 12));
  // A tick count near the 32-bit wrap plus minutes loses nothing.
  Value deadline = Value(4294967000.0) + (rt::VAL("10") + Value(1)) * Value(60) * Value(1000);
  EXPECT_DOUBLE_EQ(deadline.AsDouble(), 4295627000.0);
  EXPECT_EQ((Value("AB") + Value("CD")).Text(), "ABCD");
}

TEST_F(ValueTest, TrimmingRemovesOnlyItsOwnBlanks) {
  EXPECT_EQ(rt::TRIM("ab \t").Text(), "ab \t");
  EXPECT_EQ(rt::TRIM("ab  ").Text(), "ab");
  EXPECT_EQ(rt::LTRIM("\t\r\n ab ").Text(), "ab ");
  EXPECT_EQ(rt::ALLTRIM(" \tab\r\n").Text(), "ab\r\n");
  EXPECT_EQ(rt::ALLTRIM(" full  ").Text(), "full");
  EXPECT_EQ(rt::UPPER("Partial \xE9\xFFz").Text(), "PARTIAL \xE9\xFFZ");
}

TEST_F(ValueTest, EmptinessByKind) {
  for (const Value& empty : {rt::NIL, Value(""), Value(" \t \r\n"), Value(0), rt::VAL("abc"),
                             Value(false), Value(rt::Date{}), Value(rt::Array{})}) {
    EXPECT_TRUE(rt::EMPTY(empty)) << rt::internal::TextForm(empty);
  }
  for (const Value& full : {Value("0"), Value(" x "), Value(-1), Value(true),
                            Value(rt::Date::FromCalendar(2026, 12, 7)), Value(rt::Array{rt::NIL}),
                            Value(rt::Block([](rt::Arguments) { return Value(); }))}) {
    EXPECT_FALSE(rt::EMPTY(full)) << rt::internal::TextForm(full);
  }
  EXPECT_EQ(rt::LEN(std::string("a\0b", 3)), Value(3));
  EXPECT_EQ(rt::LEN(rt::DIRECTORY("nothing-here*")), Value(0));
}

TEST_F(ValueTest, DatesAndTimesInLocalTime) {
  test.clock.FixTime({2026, 12, 7, 1, 22, 41, 5, 0}, {2026, 12, 7, 1, 23, 41, 5, 0});
  EXPECT_EQ(rt::DTOC(rt::DATE()).Text(), "12/07/26");
  EXPECT_EQ(rt::TIME().Text(), "23:41:05");
  EXPECT_EQ((Value("COMPLETED ON ") + rt::DTOC(rt::DATE()) + " @ " + rt::TIME()).Text(),
            "COMPLETED ON 12/07/26 @ 23:41:05");
  EXPECT_EQ(rt::DTOC(rt::Date{}).Text(), "  /  /  ");
  EXPECT_EQ(rt::DTOC(rt::Date::FromCalendar(2000, 2, 29)).Text(), "02/29/00");
  EXPECT_TRUE(rt::Date::FromCalendar(2001, 2, 29).IsEmpty());
  rt::SET(rt::DATE_FORMAT, "dd.mm.yyyy");
  EXPECT_EQ(rt::DTOC(rt::Date::FromCalendar(1999, 1, 31)).Text(), "31.01.1999");
}

TEST_F(ValueTest, SubstringTestAndExactEquality) {
  for (const char* piece : {"FULL", "PARTIAL", "L|P", "FULL|PARTIAL"}) {
    EXPECT_TRUE(rt::IN(piece, "FULL|PARTIAL")) << piece;
  }
  for (const char* other : {"", "PARTIALS", "full", "X"}) {
    EXPECT_FALSE(rt::IN(other, "FULL|PARTIAL")) << other;
  }
  EXPECT_TRUE(rt::NIL == rt::NIL);
  EXPECT_FALSE(rt::NIL == Value(""));
  EXPECT_FALSE(Value("PARTIAL ") == Value("PARTIAL"));
  EXPECT_TRUE(Value(0.1) + Value(0.2) == Value(0.3));  // numbers agree to 8 decimals
}

TEST_F(ValueTest, WrongKindsRaiseTheBaseArgumentError) {
  RecordErrors("substitute");
  struct Case {
    std::function<Value()> call;
    int subCode;
    const char* operation;
  };
  const Case cases[] = {
      {[] { return rt::VAL(5); }, 1098, "VAL"},
      {[] { return rt::STR("5"); }, 1099, "STR"},
      {[] { return rt::TRIM(rt::NIL); }, 1100, "TRIM"},
      {[] { return rt::LTRIM(1); }, 1101, "LTRIM"},
      {[] { return rt::UPPER(true); }, 1102, "UPPER"},
      {[] { return rt::LEN(7); }, 1111, "LEN"},
      {[] { return rt::DTOC("12/07/26"); }, 1118, "DTOC"},
      {[] { return rt::ALLTRIM(rt::Array{}); }, 2022, "ALLTRIM"},
      {[] { return Value(rt::IN(rt::NIL, "x")); }, 1109, "$"},
      {[] { return Value("a") + Value(1); }, 1081, "+"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.operation);
    raised.clear();
    Value result = c.call();
    ASSERT_EQ(raised.size(), 1u);
    EXPECT_EQ(raised[0].genCode, 1);
    EXPECT_EQ(raised[0].description, "Argument error");
    EXPECT_EQ(raised[0].subSystem, "BASE");
    EXPECT_EQ(raised[0].subCode, c.subCode);
    EXPECT_EQ(raised[0].operation, c.operation);
    EXPECT_EQ(raised[0].osCode, 0u);
    if (std::string(c.operation) != "$") {
      EXPECT_EQ(result, Value("substitute"));
    }
  }
}

TEST_F(ValueTest, IntegerArgumentsCutFractionsAndKeepLow32Bits) {
  EXPECT_EQ(rt::ToInt32(Value(-2.9)), -2);
  EXPECT_EQ(rt::ToInt32(Value(4294967295.0)), -1);  // a DWORD argument of all ones
  EXPECT_EQ(rt::ToInt32("12"), 0);
  EXPECT_EQ(rt::ToInt32(Value(std::numeric_limits<double>::quiet_NaN())), 0);
}

}  // namespace
}  // namespace runtime_test
