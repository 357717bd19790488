#include "inet/IdFTPList.h"
#include "rtl/SysUtils.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>

namespace inet {
namespace {

// A line parser fills the item from the line, or returns false for a line it cannot read.
using TLineParser = bool (*)(std::string_view line, rtl::TDateTime now, TIdFTPListItem& item);

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

using rtl::SameText;

std::string_view SkipBlanks(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size() && IsBlank(s[i])) ++i;
  return s.substr(i);
}

struct TToken {
  std::string_view text;
  std::size_t end = 0;  // offset just past the token in its line
};

std::vector<TToken> Tokens(std::string_view line) {
  std::vector<TToken> tokens;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && IsBlank(line[i])) ++i;
    const std::size_t start = i;
    while (i < line.size() && !IsBlank(line[i])) ++i;
    if (i > start) tokens.push_back({line.substr(start, i - start), i});
  }
  return tokens;
}

// A whole token of decimal digits (no sign), within the type's range.
template <typename T>
bool Number(std::string_view s, T& value) {
  if (s.empty() || s.front() < '0' || s.front() > '9') return false;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
  return ec == std::errc() && end == s.data() + s.size();
}

// A number of exactly `digits` digits at the start of s.
bool FixedNumber(std::string_view s, std::size_t digits, int& value) {
  return s.size() >= digits && Number(s.substr(0, digits), value);
}

int MonthOf(std::string_view s) {
  static constexpr std::array<std::string_view, 12> k_months = {"jan", "feb", "mar", "apr", "may", "jun",
                                                                "jul", "aug", "sep", "oct", "nov", "dec"};
  if (s.size() != 3) return 0;
  for (std::size_t i = 0; i < k_months.size(); ++i) {
    if (SameText(s, k_months[i])) return static_cast<int>(i) + 1;
  }
  return 0;
}

bool DayOf(std::string_view s, int& day) {
  return s.size() <= 2 && Number(s, day) && day >= 1 && day <= 31;
}

bool YearOf(std::string_view s, int& year) {
  return s.size() == 4 && Number(s, year) && year >= 1;
}

struct TClock {
  int hour = 0;
  int minute = 0;
  int second = 0;
  bool hasSeconds = false;
};

// "h:mm", "hh:mm" or "hh:mm:ss" on a 24-hour clock.
bool ClockOf(std::string_view s, TClock& clock) {
  const auto colon = s.find(':');
  if (colon == std::string_view::npos || colon == 0 || colon > 2) return false;
  const std::string_view rest = s.substr(colon + 1);
  if (!Number(s.substr(0, colon), clock.hour) || clock.hour > 23) return false;
  if (rest.size() == 2) {
    clock.hasSeconds = false;
    clock.second = 0;
    return Number(rest, clock.minute) && clock.minute <= 59;
  }
  clock.hasSeconds = true;
  return rest.size() == 5 && rest[2] == ':' && Number(rest.substr(0, 2), clock.minute) &&
         clock.minute <= 59 && Number(rest.substr(3), clock.second) && clock.second <= 59;
}

bool MakeDate(int year, int month, int day, const TClock& clock, rtl::TDateTime& result) {
  rtl::TDateTime unused = 0;
  if (!rtl::TryEncodeDate(year, month, day, unused) ||
      !rtl::TryEncodeTime(clock.hour, clock.minute, clock.second, 0, unused))
    return false;
  result = rtl::EncodeDateTime(year, month, day, clock.hour, clock.minute, clock.second);
  return true;
}

// "ls" leaves out the year for the last six months: the latest such date not after now (a day
// of slack for servers whose clock or zone runs ahead).
bool MakeRecentDate(int month, int day, const TClock& clock, rtl::TDateTime now, rtl::TDateTime& result) {
  int year = 0, nowMonth = 0, nowDay = 0;
  rtl::DecodeDate(now, year, nowMonth, nowDay);
  if (MakeDate(year, month, day, clock, result) && result <= now + 1) return true;
  return MakeDate(year - 1, month, day, clock, result);  // also 29 February of a leap year
}

// Unix "ls -l" as most servers send it. vsftpd, busybox:
//   drwxr-xr-x    2 0        0            4096 Dec 10 13:10 sub
//   lrwxrwxrwx    1 999      995            21 Dec 10 13:11 link -> file with  spaces.txt
// proftpd:
//   -rw-rw-r--   1 quillon-ftp quillon-ftp   123456 Feb 29  2020 old.bin
//   -rw-rw-r--   1 quillon-ftp quillon-ftp        0 Sep  1 08:00 recent.txt
// pyftpdlib:
//   prw-r--r--   1 root     root            0 Dec 10 13:11 fifo
// GNU ls and busybox give devices as major, minor:
//   crw-rw-rw-    1 0        0          1,   3 Jan  1 00:00 null
// Some servers leave out the group, or the link count and owner (NcFTPd):
//   -rw-r--r--   1 ftp           1234 Jan  5  2023 no group.txt
//   drwxr-xr-x               folder        2 May 10  1996 network
// Rarer dates: day first, seconds and year (ls -lT), ISO:
//   -rw-r--r--   1 user  group   42 10 Dec 13:10 day first
//   -rw-r--r--   1 user  group   42 Dec 10 13:10:05 2020 bsd
//   -rw-r--r--   1 user  group   42 2020-12-10 13:10 iso
// A "total 12" line comes first; the caller skips it.

bool PermissionsOf(std::string_view s, TIdDirItemType& type) {
  // Type, nine mode letters, and an ACL or extended-attribute mark on some systems.
  if (s.size() != 10 && !(s.size() == 11 && (s[10] == '+' || s[10] == '@' || s[10] == '.'))) return false;
  switch (s[0]) {
    case '-':
      type = TIdDirItemType::ditFile;
      break;
    case 'd':
      type = TIdDirItemType::ditDirectory;
      break;
    case 'l':
      type = TIdDirItemType::ditSymbolicLink;
      break;
    case 'b':
    case 'c':
    case 'p':
    case 's':
    case 'D':
      type = TIdDirItemType::ditOther;
      break;
    default:
      return false;
  }
  for (std::size_t i = 1; i < 10; ++i) {
    if (std::string_view("rwxsStTlL-").find(s[i]) == std::string_view::npos) return false;
  }
  return true;
}

// The date starting at token i; on success `last` is its final token.
bool UnixDateAt(const std::vector<TToken>& t, std::size_t i, rtl::TDateTime now, rtl::TDateTime& date,
                std::size_t& last) {
  const auto text = [&](std::size_t k) { return k < t.size() ? t[k].text : std::string_view(); };
  int month = 0, day = 0, year = 0;
  TClock clock;
  // "Dec 10" or "10 Dec", then "13:10", "2020" or "13:10:05 2020".
  if ((month = MonthOf(text(i))) != 0 && DayOf(text(i + 1), day)) {
  } else if (DayOf(text(i), day) && (month = MonthOf(text(i + 1))) != 0) {
  } else {
    // "2020-12-10 13:10"
    const std::string_view iso = text(i);
    if (iso.size() != 10 || iso[4] != '-' || iso[7] != '-' || !FixedNumber(iso, 4, year) ||
        !FixedNumber(iso.substr(5), 2, month) || !FixedNumber(iso.substr(8), 2, day) ||
        !ClockOf(text(i + 1), clock))
      return false;
    last = i + 1;
    return MakeDate(year, month, day, clock, date);
  }
  const std::string_view when = text(i + 2);
  if (YearOf(when, year)) {
    last = i + 2;
    return MakeDate(year, month, day, clock, date);
  }
  if (!ClockOf(when, clock)) return false;
  if (clock.hasSeconds && YearOf(text(i + 3), year)) {
    last = i + 3;
    return MakeDate(year, month, day, clock, date);
  }
  last = i + 2;
  return MakeRecentDate(month, day, clock, now, date);
}

// "1,   3" or "1,3" right before token i.
bool DeviceNumbersBefore(const std::vector<TToken>& t, std::size_t i) {
  int major = 0, minor = 0;
  const std::string_view before = t[i - 1].text;
  const auto comma = before.find(',');
  if (comma != std::string_view::npos)
    return Number(before.substr(0, comma), major) && Number(before.substr(comma + 1), minor);
  const std::string_view first = i >= 3 ? t[i - 2].text : std::string_view();
  return first.size() > 1 && first.back() == ',' && Number(first.substr(0, first.size() - 1), major) &&
         Number(before, minor);
}

bool ParseUnixLine(std::string_view line, rtl::TDateTime now, TIdFTPListItem& item) {
  const std::vector<TToken> t = Tokens(line);
  if (t.size() < 4 || !PermissionsOf(t[0].text, item.ItemType)) return false;
  // The size stands right before the date, so the date can be found whatever the columns
  // between the permissions and the size are.
  for (std::size_t i = 2; i + 1 < t.size(); ++i) {
    std::int64_t size = -1;
    const bool device = item.ItemType == TIdDirItemType::ditOther && DeviceNumbersBefore(t, i);
    if (!device && !Number(t[i - 1].text, size)) continue;
    rtl::TDateTime date = 0;
    std::size_t last = 0;
    if (!UnixDateAt(t, i, now, date, last)) continue;
    if (last + 1 >= t.size()) return false;  // no name
    std::string_view name = SkipBlanks(line.substr(t[last].end));
    if (item.ItemType == TIdDirItemType::ditSymbolicLink) {
      // "name -> target"; a line starting with the arrow has no name.
      const auto arrow = name.substr(0, 3) == "-> " ? 0 : name.find(" -> ");
      if (arrow != std::string_view::npos) {
        item.LinkTarget = std::string(name.substr(arrow + (arrow == 0 ? 3 : 4)));
        name = name.substr(0, arrow);
      }
    }
    if (name.empty()) return false;
    item.FileName = std::string(name);
    item.Size = device ? -1 : size;
    item.ModifiedDate = date;
    return true;
  }
  return false;
}

// Windows servers (IIS) with a 12- or 24-hour clock and two- or four-digit years:
//   12-31-20  11:59PM       <DIR>          name
//   01-02-2021  08:00AM                 1234 name with spaces.txt
//   01-02-21  14:30                     1234 name
//   2021-01-02  14:30       <DIR>          iso dir
//   07/04/2019  09:15 PM    <SYMLINKD>     link [target]

// "mm-dd-yy", "mm-dd-yyyy" or "yyyy-mm-dd", with "-" or "/".
bool WindowsDateOf(std::string_view s, int& year, int& month, int& day) {
  std::array<std::string_view, 3> parts;
  std::size_t n = 0;
  for (std::size_t start = 0;;) {
    const auto sep = s.find_first_of("-/", start);
    if (n == parts.size()) return false;
    parts[n++] = s.substr(start, sep == std::string_view::npos ? std::string_view::npos : sep - start);
    if (sep == std::string_view::npos) break;
    start = sep + 1;
  }
  if (n != 3) return false;
  if (parts[0].size() == 4) {
    return Number(parts[0], year) && parts[1].size() == 2 && Number(parts[1], month) &&
           parts[2].size() == 2 && Number(parts[2], day);
  }
  if (parts[0].size() != 2 || parts[1].size() != 2 || !Number(parts[0], month) || !Number(parts[1], day))
    return false;
  if (parts[2].size() == 2 && Number(parts[2], year)) {
    year += year < 70 ? 2000 : 1900;
    return true;
  }
  return parts[2].size() == 4 && Number(parts[2], year);
}

bool ParseWindowsLine(std::string_view line, rtl::TDateTime, TIdFTPListItem& item) {
  const std::vector<TToken> t = Tokens(line);
  if (t.size() < 4) return false;
  int year = 0, month = 0, day = 0;
  if (!WindowsDateOf(t[0].text, year, month, day)) return false;
  // The time, with AM/PM attached or as a token of its own.
  std::string_view time = t[1].text;
  std::string_view half;
  std::size_t next = 2;
  if (time.size() > 2 &&
      (SameText(time.substr(time.size() - 2), "AM") || SameText(time.substr(time.size() - 2), "PM"))) {
    half = time.substr(time.size() - 2);
    time.remove_suffix(2);
  } else if (SameText(t[2].text, "AM") || SameText(t[2].text, "PM")) {
    half = t[2].text;
    next = 3;
  }
  TClock clock;
  if (!ClockOf(time, clock)) return false;
  if (!half.empty()) {
    if (clock.hour < 1 || clock.hour > 12) return false;
    clock.hour = clock.hour % 12 + (SameText(half.substr(0, 1), "p") ? 12 : 0);
  }
  if (next + 1 >= t.size()) return false;
  const std::string_view kind = t[next].text;
  std::int64_t size = -1;
  if (SameText(kind, "<DIR>")) {
    item.ItemType = TIdDirItemType::ditDirectory;
  } else if (SameText(kind, "<SYMLINK>") || SameText(kind, "<SYMLINKD>") || SameText(kind, "<JUNCTION>")) {
    item.ItemType = TIdDirItemType::ditSymbolicLink;
  } else if (Number(kind, size)) {
    item.ItemType = TIdDirItemType::ditFile;
  } else {
    return false;
  }
  rtl::TDateTime date = 0;
  if (!MakeDate(year, month, day, clock, date)) return false;
  std::string_view name = SkipBlanks(line.substr(t[next].end));
  if (item.ItemType == TIdDirItemType::ditSymbolicLink && name.size() > 1 && name.back() == ']') {
    const auto open = name.rfind(" [");
    if (open != std::string_view::npos) {
      item.LinkTarget = std::string(name.substr(open + 2, name.size() - open - 3));
      name = name.substr(0, open);
    }
  }
  if (name.empty()) return false;
  item.FileName = std::string(name);
  item.Size = size;
  item.ModifiedDate = date;
  return true;
}

// MLSD (RFC 3659): facts, one blank, the name. pyftpdlib:
//   modify=20261210131149;perm=eldfmMTcp;size=4096;type=dir;unique=fe00ga7269b; my dir
//   modify=20261210131149;perm=radfwMT;size=6;type=file;unique=fe00ga726b2; file with  spaces.txt
// proftpd (the directory itself, its parent, links):
//   modify=20261210131151;perm=flcdmpe;type=cdir;unique=FE00UA7232C;UNIX.mode=0775; .
//   modify=20261210131151;perm=flcdmpe;type=pdir;unique=FE00UA7232C;UNIX.mode=0775; ..
//   modify=20261210131151;perm=adfrw;size=21;type=OS.unix=symlink;UNIX.mode=0777; link
// Others name the link target, give fractions of seconds or write fact names in capitals:
//   Type=OS.unix=slink:/etc/motd;Modify=20240101120000.123;Size=12; motd
// "modify" is UTC and is kept as written, like every date a listing shows: the client turns
// them all into local time in one place.

bool MlsdTimeOf(std::string_view s, rtl::TDateTime& result) {
  int year = 0, month = 0, day = 0;
  TClock clock;
  if (s.size() < 14 || !FixedNumber(s, 4, year) || !FixedNumber(s.substr(4), 2, month) ||
      !FixedNumber(s.substr(6), 2, day) || !FixedNumber(s.substr(8), 2, clock.hour) ||
      !FixedNumber(s.substr(10), 2, clock.minute) || !FixedNumber(s.substr(12), 2, clock.second))
    return false;
  int fraction = 0;
  const std::string_view rest = s.substr(14);
  if (!rest.empty() && (rest[0] != '.' || rest.size() < 2 || !Number(rest.substr(1, 3), fraction)))
    return false;
  return MakeDate(year, month, day, clock, result);
}

// "OS.unix=symlink", "OS.unix=slink" or "OS.unix=slink:target".
bool IsMlsdLink(std::string_view type) {
  const auto eq = type.find('=');
  if (eq == std::string_view::npos || !SameText(type.substr(0, 3), "OS.")) return false;
  std::string_view kind = type.substr(eq + 1);
  kind = kind.substr(0, kind.find(':'));
  return SameText(kind, "symlink") || SameText(kind, "slink");
}

bool ParseMlsdLine(std::string_view line, rtl::TDateTime, TIdFTPListItem& item) {
  if (!line.empty() && line[0] == ' ') line.remove_prefix(1);  // MLST's form
  const auto blank = line.find(' ');
  if (blank == std::string_view::npos || blank == 0) return false;
  const std::string_view name = line.substr(blank + 1);
  if (name.empty()) return false;
  item.FileName = std::string(name);
  item.ItemType = TIdDirItemType::ditOther;
  bool typed = false;
  const bool wellFormed = ForEachMlsdFact(line, [&](std::string_view key, std::string_view value) {
    if (SameText(key, "type")) {
      typed = true;
      if (SameText(value, "file")) {
        item.ItemType = TIdDirItemType::ditFile;
      } else if (SameText(value, "dir")) {
        item.ItemType = TIdDirItemType::ditDirectory;
      } else if (SameText(value, "cdir") || SameText(value, "pdir")) {
        item.ItemType = TIdDirItemType::ditDirectory;
        item.FileName = SameText(value, "cdir") ? "." : "..";
      } else if (IsMlsdLink(value)) {
        item.ItemType = TIdDirItemType::ditSymbolicLink;
        const auto colon = value.find(':');
        if (colon != std::string_view::npos) item.LinkTarget = std::string(value.substr(colon + 1));
      } else {
        item.ItemType = TIdDirItemType::ditOther;
      }
    } else if (SameText(key, "size") || SameText(key, "sizd")) {
      std::int64_t size = -1;
      if (Number(value, size)) item.Size = size;
    } else if (SameText(key, "modify")) {
      rtl::TDateTime date = 0;
      if (MlsdTimeOf(value, date)) item.ModifiedDate = date;
    }
  });
  if (!wellFormed) return false;
  // Without a type fact the entry is taken for a file, the common case of terse servers.
  if (!typed) item.ItemType = TIdDirItemType::ditFile;
  return true;
}

// Lines no style counts against: blank ones and "ls"'s "total N".
bool Ignorable(std::string_view line) {
  line = SkipBlanks(line);
  if (line.empty()) return true;
  std::int64_t blocks = 0;
  return line.substr(0, 6) == "total " && Number(SkipBlanks(line.substr(6)), blocks);
}

std::string_view WithoutCR(const std::string& line) {
  std::string_view s = line;
  if (!s.empty() && s.back() == '\r') s.remove_suffix(1);
  return s;
}

struct TStyleParser {
  TIdListingStyle style;
  TLineParser parse;
};

}  // namespace

TIdFTPListItems ParseListing(const std::vector<std::string>& lines, bool mlsd, rtl::TDateTime now,
                             TIdListingStyle* style) {
  static constexpr std::array<TStyleParser, 2> k_list_styles = {{
      {TIdListingStyle::Unix, ParseUnixLine},
      {TIdListingStyle::Windows, ParseWindowsLine},
  }};
  static constexpr std::array<TStyleParser, 1> k_mlsd_styles = {{{TIdListingStyle::MLSD, ParseMlsdLine}}};
  const auto candidates =
      mlsd ? std::span<const TStyleParser>(k_mlsd_styles) : std::span<const TStyleParser>(k_list_styles);
  // A clock outside years 1 to 9999 cannot date anything; it is not worth a crash either.
  if (!std::isfinite(now) || now < -693593.0 || now > 2958465.0) now = 0;

  // Every style reads the whole listing; the first with the fewest unreadable lines wins. A
  // style is dropped as soon as it fails as many lines as the best one so far.
  TIdFTPListItems best;
  TIdListingStyle bestStyle = TIdListingStyle::Unknown;
  std::optional<std::size_t> bestFailures;
  for (const TStyleParser& candidate : candidates) {
    TIdFTPListItems items;
    std::size_t failures = 0;
    bool dropped = false;
    for (const std::string& line : lines) {
      const std::string_view text = WithoutCR(line);
      if (Ignorable(text)) continue;
      TIdFTPListItem item;
      if (candidate.parse(text, now, item)) {
        item.Data = line;
        items.Add(std::move(item));
      } else if (++failures >= bestFailures.value_or(SIZE_MAX)) {
        dropped = true;
        break;
      }
    }
    if (!dropped) {
      bestFailures = failures;
      best = std::move(items);
      bestStyle = candidate.style;
    }
    if (failures == 0) break;
  }
  if (style) *style = best.Count() > 0 ? bestStyle : TIdListingStyle::Unknown;
  return best;
}

bool ForEachMlsdFact(std::string_view line,
                     const std::function<void(std::string_view, std::string_view)>& fact) {
  if (!line.empty() && line[0] == ' ') line.remove_prefix(1);  // MLST's form
  std::string_view facts = line.substr(0, line.find(' '));
  while (!facts.empty()) {
    const auto semi = facts.find(';');
    const std::string_view one = facts.substr(0, semi);
    facts = semi == std::string_view::npos ? std::string_view() : facts.substr(semi + 1);
    if (one.empty()) continue;
    const auto eq = one.find('=');
    if (eq == std::string_view::npos || eq == 0) return false;
    fact(one.substr(0, eq), one.substr(eq + 1));
  }
  return true;
}

std::string MlsdFact(std::string_view line, std::string_view name) {
  std::string value;
  ForEachMlsdFact(line, [&](std::string_view key, std::string_view v) {
    if (value.empty() && SameText(key, name)) value = std::string(v);
  });
  return value;
}

double ListingDateRange(const TIdFTPListItem& item) {
  constexpr double second = 1.0 / 86400.0;
  if (item.ModifiedDate == 0) return 0;
  if (!MlsdFact(item.Data, "modify").empty()) return second;
  // A listing that shows no time of day (only the year) gives midnight of the day as the server
  // wrote it (UTC), whatever it is here after the shift to local time: a range of a day.
  const rtl::TDateTime shown = rtl::LocalToUTC(item.ModifiedDate);
  const double timeOfDay = shown - std::floor(shown);
  if (std::abs(timeOfDay) < second / 2 || std::abs(timeOfDay - 1) < second / 2) return 1.0;
  return 60 * second;
}

}  // namespace inet
