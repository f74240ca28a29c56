// The values the monitor's routines work on: NIL, logical, number (with a
// display width and a count of decimals), date, text (bytes with a length),
// array, code block, and the error record that a run-time error hands to its
// handler.
//
// Values are owned: copying a value copies its elements, so no value can
// refer to itself and nothing needs collecting.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>
#include <vector>

namespace rt {

// Where a call comes from. Every operation takes one as its last argument,
// defaulted to Here::current(), which records the line of the call (as
// std::source_location would; that one needs a newer clang than we build with).
class Here {
 public:
  static constexpr Here current(uint32_t line = __builtin_LINE()) { return Here(line); }
  constexpr uint32_t line() const { return line_; }

 private:
  constexpr explicit Here(uint32_t line) : line_(line) {}
  uint32_t line_;
};

class Value;
struct Error;
using Array = std::vector<Value>;
using Arguments = std::span<const Value>;

// A number with the width and decimals that STR shows it with. `integer`
// marks a whole number of the signed 32-bit range that arithmetic keeps whole.
struct Number {
  double value = 0;
  int width = 10;
  int decimals = 0;
  bool integer = true;

  // A whole number: 10 wide and without decimals while it fits 32 bits.
  static Number Whole(int64_t value);
  // A floating value: 10 wide, or 20 when it is at least 10^10 or at most -10^9.
  static Number Floating(double value, int decimals);
};

// A calendar date, kept as its Julian day number; 0 is the empty date.
struct Date {
  int32_t julianDay = 0;

  static Date FromCalendar(int year, int month, int day);  // the empty date when invalid
  bool IsEmpty() const { return julianDay == 0; }
  void ToCalendar(int& year, int& month, int& day) const;
  bool operator==(const Date&) const = default;
};

// A code block: something to evaluate, made at a known source line. Evaluating
// it opens the level "__EVAL" with that line.
class Block {
 public:
  using Body = std::function<Value(Arguments arguments)>;
  explicit Block(Body body, Here made = Here::current());

  uint32_t Line() const { return line_; }
  Value Evaluate(Arguments arguments) const;

 private:
  std::shared_ptr<const Body> body_;  // shared: a block's body is immutable
  uint32_t line_;
};

class Value {
 public:
  enum class Kind { kNil, kLogical, kNumber, kDate, kText, kArray, kBlock, kError };

  Value() = default;
  Value(bool logical) : data_(logical) {}
  template <class T>
    requires(std::is_integral_v<T> && !std::is_same_v<T, bool>)
  Value(T whole) : data_(Number::Whole(static_cast<int64_t>(whole))) {}
  // A C++ double: whole values of the 32-bit range are whole numbers, others
  // floating with the default 2 decimals.
  Value(double number);
  Value(Number number) : data_(number) {}
  Value(Date date) : data_(date) {}
  Value(const char* text) : data_(std::string(text)) {}
  Value(std::string text) : data_(std::move(text)) {}
  Value(std::string_view text) : data_(std::string(text)) {}
  Value(Array array) : data_(std::move(array)) {}
  Value(Block block) : data_(std::move(block)) {}
  Value(std::shared_ptr<const Error> error) : data_(std::move(error)) {}

  Kind kind() const { return static_cast<Kind>(data_.index()); }
  bool IsNil() const { return kind() == Kind::kNil; }
  bool IsLogical() const { return kind() == Kind::kLogical; }
  bool IsNumber() const { return kind() == Kind::kNumber; }
  bool IsDate() const { return kind() == Kind::kDate; }
  bool IsText() const { return kind() == Kind::kText; }
  bool IsArray() const { return kind() == Kind::kArray; }
  bool IsBlock() const { return kind() == Kind::kBlock; }
  bool IsError() const { return kind() == Kind::kError; }

  // The contents; a value of another kind gives false, 0, the empty date, the
  // empty text, the empty array or null.
  bool Logical() const;
  double AsDouble() const;
  const Number& AsNumber() const;
  Date AsDate() const;
  const std::string& Text() const;
  const Array& Elements() const;
  Array& Elements();  // a value of another kind becomes an empty array first
  const Block* AsBlock() const;
  const Error* AsError() const;

 private:
  std::variant<std::monostate, bool, Number, Date, std::string, Array, Block,
               std::shared_ptr<const Error>>
      data_;
};

inline const Value NIL;

// Exact equality (==): NIL equals only NIL; texts need the same bytes; numbers
// compare after rounding both to 8 decimals; other kinds equal when they hold
// the same logical or date; mixed kinds are unequal.
bool operator==(const Value& left, const Value& right);

// Arithmetic and ordering. + joins two texts and adds two numbers, - and *
// work on numbers; the result's width and decimals follow the operands (see
// Number). A wrong kind raises the "BASE" argument error.
Value operator+(const Value& left, const Value& right);
Value operator-(const Value& left, const Value& right);
Value operator*(const Value& left, const Value& right);
// Numbers by value, dates by day, texts byte by byte.
bool operator<(const Value& left, const Value& right);
bool operator>(const Value& left, const Value& right);

// The value as a 32-bit integer: a fraction is cut off, the low 32 bits of
// a larger whole number are kept; NIL, texts and other kinds give 0.
int32_t ToInt32(const Value& value);

}  // namespace rt
