#include "monitor/runtime/convert.h"

#include <algorithm>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "monitor/runtime/error.h"
#include "monitor/runtime/internal.h"

namespace rt {

namespace internal {

namespace {

int FloatingWidth(double value) { return value >= 1e10 || value <= -1e9 ? 20 : 10; }

// Rounds half away from zero. The slight push outwards keeps values such as
// 2.675, which binary floating point holds as 2.67499..., rounding up as
// their decimal digits say.
double RoundTo(double value, int decimals) {
  if (decimals > 15) return value;
  double scale = std::pow(10.0, decimals);
  double scaled = value * scale;
  if (std::fabs(scaled) >= 4503599627370496.0) return value;  // 2^52: no fraction left
  return std::round(scaled * (1.0 + 4 * DBL_EPSILON)) / scale + 0.0;  // + 0.0: no "-0"
}

}  // namespace

Number ParseNumber(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  std::string digits;
  bool seenDot = false;
  bool seenDigit = false;
  for (; i < text.size(); ++i) {
    char c = text[i];
    if (c >= '0' && c <= '9') {
      seenDigit = true;
    } else if (c != '.' || seenDot) {
      break;
    } else {
      seenDot = true;
    }
    digits += c;
  }
  double value = 0;
  if (seenDigit) {
    auto [end, result] = std::from_chars(digits.data(), digits.data() + digits.size(), value,
                                         std::chars_format::fixed);
    if (result == std::errc::result_out_of_range) value = HUGE_VAL;
  }
  if (negative && value != 0) value = -value;

  Number number{value, 0, 0, false};
  size_t dot = text.find('.');
  if (dot != std::string_view::npos && dot + 1 < text.size()) {
    number.decimals = static_cast<int>(std::min<size_t>(text.size() - dot - 1, 1 << 20));
    number.width = static_cast<int>(std::min<size_t>(dot, 1000));
    if (dot == 0 || (text[0] == '-' && dot == 1 && value != 0)) ++number.width;
  } else {
    number.width = static_cast<int>(std::min<size_t>(text.size(), 1000));
  }
  if (number.width == 0 || number.width >= 100) number.width = FloatingWidth(value);
  number.integer = number.decimals == 0 && std::floor(value) == value &&
                   value >= INT32_MIN && value <= INT32_MAX;
  return number;
}

std::string FormatNumber(const Number& number) {
  int width = std::clamp(number.width, 0, 90);
  int decimals = std::max(number.decimals, 0);
  size_t field = decimals == 0 ? width : static_cast<size_t>(width) + decimals + 1;
  if (!std::isfinite(number.value)) return std::string(field, '*');
  double rounded = RoundTo(number.value, decimals);
  int length = std::snprintf(nullptr, 0, "%.*f", decimals, rounded);
  if (length < 0 || static_cast<size_t>(length) > field) return std::string(field, '*');
  // Written in place: the terminating NUL lands on the string's own terminator.
  std::string text(field, ' ');
  std::snprintf(text.data() + (field - length), static_cast<size_t>(length) + 1, "%.*f", decimals,
                rounded);
  return text;
}

std::string FormatDate(Date date, std::string_view format) {
  int year, month, day;
  date.ToCalendar(year, month, day);
  std::string text;
  for (size_t i = 0; i < format.size();) {
    char letter = static_cast<char>(format[i] | 0x20);
    if (letter != 'y' && letter != 'm' && letter != 'd') {
      text += format[i++];
      continue;
    }
    size_t run = 0;
    while (i < format.size() && static_cast<char>(format[i] | 0x20) == letter) ++i, ++run;
    int digits = letter == 'y' && run >= 4 ? 4 : 2;
    int part = letter == 'y' ? (digits == 4 ? year : year % 100) : letter == 'm' ? month : day;
    if (date.IsEmpty()) {
      text.append(digits, ' ');
    } else {
      char buffer[16];
      std::snprintf(buffer, sizeof buffer, "%0*d", digits, part);
      text += buffer;
    }
  }
  return text;
}

// Written digit by digit: listings make one per distinct second of their
// files, and printf would cost more than the conversion to local time.
std::string ClockText(const plat::CalendarTime& time) {
  char text[] = "00:00:00";
  int parts[] = {time.hour % 100, time.minute % 100, time.second % 100};
  for (int i = 0; i < 3; ++i) {
    if (parts[i] < 0) {  // never for a real time
      char buffer[16];
      std::snprintf(buffer, sizeof buffer, "%02d:%02d:%02d", parts[0], parts[1], parts[2]);
      return buffer;
    }
    text[3 * i] = static_cast<char>('0' + parts[i] / 10);
    text[3 * i + 1] = static_cast<char>('0' + parts[i] % 10);
  }
  return std::string(text, sizeof text - 1);
}

}  // namespace internal

using internal::IsBlank;

namespace {

// Subcodes of the argument errors.
constexpr int kValSubcode = 1098;
constexpr int kStrSubcode = 1099;
constexpr int kTrimSubcode = 1100;
constexpr int kLtrimSubcode = 1101;
constexpr int kUpperSubcode = 1102;
constexpr int kInSubcode = 1109;
constexpr int kLenSubcode = 1111;
constexpr int kDtocSubcode = 1118;
constexpr int kAlltrimSubcode = 2022;

std::string_view LeftTrimmed(std::string_view text) {
  size_t start = 0;
  while (start < text.size() && IsBlank(text[start])) ++start;
  return text.substr(start);
}

std::string_view RightTrimmed(std::string_view text) {
  size_t end = text.size();
  while (end > 0 && text[end - 1] == ' ') --end;
  return text.substr(0, end);
}

}  // namespace

Value STR(const Value& number, Here caller) {
  Activation self("STR", caller);
  if (!number.IsNumber()) return RaiseArgumentError(kStrSubcode, "STR");
  return internal::FormatNumber(number.AsNumber());
}

Value VAL(const Value& text, Here caller) {
  Activation self("VAL", caller);
  if (!text.IsText()) return RaiseArgumentError(kValSubcode, "VAL");
  return internal::ParseNumber(text.Text());
}

Value LTRIM(const Value& text, Here caller) {
  Activation self("LTRIM", caller);
  if (!text.IsText()) return RaiseArgumentError(kLtrimSubcode, "LTRIM");
  return LeftTrimmed(text.Text());
}

Value TRIM(const Value& text, Here caller) {
  Activation self("TRIM", caller);
  if (!text.IsText()) return RaiseArgumentError(kTrimSubcode, "TRIM");
  return RightTrimmed(text.Text());
}

Value ALLTRIM(const Value& text, Here caller) {
  Activation self("ALLTRIM", caller);
  if (!text.IsText()) return RaiseArgumentError(kAlltrimSubcode, "ALLTRIM");
  return AllTrimmed(text.Text());
}

std::string_view AllTrimmed(std::string_view text) { return LeftTrimmed(RightTrimmed(text)); }

Value UPPER(const Value& text, Here caller) {
  Activation self("UPPER", caller);
  if (!text.IsText()) return RaiseArgumentError(kUpperSubcode, "UPPER");
  std::string upper = text.Text();
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return upper;
}

bool EMPTY(const Value& value, Here caller) {
  Activation self("EMPTY", caller);
  switch (value.kind()) {
    case Value::Kind::kLogical:
      return !value.Logical();
    case Value::Kind::kNumber:
      return value.AsDouble() == 0;
    case Value::Kind::kDate:
      return value.AsDate().IsEmpty();
    case Value::Kind::kText:
      return LeftTrimmed(value.Text()).empty();
    case Value::Kind::kArray:
      return value.Elements().empty();
    case Value::Kind::kBlock:
      return false;
    default:
      return true;
  }
}

Value LEN(const Value& value, Here caller) {
  Activation self("LEN", caller);
  if (value.IsText()) return value.Text().size();
  if (value.IsArray()) return value.Elements().size();
  return RaiseArgumentError(kLenSubcode, "LEN");
}

Value DATE(Here caller) {
  Activation self("DATE", caller);
  plat::CalendarTime now = Os().clock.LocalNow();
  return Date::FromCalendar(now.year, now.month, now.day);
}

Value DTOC(const Value& date, Here caller) {
  Activation self("DTOC", caller);
  if (!date.IsDate()) return RaiseArgumentError(kDtocSubcode, "DTOC");
  return internal::FormatDate(date.AsDate(), internal::S().settings.dateFormat);
}

Value TIME(Here caller) {
  Activation self("TIME", caller);
  return internal::ClockText(Os().clock.LocalNow());
}

bool IN(const Value& left, const Value& right, Here caller) {
  Activation self("$", caller);
  if (!left.IsText() || !right.IsText()) return RaiseArgumentError(kInSubcode, "$").Logical();
  const std::string& needle = left.Text();
  return !needle.empty() && right.Text().find(needle) != std::string::npos;
}

}  // namespace rt
