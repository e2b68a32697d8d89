#include "templates/expr_parser.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "templates/condition.h"
#include "templates/expr_error.h"

namespace morvex {
namespace {

// One condition and either its result text or the evaluator's error text.
struct Case {
  std::string Expression;
  std::string Result;
  std::string Error = {};
};

Case Fails(std::string expression, std::string error) {
  return Case{std::move(expression), "", std::move(error)};
}

std::string Repeat(const std::string& part, int count) {
  std::string text;
  for (int i = 0; i < count; ++i) text += part;
  return text;
}

const std::string kMath = "Error in math expression: ";
const std::string kTooFew =
    "Error in math expression: Syntax error: function or operand has too few arguments";
const std::string kTooMany =
    "Error in math expression: Syntax error: function or operand has too many arguments";
const std::string kNested =
    "Error in math expression: expression exceeds the nesting depth limit (256 levels)";
const std::string kTooLong =
    "Error in math expression: expression exceeds the expression size limit (1024 operations in "
    "a row)";
const std::string kZeroDivide = "Floating point division by zero";
const std::string kInvalid = "Invalid floating point operation";
const std::string kOverflow = "Floating point overflow";

TEST(ExpressionParser, EvaluatesConditionsToTheirResultText) {
  const std::vector<Case> cases = {
      // Result texts: boolean operators give True/False, the rest "%.10g".
      {"5 = 5", "True"},
      {"5 = 6", "False"},
      {"1", "1"},
      {"3 - 2", "1"},
      {"2", "2"},
      {"yes", "nan"},  // a variable, never assigned
      {"-yes", "-nan"},
      {"x = 1", "False"},
      {"x <> 1", "False"},
      {"x < 1", "True"},  // "<" is "not x >= y", which NaN does not satisfy
      {"2 or 1", "3"},    // boolean operator, but neither near 0 nor near 1
      {"0.1 + 0.2", "0.3"},
      {"123456789012", "1.23456789e+11"},
      {"0.99999999999", "1"},
      {"-0", "-0"},

      // Number forms.
      {".5", "0.5"},
      {"1.5e3", "1500"},
      {"2E-3", "0.002"},
      {"1e-999", "0"},
      Fails("1e999", kOverflow),
      Fails("5.", kMath + ". is an unknown operator"),
      {"#ff = 255", "True"},
      {"#FF", "255"},
      {"#7fffffff", "2147483647"},
      {"#ffffffff", "-1"},
      {"#00000000ff", "255"},
      Fails("#100000000", kMath + "#100000000 is not a valid number"),
      Fails("#", kMath + "# is not a valid number"),

      // Operators.
      {"x := 3", "3"},
      Fails("1 := 2", kMath + "only a variable can be assigned"),
      {"++4", "5"},
      {"4 ++", "5"},
      {"--5", "4"},
      {"5!", "120"},
      {"0!", "1"},
      {"1.4!", "1"},
      {"3.5!", "24"},  // rounded to 4
      {"170! > 7.25e306", "True"},
      Fails("171!", kOverflow),
      Fails("1e300!", kOverflow),
      {"50%", "0.5"},
      {"2 in 2", "True"},
      {"2 in 3", "False"},
      {"2 ^ 0.5", "1.414213562"},
      {"2 ^ 3.4", "10.55606329"},
      {"(-8) ^ 3", "-512"},
      {"4 ^ 5e-1", "1"},  // a literal without decimal point: exponent rounded (0.5 to 0)
      {"4 ^ 0.5", "2"},
      {"2 ^ #a", "1024"},
      Fails("(-8) ^ (1/3)", kInvalid),
      Fails("0 ^ -1", kZeroDivide),
      {"6 * 7", "42"},
      {"7 / 2", "3.5"},
      Fails("1 / 0", kZeroDivide),
      Fails("0 / 0", kInvalid),
      {"x / 0", "nan"},
      {"7 div 2", "3"},
      {"-7 div 2", "-3"},
      {"7.5 div 2", "4"},  // 7.5 rounds to 8
      Fails("7 div 0", "Division by zero"),
      Fails("-9223372036854775808 div -1", "Integer overflow"),
      Fails("9223372036854775808 div 1", kInvalid),
      {"-7 mod 2", "-1"},
      {"7 mod -2", "1"},
      Fails("7 mod 0.4", "Division by zero"),
      {"1 + 2", "3"},
      {"1 - 2", "-1"},
      Fails("1e308 + 1e308", kOverflow),
      {"2 > 1", "True"},
      {"1 > 1", "False"},
      {"1 >= 1", "True"},
      {"0 >= 1e-31", "True"},
      {"1 <= 1", "True"},
      {"2 <= 1", "False"},
      {"1 < 2", "True"},
      {"1 < 1", "False"},
      {"1 <> 2", "True"},
      {"1e-31 <> 0", "False"},
      {"1e-31 = 0", "True"},
      {"1e-29 = 0", "False"},
      {"not 0", "True"},
      {"not 1", "False"},
      {"not 2", "3"},
      {"not 256", "True"},
      {"not (0 - 1)", "254"},
      {"1 not", "False"},
      {"5 or 2", "7"},
      {"2.5 or 0", "2"},
      {"3.5 or 0", "4"},
      {"6 and 3", "2"},
      {"1 and 1", "True"},
      {"6 xor 3", "5"},
      {"1 xor 1", "False"},
      Fails("x or 1", kInvalid),
      Fails("1e19 and 1", kInvalid),
      Fails("!=", kMath + "!= is an unknown operator"),
      Fails("5!=5", kMath + "!= is an unknown operator"),
      Fails("1 && 1", kMath + "&& is an unknown operator"),
      Fails("1 == 1", kMath + "== is an unknown operator"),

      // Functions with their arities.
      {"exp(1)", "2.718281828"},
      Fails("exp(1000)", kOverflow),
      {"if(1; 2; 3)", "2"},
      {"if(0; 2; 3)", "3"},
      {"if(256; 2; 3)", "3"},  // only the low 8 bits count
      {"if(0.4; 2; 3)", "3"},
      Fails("if(x; 2; 3)", kInvalid),
      Fails("if(1; 2)", kTooFew),
      {"randg(5; 0)", "5"},
      {"randg(0; 1) < 100", "True"},
      {"sqr(3)", "9"},
      Fails("sqr(1e200)", kOverflow),
      {"sqrt(16)", "4"},
      Fails("sqrt(-1)", kInvalid),
      {"abs(-2.5)", "2.5"},
      {"round(2.5)", "2"},
      {"round(3.5)", "4"},
      {"round(-2.5)", "-2"},
      {"trunc(-2.7)", "-2"},
      {"ln(exp(2))", "2"},
      Fails("ln(0)", kInvalid),
      {"log10(1000)", "3"},
      Fails("log10(-1)", kInvalid),
      {"logN(2; 8)", "3"},
      Fails("logn(1; 2)", kZeroDivide),
      {"power(2; 10)", "1024"},
      {"pow(4; 0.5)", "2"},
      {"intpower(2; 3.4)", "8"},
      {"intpower(1; 1e300)", "1"},
      Fails("intpower(2; 1e300)", kOverflow),
      {"max(1; 2)", "2"},
      {"max(2; 1)", "2"},
      {"min(1; 2)", "1"},
      {"min(2; 1)", "1"},
      {"sin(1)", "0.8414709848"},
      {"cos(0)", "1"},
      {"tan(1)", "1.557407725"},
      {"arcsin(1)", "1.570796327"},
      Fails("arcsin(2)", kInvalid),
      {"arccos(0)", "1.570796327"},
      {"arctan2(1; -1)", "2.35619449"},
      {"arctan(1)", "0.7853981634"},
      {"sinh(1)", "1.175201194"},
      {"cosh(1)", "1.543080635"},
      {"tanh(1)", "0.761594156"},
      {"arcsinh(1)", "0.881373587"},
      {"arccosh(2)", "1.316957897"},
      Fails("arccosh(0)", kInvalid),
      {"arctanh(0.5)", "0.5493061443"},
      Fails("arctanh(1)", kOverflow),
      {"degtorad(180)", "3.141592654"},
      {"radtodeg(pi)", "180"},
      {"random >= 0 and random < 1", "True"},
      Fails("random(1)", kMath + "Missing operand between constant/variable and ("),
      Fails("max(1)", kTooFew),
      Fails("max(1; 2; 3)", kTooMany),
      Fails("max(1;)", kTooFew),
      Fails("sin", kTooFew),
      Fails("sin 1", kTooFew),
      {"pi", "3.141592654"},
      {"pi = 3.1415926535897932385", "True"},

      // Strings: lower-cased first, compared by UTF-16 code units.
      {"'ABC' = 'abc'", "True"},
      {"'b' in 'a,b,c'", "True"},
      {"'b' in 'a, b'", "False"},
      {"'' in 'a,,b'", "True"},
      {"'a' in 'a'", "True"},
      {"'ab' in 'a,b'", "False"},
      {"'abc' < 'abd'", "True"},
      {"'b' > 'a'", "True"},
      {"'a' <= 'a'", "True"},
      {"'a' >= 'b'", "False"},
      {"'a' <> 'b'", "True"},
      {"'\xEF\xBC\xA1' > '\xF0\x9F\x98\x80'", "True"},  // U+FF21 after a surrogate pair
      {"'a;b(' = 'a;b('", "True"},
      {"pos('b'; 'abc')", "2"},
      {"pos('z'; 'abc')", "0"},
      {"pos(''; 'abc')", "0"},
      {"pos('B'; '\xF0\x9F\x98\x80"
       "b')",
       "3"},
      {"pos('c'; 'abc') = 3", "True"},
      // Two quotes in a row inside a string are one quote of its text.
      {"'o''brien' = 'O''Brien'", "True"},
      {"'x'' = ''x' = 'x'' = ''x'", "True"},
      {"'x'' = ''x' = 'x'", "False"},
      {"pos(''''; 'a''b')", "2"},
      {"'''' in 'a,'''", "True"},
      {"'' = ''", "True"},
      Fails("'a''", kMath + "unterminated string 'a''"),
      Fails("pos('b'; x)", kMath + "pos takes two string literals"),
      Fails("pos('b')", kMath + "pos takes two string literals"),
      Fails("'a' + 'b'", "+ is not a valid string operand"),
      Fails("'a' and 'b'", "and is not a valid string operand"),
      Fails("'a' = 1", kMath + "'a' is not a number"),
      Fails("'a'", kMath + "'a' is not a number"),
      Fails("'abc", kMath + "unterminated string 'abc"),

      // Signs and `not` runs where an operand is expected.
      {"- -5", "5"},
      {"- - -5", "-5"},
      {"+-+-2", "2"},
      {"2 * -3", "-6"},
      {"5 - -3", "8"},
      {"-(2)", "-2"},
      {"-2 ^ 2", "4"},  // the sign binds tighter than the power
      {"2 ^ -1", "0.5"},
      {"-3!", "1"},  // (-3)!: equal priorities apply from left to right
      {"not not 1", "1"},
      {"not not not 0", "True"},
      {"(not 0)", "True"},
      Fails("not -1", kTooFew),  // no sign after a one-operand operator
      Fails("1 + not 0", kTooFew),
      Fails("5--3", kMath + "Syntax error in expression 5--3"),

      // Priorities and left-to-right grouping.
      {"1 - 2 - 3", "-4"},
      {"100 / 10 / 5", "2"},
      {"2 ^ 3 ^ 2", "64"},
      {"2 + 3 * 4", "14"},
      {"(2 + 3) * 4", "20"},
      {"2 * 3 ^ 2", "18"},
      {"2 + 3!", "8"},
      {"3! * 2", "12"},
      {"1 + 50%", "1.5"},
      {"not 1 = 2", "True"},
      {"1 = 1 and not 2 = 3", "True"},
      {"1 < 2 = 1", "True"},
      {"1 + 2 = 3 or 0", "True"},
      {"x := 2 + 3", "5"},
      {"(x := 2) * x", "4"},
      {"((((7))))", "7"},
      {"max(1; min(4; 3)) + sqr(2)", "7"},

      // Constant subtrees are folded, so their faults count even where an
      // `if` would not take them.
      Fails("if(1; 2; 1/0)", kZeroDivide),
      Fails("if((x := 1); 2; 1/0)", kZeroDivide),

      // The error texts.
      Fails("(1 + 2", "Unequal brackets"),
      Fails("1)", "Unequal brackets"),
      Fails("1 +", kTooFew),
      Fails("-", kTooFew),
      Fails("1;2", kMath + "Syntax error in expression 1;2"),
      Fails("1 2", kMath + "1 two space limited variables/constants"),
      Fails("pi X", kMath + "pi two space limited variables/constants"),
      Fails("2 sin(1)", kMath + "2 two space limited variables/constants"),
      Fails("Foo(1)", kMath + "foo is an unknown function"),
      Fails("()", kMath + "Empty brackets ()"),
      Fails("max()", kMath + "Empty brackets ()"),
      Fails("(1)(2)", kMath + "Missing operand between )("),
      Fails("(1) 2", kMath + "Missing operand between ) and constant/variable"),
      Fails("max(1; 2) sin(1)", kMath + "Missing operand between ) and constant/variable"),
      Fails("1 (2)", kMath + "Missing operand between constant/variable and ("),
      Fails("pi(2)", kMath + "Missing operand between constant/variable and ("),
      Fails(")1 + 2(", kMath + "Missing operand between ) and constant/variable"),
      Fails("1) + (2", kMath + "Syntax error in expression 1) + (2"),
      Fails("max(1, 2)", kMath + ", is an unknown operator"),
      Fails("", kMath + "empty expression"),
      Fails(" \t\r\n", kMath + "empty expression"),

      // Nesting is bounded; long flat texts are fine.
      {Repeat("(", 20000) + "1" + Repeat(")", 20000), "1"},
      {Repeat("not ", 20001) + "0", "True"},
      {Repeat("- ", 20001) + "1", "-1"},
      {Repeat("(1+", 200) + "1" + Repeat(")", 200), "201"},
      Fails(Repeat("(1+", 5000) + "1" + Repeat(")", 5000), kNested),
      Fails(Repeat("-(", 5000) + "1" + Repeat(")", 5000), kNested),
      Fails(Repeat("1+", 20000) + "1", kTooLong),
      {Repeat("1+", 500) + "1", "501"},
      Fails(Repeat("(", 20000) + "1", "Unequal brackets"),
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Expression.substr(0, 60));
    try {
      const std::string result = EvaluateExpressionText(c.Expression);
      EXPECT_TRUE(c.Error.empty()) << "expected an error, got " << result;
      EXPECT_EQ(result, c.Result);
    } catch (const EParserException& e) {
      EXPECT_EQ(e.what(), c.Error);
    }
    EXPECT_EQ(EvaluateCondition(c.Expression),
              c.Error.empty() && (c.Result == "1" || c.Result == "True"));
  }
}

TEST(ExpressionParser, ResultTextFollowsTheGeneralFormat) {
  EXPECT_EQ(ExpressionResultText(1e21, false), "1e+21");
  EXPECT_EQ(ExpressionResultText(-0.0, false), "-0");
  EXPECT_EQ(ExpressionResultText(std::numeric_limits<double>::quiet_NaN(), false), "nan");
  EXPECT_EQ(ExpressionResultText(std::numeric_limits<double>::infinity(), false), "inf");
  EXPECT_EQ(ExpressionResultText(1.05, false), "1.05");
  EXPECT_EQ(ExpressionResultText(1.05, true), "True");
  EXPECT_EQ(ExpressionResultText(0.9, true), "0.9");  // the bounds are exclusive
  EXPECT_EQ(ExpressionResultText(-0.05, true), "False");
  EXPECT_EQ(ExpressionResultText(-0.1, true), "-0.1");
  EXPECT_EQ(ExpressionResultText(std::numeric_limits<double>::quiet_NaN(), true), "nan");
}

TEST(ExpressionParser, VariablesKeepTheirValuesAcrossExpressions) {
  TExpressionParser parser;
  EXPECT_TRUE(std::isnan(parser.VariableValue("x")));
  EXPECT_EQ(parser.Evaluate(parser.AddExpression("x := 5")), 5);
  EXPECT_EQ(parser.Evaluate(parser.AddExpression("++x")), 6);
  EXPECT_EQ(parser.Evaluate(parser.AddExpression("x--")), 5);
  EXPECT_EQ(parser.VariableValue("x"), 5);
  const int twice = parser.AddExpression("X * 2");
  EXPECT_EQ(parser.Evaluate(twice), 10);
  parser.SetVariable("x", 1.5);
  EXPECT_EQ(parser.Evaluate(twice), 3);
  EXPECT_EQ(parser.EvaluateAsText(twice), "3");
  EXPECT_THROW(parser.SetVariable("sin", 1), EParserException);

  // Faults in constant parts surface when the text is read; the rest when
  // it is evaluated.
  EXPECT_THROW(parser.AddExpression("x + 1/0"), EParserException);
  const int late = parser.AddExpression("(y := 0) / y");
  EXPECT_THROW(parser.Evaluate(late), EParserException);

  // Random draws are never folded.
  const int draw = parser.AddExpression("random + 0 * 1");
  EXPECT_NE(parser.Evaluate(draw), parser.Evaluate(draw));
}

TEST(ExpressionParser, KnowsTheDescriptionsOfItsWords) {
  TExpressionParser parser;
  EXPECT_EQ(parser.Description("pi"), "pi = 3.1415926535897932385");
  EXPECT_EQ(parser.Description("logn"), "logarithm base x of y");
  EXPECT_EQ(parser.Description("if"), "if x=True(or 1) then y else z");
  EXPECT_EQ(parser.Description("randg"), "draw from normal distrib. (mean=x, sd =y)");
  EXPECT_EQ(parser.Description("cosh"), "hyperbolic sine of an angle in rad");
  EXPECT_EQ(parser.Description("arccosh"), "inverse hyperbolic cosine in rad");
  EXPECT_EQ(parser.Description("pos"), "Position in of substring in string");
  EXPECT_EQ(parser.Description("random"), "random number between 0 and 1");
  EXPECT_EQ(parser.Description("nothing"), "");
}

TEST(EvaluateCondition, NamesTheLimitThatMadeItFalse) {
  std::string limit = "left over";
  EXPECT_TRUE(EvaluateCondition(Repeat("(1+", 200) + "1" + Repeat(")", 200) + " = 201", limit));
  EXPECT_EQ(limit, "");
  EXPECT_FALSE(EvaluateCondition(Repeat("-(", 300) + "1" + Repeat(")", 300) + " = 1", limit));
  EXPECT_EQ(limit, "nesting depth limit (256 levels)");
  EXPECT_FALSE(EvaluateCondition(Repeat("1+", 1100) + "1 > 0", limit));
  EXPECT_EQ(limit, "expression size limit (1024 operations in a row)");
  // Ordinary refusals and false results name no limit.
  for (const std::string text : {"1 / 0", "max(1, 2)", "5 = 6", "(1", ""}) {
    EXPECT_FALSE(EvaluateCondition(text, limit)) << text;
    EXPECT_EQ(limit, "") << text;
  }
}

TEST(EvaluateCondition, IsTrueOnlyForOneOrTrue) {
  EXPECT_TRUE(EvaluateCondition("1"));
  EXPECT_TRUE(EvaluateCondition("  5 = 5  "));
  EXPECT_TRUE(EvaluateCondition("3 - 2"));
  EXPECT_FALSE(EvaluateCondition("2"));
  EXPECT_FALSE(EvaluateCondition("0"));
  EXPECT_FALSE(EvaluateCondition("yes"));
  EXPECT_FALSE(EvaluateCondition("True"));  // a variable, like any other name
  EXPECT_FALSE(EvaluateCondition(""));
  EXPECT_FALSE(EvaluateCondition("   "));
  EXPECT_FALSE(EvaluateCondition("1 / 0"));
  EXPECT_FALSE(EvaluateCondition(std::string("1\0", 2) + "+"));
}

}  // namespace
}  // namespace morvex
