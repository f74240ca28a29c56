// Conversions and tests of values. An argument of the wrong kind raises the
// "BASE" argument error of the operation; the handler's result is returned
// in its place.
#pragma once

#include <string_view>

#include "monitor/runtime/state.h"
#include "monitor/runtime/value.h"

namespace rt {

// A number right-aligned in its width; with decimals, in width + decimals + 1
// characters; "*" in every place when it does not fit.
Value STR(const Value& number, Here caller = Here::current());
// The number at the start of a text: leading blanks, one sign, digits, one
// ".", digits. The width and decimals come from the text.
Value VAL(const Value& text, Here caller = Here::current());
// Without leading spaces, TABs, LFs and CRs.
Value LTRIM(const Value& text, Here caller = Here::current());
// Without trailing spaces (the byte 0x20 only).
Value TRIM(const Value& text, Here caller = Here::current());
// TRIM and LTRIM together.
Value ALLTRIM(const Value& text, Here caller = Here::current());
// The part of a text that ALLTRIM keeps, for code that holds no value.
std::string_view AllTrimmed(std::string_view text);
// a to z become A to Z; every other byte stays.
Value UPPER(const Value& text, Here caller = Here::current());
// NIL, a blank text, 0, false, the empty date, an empty array.
bool EMPTY(const Value& value, Here caller = Here::current());
// The bytes of a text or the elements of an array.
Value LEN(const Value& value, Here caller = Here::current());
// Today, local time.
Value DATE(Here caller = Here::current());
// A date in the DATE_FORMAT setting ("mm/dd/yy").
Value DTOC(const Value& date, Here caller = Here::current());
// The local time as "hh:mm:ss".
Value TIME(Here caller = Here::current());
// The substring test (left $ right): the bytes of `left` occur in `right`;
// an empty `left` never does.
bool IN(const Value& left, const Value& right, Here caller = Here::current());

}  // namespace rt
