#include "templates/expr_functions.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>
#include <string>

#include "templates/expr_error.h"

namespace morvex {

namespace {

using Args = std::span<const double>;

[[noreturn]] void Fault(const char* message) { throw EParserException(message); }

constexpr const char* kOverflow = "Floating point overflow";
constexpr const char* kInvalid = "Invalid floating point operation";
constexpr const char* kZeroDivide = "Floating point division by zero";

bool AnyNaN(Args a) {
  for (double x : a) {
    if (std::isnan(x)) return true;
  }
  return false;
}

double Checked(double result, Args a) {
  if (std::isinf(result)) Fault(kOverflow);
  if (std::isnan(result) && !AnyNaN(a)) Fault(kInvalid);
  return result;
}

int64_t RoundToInteger(double x) {
  if (std::isnan(x)) Fault(kInvalid);
  const double r = std::nearbyint(x);
  constexpr double kLimit = 9223372036854775808.0;  // 2^63
  if (!(r >= -kLimit && r < kLimit)) Fault(kInvalid);
  return static_cast<int64_t>(r);
}

double Add(Args a) { return Checked(a[0] + a[1], a); }
double Subtract(Args a) { return Checked(a[0] - a[1], a); }
double Multiply(Args a) { return Checked(a[0] * a[1], a); }

double Divide(Args a) {
  if (a[1] == 0 && !std::isnan(a[0])) Fault(a[0] == 0 ? kInvalid : kZeroDivide);
  return Checked(a[0] / a[1], a);
}

double RaiseToPower(double x, double y) {
  if (x == 0 && y < 0) Fault(kZeroDivide);
  const double operands[] = {x, y};
  return Checked(std::pow(x, y), operands);
}

double Power(Args a) { return RaiseToPower(a[0], a[1]); }

// std::pow is exact for whole exponents and takes constant time however
// large the exponent is.
double IntegerPower(Args a) {
  if (std::isnan(a[1])) Fault(kInvalid);
  return RaiseToPower(a[0], std::nearbyint(a[1]));
}

double Factorial(Args a) {
  if (std::isnan(a[0])) Fault(kInvalid);
  const double n = std::nearbyint(a[0]);
  if (n <= 1.1) return 1;
  if (n > 170) Fault(kOverflow);  // 171! exceeds the largest double
  double result = 1;
  for (int k = static_cast<int>(n); k > 1; --k) result *= k;
  return result;
}

double Percent(Args a) { return a[0] * 0.01; }
double Negate(Args a) { return -a[0]; }
double Identity(Args a) { return a[0]; }
double Increment(Args a) { return Checked(a[0] + 1, a); }
double Decrement(Args a) { return Checked(a[0] - 1, a); }
double AssignedValue(Args a) { return a[1]; }

// The comparisons allow for 1E-30 and never raise; with a NaN operand they
// give what their formula gives.
double Greater(Args a) { return a[0] > a[1] ? 1 : 0; }
double GreaterOrEqual(Args a) { return a[0] + 1E-30 >= a[1] ? 1 : 0; }
double LessOrEqual(Args a) { return a[1] + 1E-30 >= a[0] ? 1 : 0; }
double Less(Args a) { return !(a[0] + 1E-30 >= a[1]) ? 1 : 0; }
double NotEqual(Args a) { return std::fabs(a[0] - a[1]) > 1E-30 ? 1 : 0; }
double Equal(Args a) { return std::fabs(a[0] - a[1]) < 1E-30 ? 1 : 0; }

double IntegerDivide(Args a) {
  const int64_t x = RoundToInteger(a[0]);
  const int64_t y = RoundToInteger(a[1]);
  if (y == 0) Fault("Division by zero");
  if (x == std::numeric_limits<int64_t>::min() && y == -1) Fault("Integer overflow");
  return static_cast<double>(x / y);
}

double Modulo(Args a) {
  const int64_t x = RoundToInteger(a[0]);
  const int64_t y = RoundToInteger(a[1]);
  if (y == 0) Fault("Division by zero");
  if (y == -1) return 0;  // x % -1 overflows for the smallest x
  return static_cast<double>(x % y);
}

double Not(Args a) { return static_cast<double>((RoundToInteger(a[0]) & 0xFF) ^ 1); }
double Or(Args a) { return static_cast<double>(RoundToInteger(a[0]) | RoundToInteger(a[1])); }
double And(Args a) { return static_cast<double>(RoundToInteger(a[0]) & RoundToInteger(a[1])); }
double Xor(Args a) { return static_cast<double>(RoundToInteger(a[0]) ^ RoundToInteger(a[1])); }

double If(Args a) { return (RoundToInteger(a[0]) & 0xFF) != 0 ? a[1] : a[2]; }

double Exp(Args a) { return Checked(std::exp(a[0]), a); }
double Sqr(Args a) { return Checked(a[0] * a[0], a); }
double Sqrt(Args a) { return Checked(std::sqrt(a[0]), a); }
double Abs(Args a) { return std::fabs(a[0]); }
double Round(Args a) { return std::nearbyint(a[0]); }
double Trunc(Args a) { return std::trunc(a[0]); }

double NaturalLog(double x) {
  if (x <= 0) Fault(kInvalid);
  return std::log(x);
}
double Ln(Args a) { return NaturalLog(a[0]); }
double Log10(Args a) {
  if (a[0] <= 0) Fault(kInvalid);
  return std::log10(a[0]);
}
double LogN(Args a) {
  const double lnBase = NaturalLog(a[0]);
  const double lnValue = NaturalLog(a[1]);
  if (lnBase == 0 && !std::isnan(lnValue)) Fault(lnValue == 0 ? kInvalid : kZeroDivide);
  return Checked(lnValue / lnBase, a);
}

double Max(Args a) { return a[0] >= a[1] ? a[0] : a[1]; }
double Min(Args a) { return a[0] > a[1] ? a[1] : a[0]; }

double Sin(Args a) { return Checked(std::sin(a[0]), a); }
double Cos(Args a) { return Checked(std::cos(a[0]), a); }
double Tan(Args a) { return Checked(std::tan(a[0]), a); }
double ArcSin(Args a) { return Checked(std::asin(a[0]), a); }
double ArcCos(Args a) { return Checked(std::acos(a[0]), a); }
double ArcTan2(Args a) { return Checked(std::atan2(a[0], a[1]), a); }
double ArcTan(Args a) { return Checked(std::atan(a[0]), a); }
double Sinh(Args a) { return Checked(std::sinh(a[0]), a); }
double Cosh(Args a) { return Checked(std::cosh(a[0]), a); }
double Tanh(Args a) { return Checked(std::tanh(a[0]), a); }
double ArcSinh(Args a) { return Checked(std::asinh(a[0]), a); }
double ArcCosh(Args a) { return Checked(std::acosh(a[0]), a); }
double ArcTanh(Args a) { return Checked(std::atanh(a[0]), a); }
double DegToRad(Args a) { return a[0] * 0.017453292519943295769; }
double RadToDeg(Args a) { return Checked(a[0] * 57.295779513082320877, a); }

constexpr TExprFunctionInfo Operator(int arity, int priority, TExprEvaluate evaluate,
                                     bool isBoolean = false,
                                     EExprSpecial special = EExprSpecial::None) {
  return TExprFunctionInfo{arity, priority, true, isBoolean, special, evaluate};
}

constexpr TExprFunctionInfo Function(int arity, TExprEvaluate evaluate,
                                     EExprSpecial special = EExprSpecial::None) {
  return TExprFunctionInfo{arity, 0, false, false, special, evaluate};
}

constexpr bool kBoolean = true;

const TExprFunctionEntry kFunctions[] = {
    {"++", "", Operator(1, 5, Increment, false, EExprSpecial::Increment)},
    {"--", "", Operator(1, 5, Decrement, false, EExprSpecial::Decrement)},
    {"!", "", Operator(1, 10, Factorial)},
    {"%", "", Operator(1, 10, Percent)},
    {"-@", "", Operator(1, 10, Negate)},
    {"+@", "", Operator(1, 10, Identity)},
    {"in", "", Operator(2, 10, Equal, kBoolean)},
    {"^", "", Operator(2, 20, Power)},
    {"^@", "", Operator(2, 20, IntegerPower)},
    {"*", "", Operator(2, 30, Multiply)},
    {"/", "", Operator(2, 30, Divide)},
    {"div", "", Operator(2, 30, IntegerDivide)},
    {"mod", "", Operator(2, 30, Modulo)},
    {"+", "", Operator(2, 40, Add)},
    {"-", "", Operator(2, 40, Subtract)},
    {">", "", Operator(2, 50, Greater, kBoolean)},
    {">=", "", Operator(2, 50, GreaterOrEqual, kBoolean)},
    {"<=", "", Operator(2, 50, LessOrEqual, kBoolean)},
    {"<", "", Operator(2, 50, Less, kBoolean)},
    {"<>", "", Operator(2, 50, NotEqual, kBoolean)},
    {"=", "", Operator(2, 50, Equal, kBoolean)},
    {"not", "", Operator(1, 60, Not, kBoolean)},
    {"or", "", Operator(2, 70, Or, kBoolean)},
    {"and", "", Operator(2, 70, And, kBoolean)},
    {"xor", "", Operator(2, 70, Xor, kBoolean)},
    {":=", "", Operator(2, 200, AssignedValue, false, EExprSpecial::Assign)},

    {"exp", "the value of e raised to the power of x", Function(1, Exp)},
    {"if", "if x=True(or 1) then y else z", Function(3, If)},
    {"randg", "draw from normal distrib. (mean=x, sd =y)",
     Function(2, nullptr, EExprSpecial::RandG)},
    {"sqr", "the square of a number (x*x)", Function(1, Sqr)},
    {"sqrt", "the square root of a number", Function(1, Sqrt)},
    {"abs", "absolute value", Function(1, Abs)},
    {"round", "round to the nearest integer", Function(1, Round)},
    {"trunc", "truncates a real number to an integer", Function(1, Trunc)},
    {"ln", "natural logarithm of x", Function(1, Ln)},
    {"log10", "logarithm base 10 of x", Function(1, Log10)},
    {"logn", "logarithm base x of y", Function(2, LogN)},
    {"power", "power: x^y", Function(2, Power)},
    {"pow", "power: x^y", Function(2, Power)},
    {"intpower", "integer power: x^y", Function(2, IntegerPower)},
    {"max", "the maximum of both arguments", Function(2, Max)},
    {"min", "the minimum of both arguments", Function(2, Min)},
    {"sin", "sine of an angle in rad", Function(1, Sin)},
    {"cos", "cosine of an angle in rad", Function(1, Cos)},
    {"tan", "tangent of an angle in rad", Function(1, Tan)},
    {"arcsin", "inverse sine in rad", Function(1, ArcSin)},
    {"arccos", "inverse cosine in rad", Function(1, ArcCos)},
    {"arctan2", "inverse tangent (x/y) in rad", Function(2, ArcTan2)},
    {"arctan", "inverse tangent (x/y) in rad", Function(1, ArcTan)},
    {"sinh", "hyperbolic sine of an angle in rad", Function(1, Sinh)},
    {"cosh", "hyperbolic sine of an angle in rad", Function(1, Cosh)},
    {"tanh", "hyperbolic tangent of an angle in rad", Function(1, Tanh)},
    {"arcsinh", "inverse sine in rad", Function(1, ArcSinh)},
    {"arccosh", "inverse hyperbolic cosine in rad", Function(1, ArcCosh)},
    {"arctanh", "inverse hyperbolic tangent in rad", Function(1, ArcTanh)},
    {"degtorad", "conversion of degrees to radians", Function(1, DegToRad)},
    {"radtodeg", "conversion of rad to degrees", Function(1, RadToDeg)},
    {"random", "random number between 0 and 1", Function(0, nullptr, EExprSpecial::Random)},
    {"pos", "Position in of substring in string", Function(2, nullptr, EExprSpecial::Position)},
};

// UTF-16 code units of UTF-8 text; an invalid byte becomes U+FFFD.
std::u16string Utf16Units(std::string_view text) {
  std::u16string units;
  units.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    int length = lead < 0x80                   ? 1
                 : lead >= 0xC2 && lead < 0xE0 ? 2
                 : lead >= 0xE0 && lead < 0xF0 ? 3
                 : lead >= 0xF0 && lead < 0xF5 ? 4
                                               : 0;
    char32_t code = length == 1   ? lead
                    : length == 2 ? lead & 0x1F
                    : length == 3 ? lead & 0x0F
                                  : lead & 0x07;
    bool valid = length > 0 && i + length <= text.size();
    for (int k = 1; valid && k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) valid = false;
      code = (code << 6) | (next & 0x3F);
    }
    // Overlong forms, surrogates and values beyond U+10FFFF.
    if (valid && ((length == 3 && code < 0x800) || (length == 4 && code < 0x10000) ||
                  (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF)) {
      valid = false;
    }
    if (!valid) {
      units.push_back(u'\uFFFD');
      ++i;
      continue;
    }
    if (code >= 0x10000) {
      code -= 0x10000;
      units.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
      units.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
    } else {
      units.push_back(static_cast<char16_t>(code));
    }
    i += length;
  }
  return units;
}

bool InList(std::u16string_view item, std::u16string_view list) {
  while (true) {
    const size_t comma = list.find(u',');
    if (list.substr(0, comma) == item) return true;
    if (comma == std::u16string_view::npos) return false;
    list.remove_prefix(comma + 1);
  }
}

}  // namespace

std::span<const TExprFunctionEntry> StandardFunctions() { return kFunctions; }

bool IsStringOperator(std::string_view op) {
  return op == "=" || op == "<>" || op == "<" || op == ">" || op == "<=" || op == ">=" ||
         op == "in";
}

double EvaluateStringOperation(std::string_view op, std::string_view x, std::string_view y) {
  const std::u16string a = Utf16Units(x);
  const std::u16string b = Utf16Units(y);
  bool result = false;
  if (op == "in") {
    result = InList(a, b);
  } else {
    const int order = a.compare(b);
    if (op == "=") result = order == 0;
    if (op == "<>") result = order != 0;
    if (op == "<") result = order < 0;
    if (op == ">") result = order > 0;
    if (op == "<=") result = order <= 0;
    if (op == ">=") result = order >= 0;
  }
  return result ? 1 : 0;
}

double SubstringPosition(std::string_view part, std::string_view text) {
  const std::u16string needle = Utf16Units(part);
  if (needle.empty()) return 0;
  const size_t at = Utf16Units(text).find(needle);
  return at == std::u16string::npos ? 0 : static_cast<double>(at + 1);
}

double NormalDeviate(double mean, double sd, double u1, double u2) {
  const double z = std::sqrt(-2 * std::log(u1)) * std::cos(2 * std::numbers::pi * u2);
  const double operands[] = {mean, sd};
  return Checked(mean + sd * z, operands);
}

}  // namespace morvex
