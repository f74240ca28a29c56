// What the run-time's operations share among themselves; not for the
// monitor's routines.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "monitor/runtime/state.h"
#include "monitor/runtime/value.h"
#include "platform/platform.h"

namespace rt::internal {

struct Settings {
  bool consoleOutput = true;
  bool alternateOutput = false;
  std::string alternateName;  // as SET was given it; empty: none
  bool eofMark = true;
  std::string dateFormat = "mm/dd/yy";
};

struct State {
  plat::Platform* os = nullptr;
  Settings settings;
  std::unique_ptr<plat::File> alternateFile;
  std::vector<Level> levels;  // outermost first
  Value handler;
  int handlersRunning = 0;
  bool quitRequested = false;
  int exitCode = 0;  // ERRORLEVEL
};

State& S();

// Closes the alternate file, writing the end mark first when EOF_MARK is on.
// Failures are ignored; without an open file nothing happens.
void CloseAlternateFile();

// The number at the start of a text, with the width and decimals VAL gives it.
Number ParseNumber(std::string_view text);

// A number as STR shows it.
std::string FormatNumber(const Number& number);

// A date in a format of "d", "m" and "y" runs ("mm/dd/yy"; four or more y give
// the century); the empty date shows blanks for the digits.
std::string FormatDate(Date date, std::string_view format);

// The text form that line output writes for a value.
std::string TextForm(const Value& value);

// Bytes that LTRIM and ALLTRIM remove at the front, and that EMPTY ignores.
inline bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// "hh:mm:ss" of a calendar time.
std::string ClockText(const plat::CalendarTime& time);

// The folder part of a name: up to and including its last "\", "/" or ":".
size_t FolderPartLength(std::string_view name);

}  // namespace rt::internal
