// The message box.
#pragma once

#include "monitor/runtime/state.h"
#include "monitor/runtime/value.h"

namespace rt {

// Shows a modal message box and gives what the platform returned (1 for OK).
// The owner is the window of a number, else none (0); a text or title that is
// not a text shows "Bad Parameter"; only the low 16 bits of the flags count,
// and no flags are 0, an OK button without an icon.
Value MESSAGEBOX(const Value& owner, const Value& text, const Value& title,
                 const Value& flags = NIL, Here caller = Here::current());

}  // namespace rt
