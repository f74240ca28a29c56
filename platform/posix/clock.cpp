#include <time.h>

#include <cerrno>
#include <vector>

#include "platform/calendar.h"
#include "platform/platform.h"
#include "platform/posix/error.h"
#include "platform/posix/facets.h"
#include "platform/posix/filetime.h"
#include "platform/posix/waits.h"

namespace plat::posix {

namespace {

CalendarTime FromTm(const tm& parts, int milliseconds) {
  return {parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday, parts.tm_wday,
          parts.tm_hour,        parts.tm_min,     parts.tm_sec,  milliseconds};
}

int64_t FloorDiv(int64_t a, int64_t b) { return a >= 0 ? a / b : (a - b + 1) / b; }

// The local time of UTC seconds is those seconds plus the zone's offset, and
// the offset changes only at the zone's transitions. Asking the C library
// costs far more than the calendar arithmetic, and a listing converts a time
// per entry, so the offset of each UTC day is remembered once both ends of the
// day have shown the same offset (no zone changes twice within a day). A day
// with a transition is converted by the C library, second by second. The
// days of 22 years fit the table before two of them share a slot.
class DayOffsets {
 public:
  bool ToLocal(int64_t seconds, CalendarTime& local, int milliseconds) {
    int64_t day = FloorDiv(seconds, 86400);
    if (slots_.empty()) slots_.resize(kSlots);
    Slot& slot = slots_[static_cast<uint64_t>(day) % kSlots];
    if (!slot.known || slot.day != day) {
      slot.known = false;
      long start = 0, end = 0;
      if (!OffsetAt(day * 86400, start) || !OffsetAt(day * 86400 + 86399, end) || start != end) {
        return Convert(seconds, local, milliseconds);
      }
      slot = {day, start, true};
    }
    int64_t shifted = seconds + slot.offset;
    int64_t localDay = FloorDiv(shifted, 86400);
    int secondOfDay = static_cast<int>(shifted - localDay * 86400);
    int64_t year = 0;
    CivilFromDays(localDay, year, local.month, local.day);
    local.year = static_cast<int>(year);
    // 1 January 1970 was a Thursday (4).
    local.dayOfWeek = static_cast<int>(localDay + 4 - FloorDiv(localDay + 4, 7) * 7);
    local.hour = secondOfDay / 3600;
    local.minute = secondOfDay / 60 % 60;
    local.second = secondOfDay % 60;
    local.milliseconds = milliseconds;
    return true;
  }

 private:
  static constexpr size_t kSlots = 8192;
  struct Slot {
    int64_t day = 0;
    long offset = 0;
    bool known = false;
  };

  static bool OffsetAt(int64_t seconds, long& offset) {
    time_t at = static_cast<time_t>(seconds);
    tm parts;
    if (!localtime_r(&at, &parts)) return false;
    offset = parts.tm_gmtoff;
    return true;
  }

  static bool Convert(int64_t seconds, CalendarTime& local, int milliseconds) {
    time_t at = static_cast<time_t>(seconds);
    tm parts;
    if (!localtime_r(&at, &parts)) return Fail(kErrorInvalidParameter);
    local = FromTm(parts, milliseconds);
    return true;
  }

  std::vector<Slot> slots_;
};

class PosixClock : public Clock {
 public:
  uint32_t TickCount() override {
    timespec now;
    clock_gettime(CLOCK_BOOTTIME, &now);
    uint64_t milliseconds = static_cast<uint64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
    return static_cast<uint32_t>(milliseconds);
  }

  // A caught stop request ends the sleep early.
  void Sleep(uint32_t milliseconds) override {
    Deadline deadline(milliseconds);
    for (uint32_t left = milliseconds; left > 0 && CaughtStop().signal == 0; left = deadline.Left()) {
      Pause(-1, left);
    }
  }

  CalendarTime UtcNow() override { return Now(false); }
  CalendarTime LocalNow() override { return Now(true); }

  bool ToLocalTime(FileTime time, CalendarTime& local) override {
    // Windows refuses times with the top bit set.
    if (time >= 0x8000000000000000ull) return Fail(kErrorInvalidParameter);
    thread_local DayOffsets offsets;
    return offsets.ToLocal(UnixSecondsFromFileTime(time), local,
                           static_cast<int>(time % 10000000 / 10000));
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
