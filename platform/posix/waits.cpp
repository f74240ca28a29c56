#include "platform/posix/waits.h"

#include <poll.h>
#include <signal.h>
#include <time.h>

#include <algorithm>

namespace plat::posix {

namespace {

constexpr int kStopSignals[] = {SIGTERM, SIGINT, SIGHUP};

volatile sig_atomic_t caught = 0;

void NoteStop(int signal) {
  if (caught == 0) caught = signal;
}

sigset_t StopSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  for (int signal : kStopSignals) sigaddset(&signals, signal);
  return signals;
}

uint64_t NowMs() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1000 + static_cast<uint64_t>(now.tv_nsec) / 1000000;
}

}  // namespace

void CatchStopSignals() {
  struct sigaction action = {};
  action.sa_handler = NoteStop;
  action.sa_flags = SA_RESTART;  // other calls go on; the pauses end by themselves
  sigemptyset(&action.sa_mask);
  for (int signal : kStopSignals) sigaction(signal, &action, nullptr);
}

StopRequest CaughtStop() {
  switch (caught) {
    case SIGTERM: return {SIGTERM, "SIGTERM"};
    case SIGINT: return {SIGINT, "SIGINT"};
    case SIGHUP: return {SIGHUP, "SIGHUP"};
    default: return {};
  }
}

void Pause(int fd, uint32_t milliseconds) {
  sigset_t stops = StopSignals(), unblocked;
  sigprocmask(SIG_BLOCK, &stops, &unblocked);
  if (caught == 0) {
    pollfd watched = {fd, POLLIN, 0};
    timespec limit = {static_cast<time_t>(milliseconds / 1000),
                      static_cast<long>(milliseconds % 1000) * 1000000};
    ppoll(fd >= 0 ? &watched : nullptr, fd >= 0 ? 1 : 0, &limit, &unblocked);
  }
  sigprocmask(SIG_SETMASK, &unblocked, nullptr);
}

Deadline::Deadline(uint32_t milliseconds) : end_(NowMs() + milliseconds) {}

uint32_t Deadline::Left() const {
  uint64_t now = NowMs();
  return now >= end_ ? 0 : static_cast<uint32_t>(std::min<uint64_t>(end_ - now, UINT32_MAX));
}

}  // namespace plat::posix
