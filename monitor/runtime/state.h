// The run-time's process-wide state: the platform it works on, the settings,
// the alternate output file, the activation stack, the error handler and the
// quit request. Start-up sets the platform and resets the rest; tests do the
// same through UsePlatform and ResetState.
#pragma once

#include <cstdint>
#include <vector>

#include "monitor/runtime/value.h"
#include "platform/platform.h"

namespace rt {

// Numbers of the settings that SET reads and changes.
inline constexpr int DATE_FORMAT = 4;       // text, "mm/dd/yy"
inline constexpr int CONSOLE_OUTPUT = 17;   // logical, true
inline constexpr int ALTERNATE_OUTPUT = 18; // logical, false
inline constexpr int ALTERNATE_FILE = 19;   // text, the alternate output file; none
inline constexpr int EOF_MARK = 105;        // logical, true: closing a file writes 0x1A

// The platform every operation works on; plat::Native() until one is set.
plat::Platform& Os();
void UsePlatform(plat::Platform& platform);

// Back to the state of a fresh start: settings at their defaults, no
// alternate file (an open one is closed without its end mark), no
// activations, no handler, no error being handled, no quit request.
void ResetState();

// One level of the activation stack: a routine or operation and the line it
// is on.
struct Level {
  const char* name;
  uint32_t line;
};

// Opens a level for as long as it lives. Every run-time operation opens one
// with its own name and line 0, and first records in the level below the
// line it was called from; a monitor routine does the same with its name:
//
//   bool BACKUPINPROGRESS(rt::Here caller = rt::Here::current()) {
//     rt::Activation self("BACKUPINPROGRESS", caller);
//     ...
//
// so that its callers' lines are recorded as they call it, and its own line
// as it calls run-time operations. The outermost routine (MAIN) has no caller.
class Activation {
 public:
  Activation(const char* name, const Here& caller);
  explicit Activation(const char* name, uint32_t line = 0);
  ~Activation();
  Activation(const Activation&) = delete;
  Activation& operator=(const Activation&) = delete;
};

// The routine name and the current line at `level`: 0 is the routine that
// asks, 1 its caller, and so on; beyond the outermost level the empty text
// and 0. Neither opens a level of its own.
Value PROCNAME(int level = 0, Here caller = Here::current());
Value PROCLINE(int level = 0, Here caller = Here::current());

// The active levels, innermost first.
std::vector<Level> ActiveLevels();

}  // namespace rt
