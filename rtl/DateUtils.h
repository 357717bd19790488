#pragma once
// Date and time as the actions know it: a TDateTime counts days since 1899-12-30, its fraction
// is the time of day, and it holds local time unless a function says otherwise. Before
// 1899-12-30 the day part is negative and the fraction still counts forward from midnight
// (-1.25 is 1899-12-29 06:00). Conversions work on whole milliseconds.
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace rtl {

using TDateTime = double;

// TDateTime of 1970-01-01 00:00.
inline constexpr TDateTime UnixDateDelta = 25569.0;

TDateTime Now();
TDateTime Date();
TDateTime Time();

bool IsLeapYear(int year);
int DaysInAMonth(int year, int month);

// Encoders throw rtl::Exception for out-of-range fields; the Try forms return false instead.
bool TryEncodeDate(int year, int month, int day, TDateTime& result);
TDateTime EncodeDate(int year, int month, int day);
bool TryEncodeTime(int hour, int min, int sec, int msec, TDateTime& result);
TDateTime EncodeTime(int hour, int min, int sec, int msec = 0);
TDateTime EncodeDateTime(int year, int month, int day, int hour, int min, int sec, int msec = 0);

void DecodeDate(TDateTime dt, int& year, int& month, int& day);
void DecodeTime(TDateTime dt, int& hour, int& min, int& sec, int& msec);
void DecodeDateTime(TDateTime dt, int& year, int& month, int& day, int& hour, int& min, int& sec, int& msec);
// 1 = Sunday ... 7 = Saturday.
int DayOfWeek(TDateTime dt);

// Seconds since 1970-01-01 with no time zone applied: the TDateTime is taken as it is.
std::int64_t DateTimeToUnix(TDateTime dt);
TDateTime UnixToDateTime(std::int64_t seconds);
// Conversions through the system time zone (TZ), daylight saving included.
TDateTime LocalToUTC(TDateTime local);
TDateTime UTCToLocal(TDateTime utc);

// Local time of a file time; FileAge is the local modification time of a path, -1 if absent.
TDateTime FileTimeToDateTime(std::filesystem::file_time_type ft);
TDateTime FileAge(const std::string& path);

// Whole units between two moments, never negative.
std::int64_t MilliSecondsBetween(TDateTime a, TDateTime b);
std::int64_t SecondsBetween(TDateTime a, TDateTime b);

TDateTime IncMilliSecond(TDateTime dt, std::int64_t n = 1);
TDateTime IncSecond(TDateTime dt, std::int64_t n = 1);
TDateTime IncMinute(TDateTime dt, std::int64_t n = 1);
TDateTime IncHour(TDateTime dt, std::int64_t n = 1);
TDateTime IncDay(TDateTime dt, std::int64_t n = 1);

// Pattern letters (any case): yyyy yy, m mm (month; minutes right after an h/hh), mmm mmmm
// (English month names), d dd, ddd dddd (English day names), ddddd (yyyy-mm-dd), h hh, n nn,
// s ss, z zzz, t (hh:nn), tt (hh:nn:ss), c (date, and time unless midnight), am/pm a/p ampm
// (switch hours to 12-hour clock). Text in '...' or "..." and any other character is copied.
std::string FormatDateTime(std::string_view pattern, TDateTime dt);
// "yyyy-mm-dd hh:nn:ss".
std::string DateTimeToStr(TDateTime dt);

// Milliseconds from a monotonic clock, for measuring intervals.
std::uint64_t GetTickCount64();

}  // namespace rtl
