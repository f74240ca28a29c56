// Run-time errors, the error handler, quitting and the unrecoverable failures.
//
// An operation that cannot do its work raises an error: the installed handler
// (ERRORBLOCK) is evaluated with the error record, and what it returns tells
// the operation whether to retry, to give up, or what to return instead. A
// handler that ends the program calls QUIT, which unwinds every routine up to
// start-up. Handlers may nest eight deep; the ninth nested error, an error
// without a handler and an unusable handler result end the program at once
// with exit code 1.
#pragma once

#include <cstdint>
#include <string>

#include "monitor/runtime/state.h"
#include "monitor/runtime/value.h"

namespace rt {

// General error codes the run-time raises.
inline constexpr int kArgumentError = 1;
inline constexpr int kCreateError = 20;

// The error record the handler receives.
struct Error {
  int genCode = 0;          // GENCODE: general code
  std::string description;  // DESCRIPTION: the text of the general code
  int subCode = 0;          // SUBCODE: the failing operation within its component
  std::string subSystem;    // SUBSYSTEM: the component, "BASE" or "TERM"
  uint32_t osCode = 0;      // OSCODE: the system error of the failing call, 0 when none
  std::string operation;    // OPERATION: the failing operation or its operand
  bool canRetry = false;    // a handler result of true retries
  bool canDefault = false;  // a handler result of false gives up
  bool canSubstitute = false;  // the handler's result becomes the operation's result
};

// The description of a general code; the empty text for codes without one.
std::string Description(int genCode);

// What the handler asked the failing operation to do.
struct Recovery {
  bool retry = false;
  Value substitute;  // for an error that allows a substitute
};

// Raises `error` (its description is filled in from the general code) and
// gives the handler's decision. Does not return when the handler quits, or
// on an unrecoverable failure.
Recovery Raise(Error error);

// Raises the "BASE" argument error of `operation` with `subCode`; the
// handler's result stands in for the operation's result.
Value RaiseArgumentError(int subCode, const char* operation);

// Installs `handler` when it is a code block; anything else changes nothing.
// Gives the handler installed before, NIL at start.
Value ERRORBLOCK(const Value& handler = NIL, Here caller = Here::current());

// Thrown by QUIT; only start-up catches it. Deliberately no std::exception,
// so that no general catch in a routine can stop a quit.
struct QuitSignal {};

// Sets the quit request and ends every routine up to start-up.
[[noreturn]] void QUIT(Here caller = Here::current());

// True from QUIT until shutdown begins.
bool QuitRequested();

// Thrown after an unrecoverable failure has been written to standard error;
// start-up catches it and ends with exit code 1 without its shutdown steps.
struct UnrecoverableFailure {
  uint32_t number;  // 9001, 9002 or 9003
};

}  // namespace rt
