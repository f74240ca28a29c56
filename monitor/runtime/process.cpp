#include "monitor/runtime/process.h"

#include <cmath>

namespace rt {

namespace {

constexpr int kShowNormal = 1;
constexpr int32_t kFileNotFound = 2;

Value StartCommand(const Value& command, int show) {
  if (!command.IsText()) return kFileNotFound;
  return static_cast<int32_t>(Os().processes.CommandStart(command.Text(), show));
}

}  // namespace

Value WINEXEC(const Value& command, Here caller) {
  Activation self("WINEXEC", caller);
  return StartCommand(command, kShowNormal);
}

Value WINEXEC(const Value& command, const Value& show, Here caller) {
  Activation self("WINEXEC", caller);
  return StartCommand(command, ToInt32(show));
}

void YIELDCPU(const Value& milliseconds, Here caller) {
  Activation self("YIELDCPU", caller);
  double count = std::trunc(milliseconds.AsDouble());
  if (!(count > 0)) return;
  // 0xFFFFFFFF would be an endless sleep on Windows; a longer count sleeps
  // for the longest finite pause instead.
  Os().clock.Sleep(count >= 4294967294.0 ? 0xFFFFFFFEu : static_cast<uint32_t>(count));
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
