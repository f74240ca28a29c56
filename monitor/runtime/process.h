// Starting programs, pausing, the millisecond counter and memory reclaim.
#pragma once

#include <cstdint>
#include <memory>

#include "monitor/runtime/state.h"
#include "monitor/runtime/value.h"

namespace rt {

// A program that WINEXEC started and keeps hold of, so that its end can be
// seen. The program runs on by itself when this is dropped.
class StartedProgram {
 public:
  // True once the program has ended, with its exit code. A program that the
  // platform handed back none for (or that never started) never ends here.
  bool Ended(uint32_t& exitCode) const;
  // Pauses as YIELDCPU does, but ends the pause when the program ends, or
  // when the platform has caught a stop request.
  void Wait(const Value& milliseconds, Here caller = Here::current());

 private:
  friend Value WINEXEC(const Value& command, const Value& show, StartedProgram& started,
                       Here caller);
  std::shared_ptr<plat::Process> process_;
};

// Starts a command line without waiting for it, the program searched in the
// running program's folder, the current folder and then the path. Gives 32 or
// more when it started, else the platform's failure code (0 to 31). The show
// mode is 1 (normal) when none is given; NIL, a text or a logical count as 0
// (hidden). A command that is not a text starts nothing and gives 2.
Value WINEXEC(const Value& command, Here caller = Here::current());
Value WINEXEC(const Value& command, const Value& show, Here caller = Here::current());
// The same start, keeping hold of the started program in `started`.
Value WINEXEC(const Value& command, const Value& show, StartedProgram& started,
              Here caller = Here::current());

// Suspends the program for a whole number of milliseconds; anything that is
// not a positive number returns at once.
void YIELDCPU(const Value& milliseconds, Here caller = Here::current());

// The platform's 32-bit millisecond counter as a signed number: counts from
// 2^31 on are negative.
Value GETTICKCOUNT(Here caller = Here::current());

// Reclaims unreachable arrays and code blocks.
void COLLECTGARBAGE(Here caller = Here::current());

}  // namespace rt
