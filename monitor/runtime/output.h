// Settings and line output: the console and the alternate output file.
//
// The monitor writes a status file by pointing the alternate file at a name,
// switching the alternate output on and the console off, writing one line and
// clearing the name:
//
//   rt::SET(rt::ALTERNATE_FILE, name, false);
//   rt::SET(rt::ALTERNATE_OUTPUT, "ON");
//   rt::SET(rt::CONSOLE_OUTPUT, "OFF");
//   rt::QOUT(text);
//   rt::SET(rt::ALTERNATE_FILE, rt::NIL);
//
// which leaves CR LF, the text and the end mark 0x1A in the file.
#pragma once

#include <initializer_list>

#include "monitor/runtime/state.h"
#include "monitor/runtime/value.h"

namespace rt {

// The current value of a setting (see the numbers in state.h); NIL for an
// unknown number. For ALTERNATE_FILE the name, or the empty text for none.
Value SET(int setting, Here caller = Here::current());

// Changes a setting and gives its previous value.
// - CONSOLE_OUTPUT, ALTERNATE_OUTPUT, EOF_MARK: a logical, or a text that is
//   true when it begins with "ON" in any letter case; anything else is false.
// - ALTERNATE_FILE: closes the open file (end mark first), then opens the
//   named one, with ".txt" added when it has no extension (a name without a
//   folder is in the current folder). With `append` false (or absent) the
//   file is created anew, shared with nobody while open; with `append` true an
//   existing file is continued, over its end mark. NIL or the empty text
//   leave no file open. A file that cannot be opened raises the "TERM" create
//   error 20/2013; a handler result of true tries again.
// - DATE_FORMAT: a text.
Value SET(int setting, const Value& value, const Value& append = NIL,
          Here caller = Here::current());

// Writes CR LF, then the text form of each value, separated by one space, to
// the console when CONSOLE_OUTPUT is on and to the alternate file when
// ALTERNATE_OUTPUT is on and a file is open. Write failures are ignored.
void QOUT(const Value& value, Here caller = Here::current());
void QOUT(std::initializer_list<Value> values = {}, Here caller = Here::current());

}  // namespace rt
