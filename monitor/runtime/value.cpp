#include "monitor/runtime/value.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "monitor/runtime/error.h"
#include "monitor/runtime/internal.h"
#include "platform/calendar.h"

namespace rt {

namespace {

constexpr int kDefaultDecimals = 2;

// Subcodes of the argument errors of the operators.
constexpr int kPlusSubcode = 1081;
constexpr int kMinusSubcode = 1082;
constexpr int kTimesSubcode = 1083;
constexpr int kLessSubcode = 1073;
constexpr int kGreaterSubcode = 1075;

bool FitsInt32(double value) {
  return value >= std::numeric_limits<int32_t>::min() &&
         value <= std::numeric_limits<int32_t>::max();
}

int FloatingWidth(double value) { return value >= 1e10 || value <= -1e9 ? 20 : 10; }

constexpr int64_t kJulianDayOf1970 = 2440588;

int DaysInMonth(int year, int month) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

// Sums and products: whole numbers stay whole while they fit 32 bits; a
// floating result is 10 or 20 wide with the decimals `decimals` gives.
Value Combine(const Number& left, const Number& right, double result, int floatingDecimals) {
  if (left.integer && right.integer) {
    if (FitsInt32(result)) return Number::Whole(static_cast<int64_t>(result));
    return Number::Floating(result, kDefaultDecimals);
  }
  return Number::Floating(result, floatingDecimals);
}

int TextCompare(const Value& left, const Value& right) {
  return left.Text().compare(right.Text());
}

}  // namespace

Number Number::Whole(int64_t value) {
  double number = static_cast<double>(value);
  if (FitsInt32(number)) return Number{number, 10, 0, true};
  return Number{number, FloatingWidth(number), 0, false};
}

Number Number::Floating(double value, int decimals) {
  return Number{value, FloatingWidth(value), decimals, false};
}

Date Date::FromCalendar(int year, int month, int day) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 ||
      day > DaysInMonth(year, month)) {
    return Date{};
  }
  return Date{static_cast<int32_t>(plat::DaysFromCivil(year, month, day) + kJulianDayOf1970)};
}

void Date::ToCalendar(int& year, int& month, int& day) const {
  if (IsEmpty()) {
    year = month = day = 0;
    return;
  }
  int64_t civilYear = 0;
  plat::CivilFromDays(julianDay - kJulianDayOf1970, civilYear, month, day);
  year = static_cast<int>(civilYear);
}

Block::Block(Body body, Here made)
    : body_(std::make_shared<const Body>(std::move(body))), line_(made.line()) {}

Value Block::Evaluate(Arguments arguments) const {
  Activation level("__EVAL", line_);
  return (*body_)(arguments);
}

Value::Value(double number) {
  if (std::floor(number) == number && FitsInt32(number)) {
    data_ = Number::Whole(static_cast<int64_t>(number));
  } else {
    data_ = Number::Floating(number, kDefaultDecimals);
  }
}

bool Value::Logical() const { return IsLogical() && std::get<bool>(data_); }

double Value::AsDouble() const { return IsNumber() ? std::get<Number>(data_).value : 0; }

const Number& Value::AsNumber() const {
  static const Number kZero;
  return IsNumber() ? std::get<Number>(data_) : kZero;
}

Date Value::AsDate() const { return IsDate() ? std::get<Date>(data_) : Date{}; }

const std::string& Value::Text() const {
  static const std::string kEmpty;
  return IsText() ? std::get<std::string>(data_) : kEmpty;
}

const Array& Value::Elements() const {
  static const Array kEmpty;
  return IsArray() ? std::get<Array>(data_) : kEmpty;
}

Array& Value::Elements() {
  if (!IsArray()) data_ = Array{};
  return std::get<Array>(data_);
}

const Block* Value::AsBlock() const { return IsBlock() ? &std::get<Block>(data_) : nullptr; }

const Error* Value::AsError() const {
  return IsError() ? std::get<std::shared_ptr<const Error>>(data_).get() : nullptr;
}

bool operator==(const Value& left, const Value& right) {
  if (left.kind() != right.kind()) return false;
  switch (left.kind()) {
    case Value::Kind::kNil:
      return true;
    case Value::Kind::kLogical:
      return left.Logical() == right.Logical();
    case Value::Kind::kNumber:
      return std::round(left.AsDouble() * 1e8) == std::round(right.AsDouble() * 1e8);
    case Value::Kind::kDate:
      return left.AsDate() == right.AsDate();
    case Value::Kind::kText:
      return left.Text() == right.Text();
    default:
      return false;
  }
}

Value operator+(const Value& left, const Value& right) {
  if (left.IsText() && right.IsText()) return left.Text() + right.Text();
  if (left.IsNumber() && right.IsNumber()) {
    const Number& a = left.AsNumber();
    const Number& b = right.AsNumber();
    return Combine(a, b, a.value + b.value, std::max(a.decimals, b.decimals));
  }
  return RaiseArgumentError(kPlusSubcode, "+");
}

Value operator-(const Value& left, const Value& right) {
  if (left.IsNumber() && right.IsNumber()) {
    const Number& a = left.AsNumber();
    const Number& b = right.AsNumber();
    return Combine(a, b, a.value - b.value, std::max(a.decimals, b.decimals));
  }
  return RaiseArgumentError(kMinusSubcode, "-");
}

Value operator*(const Value& left, const Value& right) {
  if (left.IsNumber() && right.IsNumber()) {
    const Number& a = left.AsNumber();
    const Number& b = right.AsNumber();
    return Combine(a, b, a.value * b.value, a.decimals + b.decimals);
  }
  return RaiseArgumentError(kTimesSubcode, "*");
}

bool operator<(const Value& left, const Value& right) {
  if (left.IsNumber() && right.IsNumber()) return left.AsDouble() < right.AsDouble();
  if (left.IsDate() && right.IsDate()) return left.AsDate().julianDay < right.AsDate().julianDay;
  if (left.IsText() && right.IsText()) return TextCompare(left, right) < 0;
  return RaiseArgumentError(kLessSubcode, "<").Logical();
}

bool operator>(const Value& left, const Value& right) {
  if (left.IsNumber() && right.IsNumber()) return left.AsDouble() > right.AsDouble();
  if (left.IsDate() && right.IsDate()) return left.AsDate().julianDay > right.AsDate().julianDay;
  if (left.IsText() && right.IsText()) return TextCompare(left, right) > 0;
  return RaiseArgumentError(kGreaterSubcode, ">").Logical();
}

int32_t ToInt32(const Value& value) {
  if (!value.IsNumber()) return 0;
  double whole = std::trunc(value.AsDouble());
  if (std::isnan(whole)) return 0;
  // Clamped to what 64 bits hold, then cut to 32 bits, as an unsigned
  // argument such as 0xFFFFFFFF arrives as a number above the signed range.
  constexpr double kLimit = 9.2e18;
  whole = std::clamp(whole, -kLimit, kLimit);
  return static_cast<int32_t>(static_cast<uint32_t>(static_cast<int64_t>(whole)));
}

}  // namespace rt
