#include "rtl/DateUtils.h"

#include <chrono>
#include <cmath>
#include <ctime>
#include <system_error>

#include "rtl/Exception.h"
#include "rtl/SysUtils.h"

namespace rtl {

namespace {

constexpr std::int64_t kMsPerDay = 86400000;
constexpr std::int64_t kUnixDeltaMs = 25569 * kMsPerDay;

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
  std::int64_t q = a / b;
  return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

// Milliseconds since 1899-12-30 00:00 on a linear time scale (see the note on negative dates).
std::int64_t ToMs(TDateTime dt) {
  std::int64_t t = std::llround(dt * static_cast<double>(kMsPerDay));
  std::int64_t days = t / kMsPerDay;
  std::int64_t time = t % kMsPerDay;
  return days * kMsPerDay + (time < 0 ? -time : time);
}

TDateTime FromMs(std::int64_t ms) {
  std::int64_t days = FloorDiv(ms, kMsPerDay);
  double frac = static_cast<double>(ms - days * kMsPerDay) / static_cast<double>(kMsPerDay);
  return days >= 0 ? static_cast<double>(days) + frac : static_cast<double>(days) - frac;
}

// Days since 1970-01-01 of a proleptic Gregorian date, and back.
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void CivilFromDays(std::int64_t z, int& year, int& month, int& day) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(static_cast<std::int64_t>(yoe) + era * 400 + (month <= 2));
}

std::int64_t LocalOffsetMs(std::int64_t unixMs) {
  std::time_t secs = static_cast<std::time_t>(FloorDiv(unixMs, 1000));
  std::tm tm{};
  localtime_r(&secs, &tm);
  return static_cast<std::int64_t>(tm.tm_gmtoff) * 1000;
}

TDateTime LocalFromUnixMs(std::int64_t unixMs) {
  return FromMs(unixMs + LocalOffsetMs(unixMs) + kUnixDeltaMs);
}

}  // namespace

TDateTime Now() {
  auto since = std::chrono::system_clock::now().time_since_epoch();
  return LocalFromUnixMs(std::chrono::floor<std::chrono::milliseconds>(since).count());
}

TDateTime Date() {
  return std::floor(Now());
}

TDateTime Time() {
  TDateTime now = Now();
  return now - std::floor(now);
}

bool IsLeapYear(int year) {
  return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

int DaysInAMonth(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 0;
  return kDays[month - 1] + (month == 2 && IsLeapYear(year) ? 1 : 0);
}

bool TryEncodeDate(int year, int month, int day, TDateTime& result) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 || day > DaysInAMonth(year, month))
    return false;
  result = static_cast<double>(DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) +
                               static_cast<std::int64_t>(UnixDateDelta));
  return true;
}

TDateTime EncodeDate(int year, int month, int day) {
  TDateTime r = 0;
  if (!TryEncodeDate(year, month, day, r)) throw Exception("Invalid argument to date encode");
  return r;
}

bool TryEncodeTime(int hour, int min, int sec, int msec, TDateTime& result) {
  if (hour < 0 || hour > 23 || min < 0 || min > 59 || sec < 0 || sec > 59 || msec < 0 || msec > 999)
    return false;
  result = static_cast<double>(((hour * 60 + min) * 60 + sec) * 1000 + msec) / static_cast<double>(kMsPerDay);
  return true;
}

TDateTime EncodeTime(int hour, int min, int sec, int msec) {
  TDateTime r = 0;
  if (!TryEncodeTime(hour, min, sec, msec, r)) throw Exception("Invalid argument to time encode");
  return r;
}

TDateTime EncodeDateTime(int year, int month, int day, int hour, int min, int sec, int msec) {
  auto days = static_cast<std::int64_t>(EncodeDate(year, month, day));
  EncodeTime(hour, min, sec, msec);  // validates
  return FromMs(days * kMsPerDay + ((hour * 60 + min) * 60 + sec) * 1000 + msec);
}

void DecodeDateTime(TDateTime dt, int& year, int& month, int& day, int& hour, int& min, int& sec, int& msec) {
  std::int64_t ms = ToMs(dt);
  std::int64_t days = FloorDiv(ms, kMsPerDay);
  auto time = static_cast<int>(ms - days * kMsPerDay);
  CivilFromDays(days - static_cast<std::int64_t>(UnixDateDelta), year, month, day);
  msec = time % 1000;
  time /= 1000;
  sec = time % 60;
  time /= 60;
  min = time % 60;
  hour = time / 60;
}

void DecodeDate(TDateTime dt, int& year, int& month, int& day) {
  int h, n, s, z;
  DecodeDateTime(dt, year, month, day, h, n, s, z);
}

void DecodeTime(TDateTime dt, int& hour, int& min, int& sec, int& msec) {
  int y, m, d;
  DecodeDateTime(dt, y, m, d, hour, min, sec, msec);
}

int DayOfWeek(TDateTime dt) {
  // Day 0, 1899-12-30, was a Saturday.
  std::int64_t days = FloorDiv(ToMs(dt), kMsPerDay);
  return static_cast<int>(((days + 6) % 7 + 7) % 7) + 1;
}

std::int64_t DateTimeToUnix(TDateTime dt) {
  return FloorDiv(ToMs(dt) - kUnixDeltaMs, 1000);
}

TDateTime UnixToDateTime(std::int64_t seconds) {
  return FromMs(seconds * 1000 + kUnixDeltaMs);
}

TDateTime LocalToUTC(TDateTime local) {
  int y, mo, d, h, mi, s, ms;
  DecodeDateTime(local, y, mo, d, h, mi, s, ms);
  std::tm tm{};
  tm.tm_year = y - 1900;
  tm.tm_mon = mo - 1;
  tm.tm_mday = d;
  tm.tm_hour = h;
  tm.tm_min = mi;
  tm.tm_sec = s;
  tm.tm_isdst = -1;
  std::time_t t = std::mktime(&tm);
  return FromMs(static_cast<std::int64_t>(t) * 1000 + ms + kUnixDeltaMs);
}

TDateTime UTCToLocal(TDateTime utc) {
  return LocalFromUnixMs(ToMs(utc) - kUnixDeltaMs);
}

TDateTime FileTimeToDateTime(std::filesystem::file_time_type ft) {
  auto sys = std::chrono::file_clock::to_sys(ft);
  return LocalFromUnixMs(std::chrono::floor<std::chrono::milliseconds>(sys.time_since_epoch()).count());
}

TDateTime FileAge(const std::string& path) {
  std::error_code ec;
  auto ft = std::filesystem::last_write_time(path, ec);
  return ec ? -1 : FileTimeToDateTime(ft);
}

std::int64_t MilliSecondsBetween(TDateTime a, TDateTime b) {
  std::int64_t d = ToMs(a) - ToMs(b);
  return d < 0 ? -d : d;
}

std::int64_t SecondsBetween(TDateTime a, TDateTime b) {
  return MilliSecondsBetween(a, b) / 1000;
}

TDateTime IncMilliSecond(TDateTime dt, std::int64_t n) {
  return FromMs(ToMs(dt) + n);
}
TDateTime IncSecond(TDateTime dt, std::int64_t n) {
  return FromMs(ToMs(dt) + n * 1000);
}
TDateTime IncMinute(TDateTime dt, std::int64_t n) {
  return FromMs(ToMs(dt) + n * 60000);
}
TDateTime IncHour(TDateTime dt, std::int64_t n) {
  return FromMs(ToMs(dt) + n * 3600000);
}
TDateTime IncDay(TDateTime dt, std::int64_t n) {
  return FromMs(ToMs(dt) + n * kMsPerDay);
}

// ---- FormatDateTime ----

namespace {

constexpr const char* kLongMonths[] = {"January", "February", "March",     "April",   "May",      "June",
                                       "July",    "August",   "September", "October", "November", "December"};
constexpr const char* kLongDays[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                     "Thursday", "Friday", "Saturday"};

char Upper(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool StartsNoCase(std::string_view s, std::size_t at, std::string_view what) {
  return at <= s.size() && StartsText(what, s.substr(at));
}

std::string Padded(int value, int width) {
  std::string s = std::to_string(value);
  if (static_cast<int>(s.size()) < width) s.insert(0, static_cast<std::size_t>(width) - s.size(), '0');
  return s;
}

// Length of the am/pm marker at `at`, or 0.
std::size_t AmPmLength(std::string_view p, std::size_t at) {
  if (StartsNoCase(p, at, "am/pm")) return 5;
  if (StartsNoCase(p, at, "ampm")) return 4;
  if (StartsNoCase(p, at, "a/p")) return 3;
  return 0;
}

bool HasAmPm(std::string_view p) {
  char quote = 0;
  for (std::size_t i = 0; i < p.size(); ++i) {
    if (quote) {
      if (p[i] == quote) quote = 0;
    } else if (p[i] == '\'' || p[i] == '"') {
      quote = p[i];
    } else if (AmPmLength(p, i) > 0) {
      return true;
    }
  }
  return false;
}

void Append(std::string& out, std::string_view pattern, TDateTime dt) {
  int year, month, day, hour, min, sec, msec;
  DecodeDateTime(dt, year, month, day, hour, min, sec, msec);
  const bool twelveHour = HasAmPm(pattern);
  char last = 0;  // the last letter token, for telling minutes from months
  std::size_t i = 0;
  while (i < pattern.size()) {
    const char c = pattern[i];
    char token = Upper(c);
    if (token >= 'A' && token <= 'Z') {
      if (token == 'M' && last == 'H') token = 'N';
      last = token;
    }
    std::size_t count = 1;
    if (token >= 'A' && token <= 'Z' && token != 'A')
      while (i + count < pattern.size() && Upper(pattern[i + count]) == Upper(c)) ++count;
    switch (token) {
      case 'Y':
        out += count <= 2 ? Padded(year % 100, 2) : Padded(year, 4);
        break;
      case 'M':
        if (count <= 2)
          out += Padded(month, static_cast<int>(count));
        else if (count == 3)
          out += std::string_view(kLongMonths[month - 1]).substr(0, 3);
        else
          out += kLongMonths[month - 1];
        break;
      case 'D': {
        const char* dayName = kLongDays[DayOfWeek(dt) - 1];
        if (count <= 2)
          out += Padded(day, static_cast<int>(count));
        else if (count == 3)
          out += std::string_view(dayName).substr(0, 3);
        else if (count == 4)
          out += dayName;
        else if (count == 5)
          Append(out, "yyyy-mm-dd", dt);
        else
          Append(out, "dddd, mmmm d, yyyy", dt);
        break;
      }
      case 'H': {
        int h = hour;
        if (twelveHour) {
          h %= 12;
          if (h == 0) h = 12;
        }
        out += Padded(h, count <= 1 ? 1 : 2);
        break;
      }
      case 'N':
        out += Padded(min, count <= 1 ? 1 : 2);
        break;
      case 'S':
        out += Padded(sec, count <= 1 ? 1 : 2);
        break;
      case 'Z':
        out += Padded(msec, count <= 2 ? 1 : 3);
        break;
      case 'T':
        Append(out, count == 1 ? "hh:nn" : "hh:nn:ss", dt);
        break;
      case 'C':
        Append(out, "yyyy-mm-dd", dt);
        if (hour != 0 || min != 0 || sec != 0 || msec != 0) Append(out, " hh:nn:ss", dt);
        break;
      case 'A': {
        std::size_t len = AmPmLength(pattern, i);
        bool pm = hour >= 12;
        if (len == 5)
          out += pattern.substr(i + (pm ? 3 : 0), 2);  // keeps the pattern's own letter case
        else if (len == 4)
          out += pm ? "PM" : "AM";
        else if (len == 3)
          out += pattern[i + (pm ? 2 : 0)];
        else
          out += c;
        count = len > 0 ? len : 1;
        break;
      }
      case '\'':
      case '"': {
        std::size_t close = pattern.find(c, i + 1);
        if (close == std::string_view::npos) close = pattern.size();
        out += pattern.substr(i + 1, close - i - 1);
        count = close - i + (close < pattern.size() ? 1 : 0);
        break;
      }
      default:
        out.append(pattern.substr(i, count));
        break;
    }
    i += count;
  }
}

}  // namespace

std::string FormatDateTime(std::string_view pattern, TDateTime dt) {
  std::string out;
  Append(out, pattern, dt);
  return out;
}

std::string DateTimeToStr(TDateTime dt) {
  return FormatDateTime("yyyy-mm-dd hh:nn:ss", dt);
}

std::uint64_t GetTickCount64() {
  auto since = std::chrono::steady_clock::now().time_since_epoch();
  return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(since).count());
}

}  // namespace rtl
