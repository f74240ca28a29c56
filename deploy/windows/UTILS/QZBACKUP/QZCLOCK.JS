// Prints the local date, time and weekday for QZTASK.BAT in one form,
// whatever the regional settings: QZCLOCK yyyymmdd-hhmmss DAY. cmd's %DATE%
// and %TIME% follow each account's regional format, and wmic, which gave the
// time in one form, is missing from recent Windows 11; Windows Script Host,
// which runs this file (cscript), is part of every supported Windows.
var now = new Date();
var days = ["SUNDAY", "MONDAY", "TUESDAY", "WEDNESDAY", "THURSDAY", "FRIDAY", "SATURDAY"];
function two(n) { return ("0" + n).slice(-2); }
WScript.Echo("QZCLOCK " + now.getFullYear() + two(now.getMonth() + 1) + two(now.getDate()) +
             "-" + two(now.getHours()) + two(now.getMinutes()) + two(now.getSeconds()) + " " +
             days[now.getDay()]);
