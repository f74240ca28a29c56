#include "monitor/runtime/process.h"

#include <cmath>

namespace rt {

namespace {

constexpr int kShowNormal = 1;
constexpr int32_t kFileNotFound = 2;

// Starts a command line; with `kept`, the started program is kept there.
Value StartCommand(const Value& command, int show, std::shared_ptr<plat::Process>* kept = nullptr) {
  if (!command.IsText()) return kFileNotFound;
  plat::Processes& processes = Os().processes;
  return static_cast<int32_t>(kept ? processes.CommandStartKept(command.Text(), show, *kept)
                                   : processes.CommandStart(command.Text(), show));
}

// A pause's length as YIELDCPU takes it: a whole number of milliseconds, 0
// for anything that is not a positive number, and never the endless 0xFFFFFFFF.
uint32_t PauseLength(const Value& milliseconds) {
  double count = std::trunc(milliseconds.AsDouble());
  if (!(count > 0)) return 0;
  return count >= 4294967294.0 ? 0xFFFFFFFEu : static_cast<uint32_t>(count);
}

}  // namespace

bool StartedProgram::Ended(uint32_t& exitCode) const {
  return process_ && process_->Ended(exitCode);
}

void StartedProgram::Wait(const Value& milliseconds, Here caller) {
  Activation self("YIELDCPU", caller);
  uint32_t count = PauseLength(milliseconds);
  if (count == 0) return;
  uint32_t exitCode = 0;
  if (process_ && !process_->Ended(exitCode)) {
    process_->Wait(count);
  } else {
    Os().clock.Sleep(count);
  }
}

Value WINEXEC(const Value& command, Here caller) {
  Activation self("WINEXEC", caller);
  return StartCommand(command, kShowNormal);
}

Value WINEXEC(const Value& command, const Value& show, Here caller) {
  Activation self("WINEXEC", caller);
  return StartCommand(command, ToInt32(show));
}

Value WINEXEC(const Value& command, const Value& show, StartedProgram& started, Here caller) {
  Activation self("WINEXEC", caller);
  return StartCommand(command, ToInt32(show), &started.process_);
}

void YIELDCPU(const Value& milliseconds, Here caller) {
  Activation self("YIELDCPU", caller);
  uint32_t count = PauseLength(milliseconds);
  if (count > 0) Os().clock.Sleep(count);
}

Value GETTICKCOUNT(Here caller) {
  Activation self("GETTICKCOUNT", caller);
  return static_cast<int32_t>(Os().clock.TickCount());
}

void COLLECTGARBAGE(Here caller) {
  // Values own their elements and cannot form cycles, so whatever becomes
  // unreachable is released at once: there is never anything to collect.
  Activation self("COLLECTGARBAGE", caller);
}

}  // namespace rt
