// Stop requests and the pauses they end. Once the program catches them, a
// SIGTERM, SIGINT or SIGHUP is only noted (the handler sets a flag and does
// nothing else), and every pause of this layer ends as soon as one has come,
// so that the program can notice it and end in order.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace plat::posix {

// Installs the handlers; from then on the three signals no longer end the program.
void CatchStopSignals();

// The first stop signal caught; its signal is 0 while none has come.
StopRequest CaughtStop();

// Waits until `fd` (-1: none) becomes readable, a stop signal is caught or
// `milliseconds` pass, whichever comes first. A signal that comes just before
// the wait begins ends it as well: the signals are blocked from the test of
// the flag until the wait unblocks them.
void Pause(int fd, uint32_t milliseconds);

// Milliseconds left until a point on the monotonic clock.
class Deadline {
 public:
  explicit Deadline(uint32_t milliseconds);
  uint32_t Left() const;

 private:
  uint64_t end_;
};

}  // namespace plat::posix
