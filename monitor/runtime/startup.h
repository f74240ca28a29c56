// Program start-up and shutdown: the command line becomes the parameters of
// the monitor's MAIN, the error handler is installed, MAIN runs, and whatever
// way it ends (returning, QUIT, an error report that quits), shutdown closes
// the alternate file and the program ends with exit code 0; an unrecoverable
// failure ends it with exit code 1.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "monitor/runtime/state.h"
#include "monitor/runtime/value.h"
#include "platform/platform.h"

namespace rt {

// The parameter words of a command line: the program's name is taken off the
// front, the rest is split at blanks (0x20) only, quotes and tabs staying in
// their words, and the run-time switches (words beginning with "//") are left
// out.
std::vector<std::string> SplitCommandLine(std::string_view commandLine);

// The parameters a routine received, each a text; 1 is the first.
class Parameters {
 public:
  explicit Parameters(const std::vector<std::string>& words);
  // The parameter at `position`; NIL when it was not given.
  const Value& operator[](int position) const;
  int Count() const { return static_cast<int>(values_.size()); }

 private:
  std::vector<Value> values_;
};

// How many parameters the routine received, words beyond those it declares
// included.
int PCOUNT(const Parameters& received, Here caller = Here::current());

using ErrorSysRoutine = void (*)();
using MainRoutine = void (*)(const Parameters& parameters);

// Runs a program: splits the platform's command line, sets the run-time state
// to its defaults, calls `errorsys` (which installs the error handler), calls
// `main` with the parameters, shuts down, and gives the exit code (0 unless
// ERRORLEVEL set another).
int Start(plat::Platform& os, ErrorSysRoutine errorsys, MainRoutine main);

// Sets the exit code that the program ends with, 0 at start; gives the one
// set before.
int ERRORLEVEL(int code, Here caller = Here::current());

// Ends the run: clears the quit request, closes the alternate file (end mark
// first) and lets go of the handler and the activations.
void Shutdown();

}  // namespace rt
