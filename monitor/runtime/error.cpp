#include "monitor/runtime/error.h"

#include <cstdio>
#include <string>
#include <utility>

#include "monitor/runtime/internal.h"

namespace rt {

using internal::S;

namespace {

// Error handlers may run this many deep; the next nested error is fatal.
constexpr int kMaxNestedHandlers = 8;

constexpr uint32_t kRecoveryFailure = 9001;
constexpr uint32_t kNoHandler = 9002;
constexpr uint32_t kTooManyNestedErrors = 9003;

// Standard error is a text stream; on Windows it writes each "\n" as CR LF.
#ifdef _WIN32
constexpr char kLineBreak[] = "\n";
#else
constexpr char kLineBreak[] = "\r\n";
#endif

const char* FailureText(uint32_t number) {
  switch (number) {
    case kRecoveryFailure:
      return "Error recovery failure";
    case kNoHandler:
      return "No ERRORBLOCK() for error";
    default:
      return "Too many recursive error handler calls";
  }
}

// Writes the failure and the active levels to standard error, then unwinds
// to start-up, which ends the program with exit code 1.
[[noreturn]] void FailUnrecoverably(uint32_t number) {
  std::string text = kLineBreak + ("Unrecoverable error " + std::to_string(number) + ": ") +
                     FailureText(number) + kLineBreak;
  for (const Level& level : ActiveLevels()) {
    text += "Called from " + std::string(level.name) + "(" + std::to_string(level.line) + ")" +
            kLineBreak;
  }
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
  throw UnrecoverableFailure{number};
}

// Counts a running handler for as long as it lives, also when it quits.
class RunningHandler {
 public:
  RunningHandler() { ++S().handlersRunning; }
  ~RunningHandler() { --S().handlersRunning; }
  RunningHandler(const RunningHandler&) = delete;
  RunningHandler& operator=(const RunningHandler&) = delete;
};

}  // namespace

std::string Description(int genCode) {
  switch (genCode) {
    case 0: return "Unknown error";
    case 1: return "Argument error";
    case 2: return "Bound error";
    case 3: return "String overflow";
    case 4: return "Numeric overflow";
    case 5: return "Zero divisor";
    case 6: return "Numeric error";
    case 7: return "Syntax error";
    case 8: return "Operation too complex";
    case 11: return "Memory low";
    case 12: return "Undefined function";
    case 13: return "No exported method";
    case 14: return "Variable does not exist";
    case 15: return "Alias does not exist";
    case 16: return "No exported variable";
    case 17: return "Illegal characters in alias";
    case 18: return "Alias already in use";
    case 20: return "Create error";
    case 21: return "Open error";
    case 22: return "Close error";
    case 23: return "Read error";
    case 24: return "Write error";
    case 25: return "Print error";
    case 30: return "Operation not supported";
    case 31: return "Limit exceeded";
    case 32: return "Corruption detected";
    case 33: return "Data type error";
    case 34: return "Data width error";
    case 35: return "Workarea not in use";
    case 36: return "Workarea not indexed";
    case 37: return "Exclusive required";
    case 38: return "Lock required";
    case 39: return "Write not allowed";
    case 40: return "Append lock failed";
    case 41: return "Lock Failure";
    default: return "";
  }
}

Recovery Raise(Error error) {
  internal::State& state = S();
  if (state.handlersRunning >= kMaxNestedHandlers) FailUnrecoverably(kTooManyNestedErrors);
  if (!state.handler.IsBlock()) FailUnrecoverably(kNoHandler);
  error.description = Description(error.genCode);
  bool canRetry = error.canRetry;
  bool canDefault = error.canDefault;
  bool canSubstitute = error.canSubstitute;
  // A copy: the handler may install another one while it runs.
  Value handler = state.handler;
  Value record(std::make_shared<const Error>(std::move(error)));
  Value result;
  {
    RunningHandler running;
    result = handler.AsBlock()->Evaluate(std::span<const Value>(&record, 1));
  }
  if (canSubstitute) return Recovery{false, std::move(result)};
  if (result.IsLogical() && result.Logical() && canRetry) return Recovery{true, Value()};
  if (result.IsLogical() && !result.Logical() && canDefault) return Recovery{false, Value()};
  FailUnrecoverably(kRecoveryFailure);
}

Value RaiseArgumentError(int subCode, const char* operation) {
  Error error;
  error.genCode = kArgumentError;
  error.subCode = subCode;
  error.subSystem = "BASE";
  error.operation = operation;
  error.canSubstitute = true;
  return Raise(std::move(error)).substitute;
}

Value ERRORBLOCK(const Value& handler, Here caller) {
  Activation self("ERRORBLOCK", caller);
  Value previous = S().handler;
  if (handler.IsBlock()) S().handler = handler;
  return previous;
}

void QUIT(Here caller) {
  Activation self("__QUIT", caller);
  S().quitRequested = true;
  throw QuitSignal{};
}

bool QuitRequested() { return S().quitRequested; }

}  // namespace rt
