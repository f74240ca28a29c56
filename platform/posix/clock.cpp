#include <time.h>

#include <cerrno>

#include "platform/calendar.h"
#include "platform/platform.h"
#include "platform/posix/error.h"
#include "platform/posix/facets.h"
#include "platform/posix/filetime.h"

namespace plat::posix {

namespace {

CalendarTime FromTm(const tm& parts, int milliseconds) {
  return {parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday, parts.tm_wday,
          parts.tm_hour,        parts.tm_min,     parts.tm_sec,  milliseconds};
}

class PosixClock : public Clock {
 public:
  uint32_t TickCount() override {
    timespec now;
    clock_gettime(CLOCK_BOOTTIME, &now);
    uint64_t milliseconds = static_cast<uint64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
    return static_cast<uint32_t>(milliseconds);
  }

  void Sleep(uint32_t milliseconds) override {
    timespec rest = {static_cast<time_t>(milliseconds / 1000),
                     static_cast<long>(milliseconds % 1000) * 1000000};
    while (nanosleep(&rest, &rest) != 0 && errno == EINTR) {
    }
  }

  CalendarTime UtcNow() override { return Now(false); }
  CalendarTime LocalNow() override { return Now(true); }

  bool ToLocalTime(FileTime time, CalendarTime& local) override {
    // Windows refuses times with the top bit set.
    if (time >= 0x8000000000000000ull) return Fail(kErrorInvalidParameter);
    time_t seconds = static_cast<time_t>(UnixSecondsFromFileTime(time));
    tm parts;
    if (!localtime_r(&seconds, &parts)) return Fail(kErrorInvalidParameter);
    local = FromTm(parts, static_cast<int>(time % 10000000 / 10000));
    return true;
  }

  bool ToDosDateTime(FileTime time, uint16_t& date, uint16_t& dosTime) override {
    int64_t seconds = UnixSecondsFromFileTime(time);
    int64_t days = seconds >= 0 ? seconds / 86400 : (seconds - 86399) / 86400;
    int64_t secondOfDay = seconds - days * 86400;
    int64_t year = 0;
    int month = 0, day = 0;
    CivilFromDays(days, year, month, day);
    if (year < 1980 || year > 2107) return Fail(kErrorInvalidParameter);
    date = static_cast<uint16_t>((year - 1980) << 9 | month << 5 | day);
    int hour = static_cast<int>(secondOfDay / 3600), minute = static_cast<int>(secondOfDay / 60 % 60);
    int second = static_cast<int>(secondOfDay % 60);
    dosTime = static_cast<uint16_t>(hour << 11 | minute << 5 | second / 2);
    return true;
  }

 private:
  static CalendarTime Now(bool local) {
    timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    tm parts;
    if (local) {
      localtime_r(&now.tv_sec, &parts);
    } else {
      gmtime_r(&now.tv_sec, &parts);
    }
    return FromTm(parts, static_cast<int>(now.tv_nsec / 1000000));
  }
};

}  // namespace

Clock& NativeClock() {
  static PosixClock clock;
  return clock;
}

}  // namespace plat::posix
