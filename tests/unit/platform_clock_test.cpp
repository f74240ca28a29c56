// The clock: FAT date and time of a file time, local conversion, the tick count.
#include <cstdlib>
#include <ctime>
#include <string>
#include <thread>

#include "support/support.h"

namespace {

plat::Clock& Clock() { return plat::Native().clock; }

// The FILETIME of a UTC calendar time, from days since 1970.
plat::FileTime At(int64_t daysSince1970, int hour, int minute, int second, int milliseconds = 0) {
  int64_t seconds = daysSince1970 * 86400 + hour * 3600 + minute * 60 + second;
  return static_cast<plat::FileTime>((seconds + 11644473600) * 10000000 + milliseconds * 10000ll);
}

TEST(Clock, DosDateAndTimeCoverTheFatRange) {
  uint16_t date = 0, time = 0;
  ASSERT_TRUE(Clock().ToDosDateTime(At(3652, 0, 0, 0), date, time));  // 1980-01-01
  EXPECT_EQ(date, (0 << 9) | (1 << 5) | 1);
  EXPECT_EQ(time, 0);
  ASSERT_TRUE(Clock().ToDosDateTime(At(19782, 13, 45, 31, 999), date, time));  // 2024-02-29
  EXPECT_EQ(date, (44 << 9) | (2 << 5) | 29);
  EXPECT_EQ(time, (13 << 11) | (45 << 5) | 15);  // two-second units, rounded down
  ASSERT_TRUE(Clock().ToDosDateTime(At(50402, 23, 59, 59), date, time));  // 2107-12-31
  EXPECT_EQ(date, (127 << 9) | (12 << 5) | 31);
  EXPECT_EQ(time, (23 << 11) | (59 << 5) | 29);
}

TEST(Clock, DosDateAndTimeRefuseYearsOutsideTheFatRange) {
  if (support::RunningUnderWine()) GTEST_SKIP() << "wine converts years after 2107";
  uint16_t date = 0, time = 0;
  EXPECT_FALSE(Clock().ToDosDateTime(At(3651, 23, 59, 59), date, time));  // 1979-12-31
  EXPECT_FALSE(Clock().ToDosDateTime(At(50403, 0, 0, 0), date, time));   // 2108-01-01
  EXPECT_FALSE(Clock().ToDosDateTime(0, date, time));
}

TEST(Clock, LocalTimeOfAFileTimeMatchesTheLocalClock) {
  plat::CalendarTime before = Clock().LocalNow();
  plat::CalendarTime utc = Clock().UtcNow();
  EXPECT_GE(utc.year, 2024);
  EXPECT_GE(utc.dayOfWeek, 0);
  EXPECT_LE(utc.dayOfWeek, 6);
  // 2024-02-29 is a Thursday.
  plat::CalendarTime local;
  ASSERT_TRUE(Clock().ToLocalTime(At(19782, 12, 0, 0, 250), local));
  EXPECT_EQ(local.milliseconds, 250);
  EXPECT_EQ(local.minute % 15, 0);  // every time zone is a multiple of 15 minutes away
  EXPECT_FALSE(Clock().ToLocalTime(0x8000000000000000ull, local));
  EXPECT_GE(before.year, 2024);
}

#ifndef _WIN32
// The conversion remembers each day's offset from UTC: in zones with daylight
// saving, of half-hour offsets and of half-hour shifts it must still give the
// C library's answer for every second, also around the transitions.
TEST(Clock, LocalTimeAgreesWithTheCLibraryAcrossTransitions) {
  const char* saved = std::getenv("TZ");
  std::string previous = saved ? saved : "";
  for (const char* zone : {"Europe/Berlin", "America/St_Johns", "Australia/Lord_Howe"}) {
    setenv("TZ", zone, 1);
    tzset();
    std::thread([zone] {  // a new thread: a fresh conversion, made in this zone
      int mismatches = 0;
      for (int64_t seconds = 1698000000; seconds < 1698000000 + 2 * 31536000 && mismatches < 5;
           seconds += 1799) {
        for (int64_t near : {seconds, seconds - seconds % 3600 - 1, seconds - seconds % 3600}) {
          time_t at = static_cast<time_t>(near);
          tm expected;
          localtime_r(&at, &expected);
          plat::CalendarTime local;
          ASSERT_TRUE(Clock().ToLocalTime(static_cast<plat::FileTime>(near + 11644473600) * 10000000, local));
          bool same = local.year == expected.tm_year + 1900 && local.month == expected.tm_mon + 1 &&
                      local.day == expected.tm_mday && local.hour == expected.tm_hour &&
                      local.minute == expected.tm_min && local.second == expected.tm_sec &&
                      local.dayOfWeek == expected.tm_wday;
          if (!same) ++mismatches;
          EXPECT_TRUE(same) << zone << " at " << near;
        }
      }
    }).join();
  }
  if (saved) {
    setenv("TZ", previous.c_str(), 1);
  } else {
    unsetenv("TZ");
  }
  tzset();
}
#endif

TEST(Clock, TickCountMovesWithSleep) {
  uint32_t start = Clock().TickCount();
  Clock().Sleep(50);
  uint32_t elapsed = Clock().TickCount() - start;
#ifdef _WIN32
  EXPECT_GE(elapsed, 50u - 16u);  // Windows' tick moves in steps of about 16 ms
#else
  EXPECT_GE(elapsed, 50u);
#endif
  EXPECT_LT(elapsed, 2000u);
}

}  // namespace
