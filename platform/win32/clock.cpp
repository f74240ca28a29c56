// The system clock and the Windows time conversions.
#include <windows.h>

#include "platform/win32/win32.h"

namespace plat::win32 {
namespace {

CalendarTime ToCalendarTime(const SYSTEMTIME& time) {
  CalendarTime calendar;
  calendar.year = time.wYear;
  calendar.month = time.wMonth;
  calendar.day = time.wDay;
  calendar.dayOfWeek = time.wDayOfWeek;
  calendar.hour = time.wHour;
  calendar.minute = time.wMinute;
  calendar.second = time.wSecond;
  calendar.milliseconds = time.wMilliseconds;
  return calendar;
}

FILETIME ToFiletime(FileTime time) {
  FILETIME split;
  split.dwLowDateTime = static_cast<DWORD>(time);
  split.dwHighDateTime = static_cast<DWORD>(time >> 32);
  return split;
}

}  // namespace

uint32_t SystemClock::TickCount() { return ::GetTickCount(); }

void SystemClock::Sleep(uint32_t milliseconds) { ::Sleep(milliseconds); }

CalendarTime SystemClock::UtcNow() {
  SYSTEMTIME now;
  ::GetSystemTime(&now);
  return ToCalendarTime(now);
}

CalendarTime SystemClock::LocalNow() {
  SYSTEMTIME now;
  ::GetLocalTime(&now);
  return ToCalendarTime(now);
}

bool SystemClock::ToLocalTime(FileTime time, CalendarTime& local) {
  FILETIME utc = ToFiletime(time), localTime;
  SYSTEMTIME calendar;
  if (!::FileTimeToLocalFileTime(&utc, &localTime)) return false;
  if (!::FileTimeToSystemTime(&localTime, &calendar)) return false;
  local = ToCalendarTime(calendar);
  return true;
}

bool SystemClock::ToDosDateTime(FileTime time, uint16_t& date, uint16_t& dosTime) {
  FILETIME split = ToFiletime(time);
  WORD fatDate = 0, fatTime = 0;
  if (!::FileTimeToDosDateTime(&split, &fatDate, &fatTime)) return false;
  date = fatDate;
  dosTime = fatTime;
  return true;
}

}  // namespace plat::win32
