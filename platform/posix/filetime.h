// FILETIME arithmetic: 100-nanosecond intervals since 1601-01-01 UTC.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace plat::posix {

// Seconds from 1601-01-01 to 1970-01-01.
constexpr int64_t kUnixEpochInFileTimeSeconds = 11644473600;

// The FILETIME of a POSIX time; 0 for times before 1601.
constexpr FileTime FileTimeFromUnix(int64_t seconds, int64_t nanoseconds) {
  int64_t since1601 = seconds + kUnixEpochInFileTimeSeconds;
  if (since1601 < 0) return 0;
  return static_cast<FileTime>(since1601) * 10000000u + static_cast<FileTime>(nanoseconds / 100);
}

// The POSIX seconds of a FILETIME (rounded down).
constexpr int64_t UnixSecondsFromFileTime(FileTime time) {
  return static_cast<int64_t>(time / 10000000u) - kUnixEpochInFileTimeSeconds;
}

}  // namespace plat::posix
